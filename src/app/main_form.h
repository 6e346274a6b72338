#pragma once

#include <QMainWindow>

namespace zentaro {
class UserInterface;
}
namespace zentaro::db {
class Database;
class Session;
} // namespace zentaro::db

class QTabWidget;

namespace zentaro::app {

inline const QString kMainCaption = QStringLiteral("Zentaro - учет внешних ссылок");

// The main window: composes the panes and runs the start and closing sequences of the session.
class TMainForm : public QMainWindow {
    Q_OBJECT
public:
    TMainForm(db::Database& db, db::Session& session, UserInterface& ui, QWidget* parent = nullptr);

    db::Database& database() { return m_db; }

    // Loads the tables; called once before the window is shown.
    void FormCreate();

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    db::Database& m_db;
    db::Session& m_session;
    UserInterface& m_ui;
    QTabWidget* m_pcMain = nullptr;
};

} // namespace zentaro::app
