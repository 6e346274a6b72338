#include "app/main_form.h"

#include <QCloseEvent>
#include <QLabel>
#include <QTabWidget>

#include "db/database.h"
#include "db/session.h"
#include "util/user_interface.h"

namespace zentaro::app {

TMainForm::TMainForm(db::Database& db, db::Session& session, UserInterface& ui, QWidget* parent)
    : QMainWindow(parent), m_db(db), m_session(session), m_ui(ui) {
    setObjectName(QStringLiteral("MainForm"));
    setWindowTitle(kMainCaption);
    resize(1000, 700);
    m_pcMain = new QTabWidget(this);
    m_pcMain->setObjectName(QStringLiteral("pcMain"));
    setCentralWidget(m_pcMain);
}

void TMainForm::FormCreate() {
    m_session.start();
    m_pcMain->setCurrentIndex(0);
}

void TMainForm::closeEvent(QCloseEvent* event) {
    QString error;
    if (m_session.close(&error)) {
        event->accept();
        return;
    }
    m_ui.showError(error, QStringLiteral("Ошибка"));
    // The user may still leave, knowingly losing the unsaved changes; by default the window stays open.
    if (m_ui.askYesNo(QStringLiteral("Данные не сохранены. Выйти без сохранения?"), QStringLiteral("Ошибка")))
        event->accept();
    else
        event->ignore();
}

} // namespace zentaro::app
