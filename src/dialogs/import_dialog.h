// The list import dialog: file, category, column order and divider.
#pragma once

#include <optional>

#include <QDialog>

#include "exchange/list_import.h"

class QCheckBox;
class QLineEdit;
class QListWidget;

namespace zentaro {
class UserInterface;
}
namespace zentaro::db {
class Table;
class TableModel;
} // namespace zentaro::db

namespace zentaro::dialogs {

// The list import dialog: the file, the category new items get (the main window's current category), and for
// links the column order and the divider.
class TfmImport : public QDialog {
    Q_OBJECT
public:
    // GlobalCallMode 0 imports links (categories: tbCat2), 1 sites (categories: tbCat).
    TfmImport(int GlobalCallMode, db::Table& categories, UserInterface& ui, QString programDir,
              QWidget* parent = nullptr);

    // The choice after OK; none after Отмена or the frame.
    const std::optional<exchange::ImportChoice>& choice() const { return m_choice; }

    void bOKClick();
    void sbFOClick();
    void SpeedButton5Click();
    void SpeedButton6Click();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    UserInterface& m_ui;
    QString m_programDir;
    QLineEdit* m_eFN;
    QListWidget* m_lb = nullptr;
    QCheckBox* m_cbTab = nullptr;
    QLineEdit* m_eDiv = nullptr;
    bool m_links;
    std::optional<exchange::ImportChoice> m_choice;
};

} // namespace zentaro::dialogs
