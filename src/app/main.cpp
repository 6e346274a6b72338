// The program's entry: the command line, the single instance per data folder, the main window.
#include <cstdio>
#include <cstdlib>
#include <unistd.h>

#include <QApplication>
#include <QCoreApplication>
#include <QFont>
#include <QPointer>
#include <QSessionManager>
#include <QTimer>

#include "app/main_form.h"
#include "app/widget_ui.h"
#include "cli/check_command.h"
#include "db/base_files.h"
#include "db/database.h"
#include "db/reserve_copy.h"
#include "db/session.h"
#include "util/regional.h"
#include "util/termination.h"

namespace {

QPointer<zentaro::app::TMainForm> g_form;

// How long a closing by signal may take before the program stores what it can and exits.
constexpr int kClosingDeadlineMs = 10000;

// The display connection broke: the toolkit ends the process through exit(). Store what is still in hand
// and leave as a normal closing would.
void closeOnExit() {
    if (!g_form || g_form->closedForGood()) return;
    g_form->closeWithoutQuestions();
    ::_exit(0);
}

} // namespace

// Answers --version and --help and runs --check without opening a window; -1 when the window is to start.
int commandLine(int argc, char* argv[]) {
    QStringList args;
    for (int i = 1; i < argc; ++i)
        args << QString::fromLocal8Bit(argv[i]);
    switch (zentaro::cli::commandMode(args)) {
    case zentaro::cli::CommandMode::Window:
        return -1;
    case zentaro::cli::CommandMode::Version:
        std::printf("zentaro %s\n", ZENTARO_VERSION);
        return 0;
    case zentaro::cli::CommandMode::Check: {
        QCoreApplication core(argc, argv);
        QCoreApplication::setApplicationName(QStringLiteral("zentaro"));
        zentaro::applyRegionalLocale();
        QString usageError;
        const auto check = zentaro::cli::parseCheckArguments(args, &usageError);
        if (!usageError.isEmpty()) {
            std::fprintf(stderr, "%s\n", usageError.toUtf8().constData());
            return zentaro::cli::kCheckUsage;
        }
        return zentaro::cli::runCheckCommand(*check, zentaro::db::dataFolder(zentaro::db::RDir(), QString()),
                                             stdout, stderr);
    }
    case zentaro::cli::CommandMode::Help:
        break;
    }
    QCoreApplication core(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("zentaro"));
    const QString data = zentaro::db::dataFolder(zentaro::db::RDir(), QString());
    std::printf("%s", QStringLiteral(
                          "Zentaro %1 — учет внешних ссылок\n\n"
                          "Использование: zentaro [--help] [--version] [--check ВИД [--project ИМЯ] [--list] "
                          "[--format ФОРМАТ] [--notify]]\n\n"
                          "  --help                эта справка\n"
                          "  --version             версия программы\n"
                          "%4\n"
                          "Данные хранятся в папке: %2\n"
                          "Резервные копии: %3\n")
                          .arg(QString::fromLatin1(ZENTARO_VERSION), data, zentaro::db::copyRoot(data),
                               zentaro::cli::checkUsage())
                          .toUtf8()
                          .constData());
    return 0;
}

int main(int argc, char* argv[]) {
    if (const int done = commandLine(argc, argv); done >= 0) return done;
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("zentaro"));
    zentaro::applyRegionalLocale();
    // Qt's own dialogs and standard buttons in the program's language.
    zentaro::app::installQtTranslations();
    // The program's UI font; the desktop's font configuration stands in where Tahoma is not installed.
    QFont font = QApplication::font();
    font.setFamilies({QStringLiteral("Tahoma"), font.family()});
    QApplication::setFont(font);

    zentaro::app::WidgetUi ui;
    zentaro::db::Database db;
    zentaro::db::Session session(db, zentaro::db::dataFolder(zentaro::db::RDir(), QString()), ui);
    if (!session.acquireInstanceLock()) {
        // Another instance works on this data folder: it ends without a word.
        if (session.lockState() == zentaro::db::Session::LockState::Busy) return 0;
        ui.showError(session.lockError(), QStringLiteral("Ошибка"));
        return 1;
    }

    zentaro::app::TMainForm form(db, session, ui, zentaro::db::RDir());
    ui.setOwner(&form);
    form.FormCreate();
    form.show();

    // A signal or the end of the desktop session closes the program as the user would, without questions.
    zentaro::TerminationWatcher watcher;
    QObject::connect(&watcher, &zentaro::TerminationWatcher::terminationRequested, &form, [&form] {
        form.closeWithoutQuestions();
        // A closing that hangs (a stuck request, a dialog that would not go) stores what it can and ends.
        QTimer::singleShot(kClosingDeadlineMs, &form, [&form] {
            const bool stored = form.closedForGood() || form.storeAndLeave();
            std::fflush(stdout);
            ::_exit(stored ? 0 : 1);
        });
    });
    QObject::connect(&app, &QGuiApplication::commitDataRequest, &form,
                     [&form](QSessionManager&) { form.closeWithoutQuestions(); });
    // A closing without questions ends even when it could not write: nobody is there to answer, so it is said
    // on stderr and in the exit status.
    QObject::connect(&form, &zentaro::app::TMainForm::closed, &app, [&session] {
        if (session.closeError().isEmpty()) {
            QApplication::exit(0);
            return;
        }
        std::fprintf(stderr, "%s\n", session.closeError().toUtf8().constData());
        QApplication::exit(1);
    });
    g_form = &form;
    std::atexit(closeOnExit);
    return app.exec();
}
