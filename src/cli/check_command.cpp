#include "cli/check_command.h"

#include <QCoreApplication>
#include <QPair>

#include "db/database.h"
#include "db/record_rules.h"
#include "db/session.h"
#include "util/termination.h"
#include "util/user_interface.h"
#include "web/batch_run.h"
#include "web/page_fetcher.h"

namespace zentaro::cli {

namespace {

// The progress line stays open until something else is printed.
bool g_lineOpen = false;

void print(FILE* f, const QString& text) {
    if (g_lineOpen) std::fputc('\n', f);
    g_lineOpen = false;
    std::fputs(text.toUtf8().constData(), f);
    std::fflush(f);
}

// No one at the window: messages go to the terminal, questions are answered No, captchas are given up.
class ConsoleUi final : public UserInterface {
public:
    explicit ConsoleUi(FILE* err) : m_err(err) {}
    void showMessage(const QString& text, const QString&) override {
        last = text;
        print(m_err, text + u'\n');
    }
    void showError(const QString& text, const QString&) override { print(m_err, text + u'\n'); }
    bool askYesNo(const QString&, const QString&) override { return false; }
    bool inputQuery(const QString&, const QString&, QString&) override { return false; }
    bool chooseOpenFile(const QString&, QString&) override { return false; }
    bool chooseFolder(const QString&, QString&) override { return false; }
    bool chooseSaveFile(const QString&, QString&) override { return false; }
    QString ShowCaptcha(const QString&, bool& cancelled) override {
        cancelled = true;
        return {};
    }
    QString last; // the last message shown

private:
    FILE* m_err;
};

// The progress as one line that updates in place.
class TerminalPanel final : public web::RunPanel {
public:
    explicit TerminalPanel(FILE* err) : m_err(err) {}
    void showRun(bool on) override {
        if (!on && g_lineOpen) print(m_err, QString());
    }
    void setProgress(int percent) override {
        if (percent == m_last) return;
        m_last = percent;
        std::fputs(QStringLiteral("\rПроверка: %1%").arg(percent).toUtf8().constData(), m_err);
        std::fflush(m_err);
        g_lineOpen = true;
    }
    void processEvents() override { QCoreApplication::processEvents(); }

private:
    FILE* m_err;
    int m_last = -1;
};

const QStringList kKinds = {QStringLiteral("links"), QStringLiteral("extlinks"),
                            QStringLiteral("extlinks-new"), QStringLiteral("metrics"),
                            QStringLiteral("metrics-new")};

} // namespace

QString checkUsage() {
    return QStringLiteral(
        "  --check links         проверить наличие ссылок на всех страницах\n"
        "  --check extlinks      подсчитать внешние ссылки на всех страницах\n"
        "  --check extlinks-new  то же для страниц без подсчета\n"
        "  --check metrics       обновить тИЦ и PR всех сайтов\n"
        "  --check metrics-new   то же для сайтов без тИЦ и PR\n"
        "  --project ИМЯ         только страницы проекта (links, extlinks)\n"
        "  --list                после итога перечислить страницы (сайты) по исходу проверки\n"
        "Проверка идет без окна; если программа открыта на тех же данных, она не начинается.\n"
        "Код выхода: 0 — проверка завершена, 1 — ошибка или прервана, 2 — неверные параметры,\n"
        "3 — данные заняты или не загружены.\n");
}

std::optional<CheckRequest> parseCheckArguments(const QStringList& args, QString* error) {
    if (!args.contains(QStringLiteral("--check"))) return std::nullopt;
    CheckRequest r;
    for (qsizetype i = 0; i < args.size(); ++i) {
        const QString& a = args[i];
        if (a == QLatin1String("--list")) {
            r.listPages = true;
        } else if ((a == QLatin1String("--check") || a == QLatin1String("--project")) &&
                   i + 1 < args.size()) {
            (a == QLatin1String("--check") ? r.kind : r.project) = args[++i];
        } else {
            *error = QStringLiteral("Неверный параметр: %1").arg(a);
            return r;
        }
    }
    if (!kKinds.contains(r.kind))
        *error = QStringLiteral("Неизвестная проверка: %1").arg(r.kind);
    else if (!r.project.isEmpty() && r.kind.startsWith(QLatin1String("metrics")))
        *error = QStringLiteral("--project относится к страницам, не к сайтам");
    return r;
}

int runCheckCommand(const CheckRequest& request, const QString& baseDir, FILE* out, FILE* err) {
    db::Database db;
    ConsoleUi ui(err);
    db::Session session(db, baseDir, ui);
    const bool locked = session.acquireInstanceLock();
    switch (session.lockState()) {
    case db::Session::LockState::Held:
        break;
    case db::Session::LockState::Busy:
        print(err, QStringLiteral("Данные заняты: программа открыта на папке %1\n").arg(baseDir));
        return kCheckDataBusy;
    case db::Session::LockState::ReadOnly:
        // The outcomes of a run could not be kept: it is not started.
        print(err, QStringLiteral("Папка базы данных %1 недоступна для записи: проверка не запущена\n")
                       .arg(baseDir));
        return kCheckFailed;
    case db::Session::LockState::Failed:
        print(err, session.lockError() + u'\n');
        return kCheckFailed;
    }
    if (!locked) return kCheckFailed;
    db::RecordRules rules(db, ui);
    session.start();
    if (db.BaseLoadError) {
        print(err, QStringLiteral("Базу данных в папке %1 загрузить не удалось\n").arg(baseDir));
        return kCheckDataBusy;
    }
    web::PageFetcher fetcher;
    web::applyFetchSettings(fetcher, db.tbSets);

    int project = 0;
    if (!request.project.isEmpty()) {
        const int row = db.tbProject.findRow(QStringLiteral("Name"), request.project);
        if (row < 0) {
            print(err, QStringLiteral("Нет проекта \"%1\"\n").arg(request.project));
            return kCheckUsage;
        }
        project = db.tbProject.rowValue(row, db.tbProject.fieldIndex(QStringLiteral("ID"))).toInt();
    }
    // The presence run walks the links as listed: all of them, or the project's.
    db.tbLink.setFilter(project ? QStringLiteral("ProjectID=%1").arg(project) : QString());
    db.tbLink.setFiltered(project != 0);

    // A signal stops the run after the record in hand; what was checked is kept.
    TerminationWatcher watcher;
    bool interrupted = false;
    QObject::connect(&watcher, &TerminationWatcher::terminationRequested, [&] {
        interrupted = true;
        db.isStop = true;
    });
    // The run's last message says whether it finished, stopped or failed.
    ConsoleUi& said = ui;
    TerminalPanel panel(err);
    web::RunTally tally;
    tally.keepPages = request.listPages;
    QString doneText;
    if (request.kind == QLatin1String("links")) {
        web::CheckAllPageLink(db, fetcher, said, panel, &tally);
        doneText = QStringLiteral("Проверка выполнена.");
    } else if (request.kind.startsWith(QLatin1String("extlinks"))) {
        web::CheckExtLinks(db, fetcher, said, panel, request.kind.endsWith(QLatin1String("-new")), &tally,
                           project);
        doneText = QStringLiteral("Обновление для всех выполнено.");
    } else {
        web::UpdateSitePRCY(db, fetcher, said, panel, request.kind.endsWith(QLatin1String("-new")) ? 1 : 0,
                            &tally);
        doneText = QStringLiteral("Обновление для всех выполнено.");
    }
    print(out, tally.text() + u'\n');
    if (request.listPages) print(out, tally.pagesText());
    QString closeError;
    const bool closed = session.close(&closeError);
    if (!closed) print(err, QStringLiteral("Не удалось сохранить изменения: %1\n").arg(closeError));
    return closed && !interrupted && said.last == doneText ? kCheckDone : kCheckFailed;
}

} // namespace zentaro::cli
