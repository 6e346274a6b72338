#include <QApplication>
#include <QFont>

#include "app/main_form.h"
#include "app/widget_ui.h"
#include "db/base_files.h"
#include "db/database.h"
#include "db/session.h"
#include "util/regional.h"

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("zentaro"));
    zentaro::applyRegionalLocale();
    // The program's UI font; the desktop's font configuration stands in where Tahoma is not installed.
    QFont font = QApplication::font();
    font.setFamilies({QStringLiteral("Tahoma"), font.family()});
    QApplication::setFont(font);

    zentaro::app::WidgetUi ui;
    zentaro::db::Database db;
    zentaro::db::Session session(db, zentaro::db::dataFolder(zentaro::db::RDir(), QString()), ui);
    if (!session.acquireInstanceLock()) return 0; // another instance works on this data folder

    zentaro::app::TMainForm form(db, session, ui, zentaro::db::RDir());
    ui.setOwner(&form);
    form.FormCreate();
    form.show();
    return app.exec();
}
