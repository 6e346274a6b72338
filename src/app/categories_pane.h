// The category panes: link categories of the current project and trust-site categories.
#pragma once

#include <QObject>

#include "widgets/pane_kit.h"

namespace zentaro::app {

// The link categories of the current project (tsCat2) and the trust-site categories (tsCat1).
class CategoriesPane : public QObject {
    Q_OBJECT
public:
    CategoriesPane(const PaneContext& ctx, QWidget* linkCatPage, QWidget* siteCatPage);
    DataGrid* linkCatGrid() const { return m_cat2; }

private:
    DataGrid* m_cat2 = nullptr;
};

} // namespace zentaro::app
