// The accounts pane: the list of the user's accounts on the trust sites.
#pragma once

#include <QObject>

#include "widgets/pane_kit.h"

namespace zentaro::app {

// The accounts list (tsAccount of pcTrust).
class AccountsPane : public QObject {
    Q_OBJECT
public:
    AccountsPane(const PaneContext& ctx, QWidget* page);
    DataGrid* grid() const { return m_grid; }

private:
    DataGrid* m_grid = nullptr;
};

} // namespace zentaro::app
