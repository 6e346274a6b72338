#include "cli/check_command.h"

#include <algorithm>

#include <QCoreApplication>
#include <QPair>
#include <QSaveFile>
#include <QSet>

#include "db/database.h"
#include "db/record_rules.h"
#include "db/session.h"
#include "db/settings.h"
#include "util/desktop_notice.h"
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
class ConsoleUi final : public NoAnswerUi {
public:
    explicit ConsoleUi(FILE* err) : m_err(err) {}
    void showMessage(const QString& text, const QString&) override {
        last = text;
        print(m_err, text + u'\n');
    }
    void showError(const QString& text, const QString&) override { print(m_err, text + u'\n'); }
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
        "  --format ФОРМАТ       итог и список как text (по умолчанию), json или csv\n"
        "  --notify              уведомление на рабочем столе, если ссылки пропали или страницы недоступны\n"
        "Параметры со значением пишутся и так: --check=links, --project=ИМЯ.\n"
        "Проверка идет без окна; если программа открыта на тех же данных, она не начинается.\n"
        "Код выхода: 0 — проверка завершена, 1 — ошибка, проверка прервана или не запущена (база не\n"
        "загружена), 2 — неверные параметры, 3 — данные заняты открытой программой.\n");
}

namespace {

bool isOption(const QString& arg, QLatin1String name) {
    return arg == name || (arg.startsWith(name) && arg.size() > name.size() && arg[name.size()] == u'=');
}

} // namespace

CommandMode commandMode(const QStringList& args) {
    auto any = [&args](auto test) { return std::any_of(args.begin(), args.end(), test); };
    if (any([](const QString& a) { return a == QLatin1String("--help") || a == QLatin1String("-h"); }))
        return CommandMode::Help;
    if (any([](const QString& a) { return a == QLatin1String("--version") || a == QLatin1String("-v"); }))
        return CommandMode::Version;
    if (any([](const QString& a) { return isOption(a, QLatin1String("--check")); }))
        return CommandMode::Check;
    return CommandMode::Window;
}

std::optional<CheckRequest> parseCheckArguments(const QStringList& args, QString* error) {
    if (commandMode(args) != CommandMode::Check) return std::nullopt;
    CheckRequest r;
    QString format = QStringLiteral("text");
    QSet<QString> seen;
    auto fail = [&](const QString& text) {
        if (error->isEmpty()) *error = text;
    };
    for (qsizetype i = 0; i < args.size() && error->isEmpty(); ++i) {
        const QString& a = args[i];
        const QString name = a.section(u'=', 0, 0);
        if (seen.contains(name)) {
            fail(QStringLiteral("Параметр %1 указан дважды").arg(name));
            break;
        }
        seen.insert(name);
        if (a == QLatin1String("--list")) {
            r.listPages = true;
        } else if (a == QLatin1String("--notify")) {
            r.notify = true;
        } else if (name == QLatin1String("--check") || name == QLatin1String("--project") ||
                   name == QLatin1String("--format")) {
            QString value;
            if (a.contains(u'='))
                value = a.section(u'=', 1);
            else if (i + 1 < args.size())
                value = args[++i];
            else
                fail(QStringLiteral("Нет значения параметра %1").arg(name));
            (name == QLatin1String("--check")     ? r.kind
             : name == QLatin1String("--project") ? r.project
                                                  : format) = value;
        } else {
            fail(QStringLiteral("Неверный параметр: %1").arg(a));
        }
    }
    if (!error->isEmpty()) return r;
    if (!kKinds.contains(r.kind))
        fail(QStringLiteral("Неизвестная проверка: %1").arg(r.kind));
    else if (seen.contains(QStringLiteral("--project")) && r.project.trimmed().isEmpty())
        fail(QStringLiteral("Не указано имя проекта"));
    else if (!r.project.isEmpty() && r.kind.startsWith(QLatin1String("metrics")))
        fail(QStringLiteral("--project относится к страницам, не к сайтам"));
    else if (const auto f = formatNamed(format))
        r.format = *f;
    else
        fail(QStringLiteral("Неизвестный формат: %1 (text, json или csv)").arg(format));
    return r;
}

namespace {

// A run that could not start says so on stderr and, for a scheduled run, on the desktop: silence would read
// as a night without losses.
int notRun(const CheckRequest& request, const QString& why, FILE* err) {
    print(err, QStringLiteral("Проверка не запущена: %1\n").arg(why));
    if (request.notify) {
        QString failed;
        if (!showDesktopNotice(QStringLiteral("Zentaro: проверка ссылок"),
                               QStringLiteral("Проверка не выполнена: %1").arg(why), &failed))
            print(err, QStringLiteral("Уведомление не показано: %1\n").arg(failed));
    }
    return kCheckFailed;
}

} // namespace

int runCheckCommand(const CheckRequest& request, const QString& baseDir, FILE* out, FILE* err) {
    // The time zone is read once for the run: without TZ the C library looks at /etc/localtime again for
    // every local time the run stamps on an outcome.
    if (qEnvironmentVariableIsEmpty("TZ")) qputenv("TZ", ":/etc/localtime");
    db::Database db;
    ConsoleUi ui(err);
    db::Session session(db, baseDir, ui);
    const bool locked = session.acquireInstanceLock();
    switch (session.lockState()) {
    case db::Session::LockState::Held:
        break;
    case db::Session::LockState::Busy:
        // A scheduled run leaves the check to the open window, which offers it; nothing to print.
        if (request.notify) {
            QSaveFile mark(skippedCheckFile(baseDir));
            if (mark.open(QIODevice::WriteOnly)) {
                mark.write(QDateTime::currentDateTime().toString(Qt::ISODate).toUtf8());
                mark.commit();
            }
        } else {
            print(err, QStringLiteral("Данные заняты: программа открыта на папке %1\n").arg(baseDir));
        }
        return kCheckDataBusy;
    case db::Session::LockState::ReadOnly:
        // The outcomes of a run could not be kept: it is not started.
        return notRun(request, QStringLiteral("папка базы данных %1 недоступна для записи").arg(baseDir),
                      err);
    case db::Session::LockState::Failed:
        return notRun(request, session.lockError(), err);
    }
    if (!locked) return kCheckFailed;
    db::RecordRules rules(db, ui);
    session.start();
    // A base that did not load is a failure of its own (status 1), never "the window holds the data" (3),
    // which a scheduled run counts as success.
    if (db.BaseLoadError)
        return notRun(request,
                      QStringLiteral("базу данных в папке %1 загрузить не удалось. %2")
                          .arg(baseDir, db.baseLoadFailure),
                      err);
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
    const bool presence = request.kind == QLatin1String("links");
    // What was lost before, so that the notification tells only what this run found.
    const LossSnapshot before = presence ? snapshotLosses(db) : LossSnapshot();
    QDateTime started = QDateTime::currentDateTime();
    started.setTime(QTime(started.time().hour(), started.time().minute(), started.time().second()));
    // The run's last message says whether it finished, stopped or failed.
    ConsoleUi& said = ui;
    TerminalPanel panel(err);
    web::RunTally tally;
    tally.keepPages = request.listPages && request.format == OutputFormat::Text;
    QString doneText;
    db::CheckKind kind = db::CheckKind::Presence;
    if (presence) {
        web::CheckAllPageLink(db, fetcher, said, panel, &tally);
        doneText = QStringLiteral("Проверка выполнена.");
    } else if (request.kind.startsWith(QLatin1String("extlinks"))) {
        web::CheckExtLinks(db, fetcher, said, panel, request.kind.endsWith(QLatin1String("-new")), &tally,
                           project);
        doneText = QStringLiteral("Обновление для всех выполнено.");
        kind = db::CheckKind::ExtLinks;
    } else {
        web::UpdateSitePRCY(db, fetcher, said, panel, request.kind.endsWith(QLatin1String("-new")) ? 1 : 0,
                            &tally);
        doneText = QStringLiteral("Обновление для всех выполнено.");
        kind = db::CheckKind::Metrics;
    }
    const bool finished = !interrupted && said.last == doneText;
    // The summary says what the run lost (links found before, missing now) and could not read, with the
    // money, as the window's bar counts them.
    const Losses losses = presence ? lossesSince(db, started, &before) : Losses();
    std::vector<CheckedPage> pages;
    if (request.listPages && request.format != OutputFormat::Text)
        pages = checkedPages(db, kind, started, project);
    if (finished && presence)
        db::SetOption(db.tbSets, kLastCheckKey, QDateTime::currentDateTime().toString(Qt::ISODate), -1);

    QString closeError;
    const bool closed = session.close(&closeError);
    if (!closed) print(err, closeError + u'\n');
    const bool done = closed && finished;

    switch (request.format) {
    case OutputFormat::Text:
        print(out, tally.text() + u'\n');
        if (losses.any()) print(out, noticeText(losses) + u'\n');
        if (request.listPages) print(out, tally.pagesText());
        break;
    case OutputFormat::Json:
        print(out, QString::fromUtf8(summaryJson(request.kind,
                                                 done          ? QStringLiteral("finished")
                                                 : interrupted ? QStringLiteral("stopped")
                                                               : QStringLiteral("failed"),
                                                 tally, request.listPages ? &pages : nullptr)));
        break;
    case OutputFormat::Csv:
        print(out, QString::fromUtf8(summaryCsv(tally, request.listPages ? &pages : nullptr)));
        break;
    }
    if (request.notify && finished && losses.any()) {
        QString why;
        if (!showDesktopNotice(QStringLiteral("Zentaro: проверка ссылок"), noticeText(losses), &why))
            print(err, QStringLiteral("Уведомление не показано: %1\n").arg(why));
    }
    return done ? kCheckDone : kCheckFailed;
}

} // namespace zentaro::cli
