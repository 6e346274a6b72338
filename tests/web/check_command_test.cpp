#include <gtest/gtest.h>

#include <csignal>
#include <cstdio>
#include <memory>

#include <QDir>
#include <QElapsedTimer>
#include <QTimer>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>

#include "cli/check_command.h"
#include "cli/check_report.h"
#include "db/base_files.h"
#include "db/database.h"
#include "db/record_rules.h"
#include "db/session.h"
#include "support/http_server.h"
#include "support/private_bus.h"
#include "support/records.h"
#include "support/scripted_ui.h"
#include "support/temp_folder.h"
#include "web/batch_run.h"

using namespace zentaro;

namespace {

// What a FILE* received.
QString readBack(FILE* f) {
    std::fflush(f);
    std::rewind(f);
    QByteArray bytes;
    char buffer[4096];
    for (size_t n; (n = std::fread(buffer, 1, sizeof buffer, f)) > 0;)
        bytes.append(buffer, qsizetype(n));
    return QString::fromUtf8(bytes);
}

class CheckCommand : public ::testing::Test {
protected:
    void SetUp() override {
        serve("<a href=http://mine.example/>x</a> <a href=http://other.example/>y</a> end");
        db::Database db;
        test::ScriptedUi ui;
        db::RecordRules rules(db, ui);
        test::addRecord(db.tbSite, {{"Site", "trust.ru"}});
        test::addRecord(db.tbProject, {{"Name", "Первый"}});
        for (const char* path : {"/page", "/page", "/gone"}) {
            test::addRecord(db.tbLink, {{"PageURL", server.url(QString::fromLatin1(path))},
                                        {"PageStatus", "0"},
                                        {"Price", links == 0 ? QVariant(4500.0) : QVariant()}});
            test::addRecord(
                db.tbAncor,
                {{"URL", path == QByteArray("/gone") || links++ == 0 ? "mine.example" : "gone.example"}});
        }
        QDir().mkpath(base());
        ASSERT_TRUE(db::SaveBase(db, base()).ok);
    }
    void serve(const QByteArray& body) {
        test::HttpServer::Reply page;
        page.headers = {test::contentType("text/html; charset=utf-8")};
        page.body = body;
        server.on("/page", page);
    }
    QString base() const { return dir.path() + "base/"; }
    int run(const QStringList& args) {
        out = std::tmpfile();
        err = std::tmpfile();
        QString error;
        const auto request = cli::parseCheckArguments(args, &error);
        const int status =
            error.isEmpty() ? cli::runCheckCommand(*request, base(), out, err) : cli::kCheckUsage;
        outText = readBack(out) + error;
        errText = readBack(err);
        std::fclose(out);
        std::fclose(err);
        return status;
    }
    QStringList statuses() {
        db::Database db;
        test::ScriptedUi ui;
        db::Session session(db, base(), ui);
        session.acquireInstanceLock();
        session.start();
        db.tbLink.setFiltered(false);
        QStringList out;
        for (int pos = 0; pos < db.tbLink.recordCount(); ++pos)
            out << db.tbLink.valueAt(pos, db.tbLink.fieldIndex("PageStatus")).toString();
        return out;
    }

    int links = 0;
    test::HttpServer server;
    test::TempFolder dir;
    FILE* out = nullptr;
    FILE* err = nullptr;
    QString outText, errText;
};

} // namespace

TEST_F(CheckCommand, ALinksRunStoresTheStatusesAndSumsThemUp) {
    EXPECT_EQ(run({"--check", "links"}), cli::kCheckDone);
    EXPECT_EQ(outText,
              QStringLiteral("Проверено страниц: 3, ссылки на месте: 1, пропали: 1, не загружено: 1, "
                             "без ссылок: 0, nofollow или noindex: 0\n"
                             "Страницы недоступны: 1\n")); // counted as the window's bar counts them
    EXPECT_TRUE(errText.contains(QStringLiteral("\rПроверка: 100%\n")));
    EXPECT_TRUE(errText.endsWith(QStringLiteral("Проверка выполнена.\n")));
    EXPECT_EQ(statuses(), (QStringList{"1", "2", "0"}));
    // The pages of each outcome, when asked; the history file beside the tables holds the run.
    EXPECT_EQ(run({"--check", "links", "--list"}), cli::kCheckDone);
    EXPECT_TRUE(outText.contains(QStringLiteral("Ссылки пропали:\n  ") + server.url("/page") +
                                 QStringLiteral("\nНе загружены:\n  ") + server.url("/gone") + u'\n'));
    EXPECT_TRUE(QFileInfo::exists(base() + "checks.adb"));
    // A project that is not there, and a project with its pages.
    EXPECT_EQ(run({"--check", "extlinks", "--project", "Нет такого"}), cli::kCheckUsage);
    EXPECT_EQ(run({"--check", "extlinks", "--project", "Первый"}), cli::kCheckDone);
    EXPECT_TRUE(outText.startsWith(QStringLiteral("Проверено страниц: 3, подсчитано: 2, не загружено: 1")));
}

TEST_F(CheckCommand, AnOpenWindowOnTheDataRefusesTheRun) {
    db::Database db;
    test::ScriptedUi ui;
    db::Session window(db, base(), ui);
    ASSERT_TRUE(window.acquireInstanceLock());
    EXPECT_EQ(run({"--check", "links"}), cli::kCheckDataBusy);
    EXPECT_TRUE(errText.startsWith(QStringLiteral("Данные заняты")));
    EXPECT_TRUE(outText.isEmpty());
}

TEST(CheckArguments, OnlyKnownChecksAndProjectsForPages) {
    const struct {
        QStringList args;
        bool request, ok;
    } cases[] = {
        {{}, false, false},
        {{"--version"}, false, false},
        {{"--check", "links"}, true, true},
        {{"--check", "metrics-new"}, true, true},
        {{"--check", "links", "--project", "П"}, true, true},
        {{"--check"}, true, false},
        {{"--check", "pages"}, true, false},
        {{"--check", "metrics", "--project", "П"}, true, false},
        {{"--check", "links", "--verbose"}, true, false},
        {{"--check=links"}, true, true},
        {{"--check=links", "--project=П", "--format=json", "--list", "--notify"}, true, true},
        {{"--check", "links", "--format", "csv"}, true, true},
        {{"--check", "links", "--format", "xml"}, true, false},
        {{"--check", "links", "--format"}, true, false},
        {{"--check", "links", "--check", "links"}, true, false},
        {{"--check=links", "--check", "metrics"}, true, false},
        {{"--check", "links", "--project", "А", "--project=Б"}, true, false},
        {{"--check", "links", "--list", "--list"}, true, false},
        {{"--check", "links", "--project", ""}, true, false},
        {{"--check", "links", "--project="}, true, false},
        {{"--check", "links", "--project", "  "}, true, false},
        {{"--check="}, true, false},
    };
    for (const auto& c : cases) {
        QString error;
        const auto r = cli::parseCheckArguments(c.args, &error);
        EXPECT_EQ(r.has_value(), c.request) << c.args.join(' ').toStdString();
        if (c.request) {
            EXPECT_EQ(error.isEmpty(), c.ok) << c.args.join(' ').toStdString();
        }
    }
}

TEST_F(CheckCommand, JsonAndCsvSayWhatTheTextSummarySays) {
    ASSERT_EQ(run({"--check", "links"}), cli::kCheckDone);
    QList<int> counts;
    for (const auto& m :
         QRegularExpression(QStringLiteral(": (\\d+)")).globalMatch(outText.section(u'\n', 0, 0)))
        counts << m.captured(1).toInt();
    ASSERT_EQ(counts.size(), 6);

    ASSERT_EQ(run({"--check=links", "--format=json", "--list"}), cli::kCheckDone);
    QJsonParseError error;
    const QJsonObject doc = QJsonDocument::fromJson(outText.toUtf8(), &error).object();
    ASSERT_EQ(error.error, QJsonParseError::NoError) << outText.toStdString();
    EXPECT_EQ(doc["check"].toString(), QStringLiteral("links"));
    EXPECT_EQ(doc["result"].toString(), QStringLiteral("finished"));
    const QJsonObject summary = doc["summary"].toObject();
    const char* keys[] = {"checked", "found", "missing", "notFetched", "noLinks", "nofollow"};
    for (int i = 0; i < 6; ++i)
        EXPECT_EQ(summary[keys[i]].toInt(-1), counts[i]) << keys[i];
    const QJsonArray pages = doc["pages"].toArray();
    ASSERT_EQ(pages.size(), 3);
    const struct {
        int id;
        const char* outcome;
        const char* path;
        QJsonValue price;
    } expected[] = {{1, "found", "/page", 4500},
                    {2, "missing", "/page", QJsonValue()},
                    {3, "not-fetched", "/gone", QJsonValue()}};
    for (int i = 0; i < 3; ++i) {
        const QJsonObject p = pages[i].toObject();
        EXPECT_EQ(p["id"].toInt(), expected[i].id);
        EXPECT_EQ(p["project"].toString(), QStringLiteral("Первый"));
        EXPECT_EQ(p["address"].toString(), server.url(QString::fromLatin1(expected[i].path)));
        EXPECT_EQ(p["outcome"].toString(), QString::fromLatin1(expected[i].outcome));
        EXPECT_FALSE(p["reason"].toString().isEmpty());
        EXPECT_TRUE(p["lostSince"].isNull());
        EXPECT_EQ(p["price"], expected[i].price);
        // The evidence behind a verdict; none for a page never read.
        const QJsonObject evidence = p["evidence"].toObject();
        EXPECT_EQ(p["evidence"].isNull(), i == 2);
        if (i < 2) {
            EXPECT_EQ(evidence["status"].toInt(), 200);
            const QJsonObject link = evidence["links"].toArray().at(0).toObject();
            EXPECT_EQ(link["found"].toBool(), i == 0);
            EXPECT_EQ(link["tag"].toString().startsWith("<a"), i == 0);
        }
        EXPECT_TRUE(p["changes"].toArray().isEmpty());
    }

    ASSERT_EQ(run({"--format", "csv", "--check", "links"}), cli::kCheckDone);
    EXPECT_EQ(outText,
              QStringLiteral("checked,found,missing,not_fetched,no_links,nofollow\r\n3,1,1,1,0,0\r\n"));
    ASSERT_EQ(run({"--check", "links", "--list", "--format", "csv"}), cli::kCheckDone);
    const QStringList rows = outText.split(QStringLiteral("\r\n"), Qt::SkipEmptyParts);
    ASSERT_EQ(rows.size(), 4);
    EXPECT_EQ(rows[0], QStringLiteral("id,project,address,outcome,reason,detail,lost_since,price"));
    EXPECT_TRUE(
        rows[1].startsWith(QStringLiteral("1,Первый,") + server.url("/page") + QStringLiteral(",found,")));
    EXPECT_TRUE(rows[1].endsWith(QStringLiteral(",,4500")));
}

// Texts of the records (a project named like a formula) go into the CSV list behind an apostrophe.
TEST(CheckCsv, FormulaCellsGetAnApostrophe) {
    web::RunTally tally;
    cli::CheckedPage page;
    page.id = 7;
    page.project = QStringLiteral("=HYPERLINK(\"http://e.vil\",\"x\")");
    page.address = QStringLiteral("http://a.ru/");
    page.outcome = QStringLiteral("found");
    page.detail = QStringLiteral("+1");
    page.price = -5;
    const std::vector<cli::CheckedPage> pages{page};
    const QStringList rows = QString::fromUtf8(cli::summaryCsv(tally, &pages)).split(QStringLiteral("\r\n"));
    ASSERT_GE(rows.size(), 2);
    EXPECT_EQ(rows[1], QStringLiteral(
                           "7,\"'=HYPERLINK(\"\"http://e.vil\"\",\"\"x\"\")\",http://a.ru/,found,,'+1,,-5"));
}

TEST_F(CheckCommand, AScheduledRunAgainstAnOpenWindowEndsQuietlyAndLeavesWordForIt) {
    db::Database db;
    test::ScriptedUi ui;
    db::Session window(db, base(), ui);
    ASSERT_TRUE(window.acquireInstanceLock());
    EXPECT_EQ(run({"--check", "links", "--notify"}), cli::kCheckDataBusy);
    EXPECT_EQ(errText, QString());
    EXPECT_EQ(outText, QString());
    EXPECT_TRUE(QFileInfo::exists(cli::skippedCheckFile(base())));
}

TEST_F(CheckCommand, ANotifiedRunTellsTheDesktopOnlyWhatItLost) {
    test::PrivateBus bus;
    if (bus.address.isEmpty()) GTEST_SKIP() << "dbus-daemon is not installed";
    const QByteArray saved = qgetenv("DBUS_SESSION_BUS_ADDRESS");
    const QByteArray found = "<a href=http://mine.example/>x</a> end";
    const QByteArray gone = "<a href=http://elsewhere.example/>x</a> end";

    // No session bus: the loss is not shown, the run still succeeds and says why on stderr.
    qunsetenv("DBUS_SESSION_BUS_ADDRESS");
    serve(found);
    ASSERT_EQ(run({"--check", "links"}), cli::kCheckDone);
    serve(gone);
    ASSERT_EQ(run({"--check", "links", "--notify"}), cli::kCheckDone);
    EXPECT_TRUE(errText.endsWith(QStringLiteral("Уведомление не показано: нет сеанса D-Bus\n")))
        << errText.toStdString();

    // With a notification service: one notification for the page lost in this run, none for what was
    // lost or unreachable before.
    test::NoticeService service(bus.address);
    qputenv("DBUS_SESSION_BUS_ADDRESS", bus.address.toUtf8());
    serve(found);
    ASSERT_EQ(run({"--check", "links", "--notify"}), cli::kCheckDone);
    EXPECT_TRUE(service.calls.isEmpty());
    serve(gone);
    ASSERT_EQ(run({"--check", "links", "--notify"}), cli::kCheckDone);
    ASSERT_EQ(service.calls.size(), 1);
    EXPECT_EQ(service.calls[0][4].toString(),
              QStringLiteral("Пропало ссылок: 1 (на сумму 4 500 ₽)"));
    ASSERT_EQ(run({"--check", "links", "--notify"}), cli::kCheckDone);
    EXPECT_EQ(service.calls.size(), 1);
    // Without --notify nothing is sent.
    serve(found);
    ASSERT_EQ(run({"--check", "links"}), cli::kCheckDone);
    serve(gone);
    ASSERT_EQ(run({"--check", "links"}), cli::kCheckDone);
    EXPECT_EQ(service.calls.size(), 1);
    if (saved.isEmpty())
        qunsetenv("DBUS_SESSION_BUS_ADDRESS");
    else
        qputenv("DBUS_SESSION_BUS_ADDRESS", saved);
}

// A base that does not load is a failed run (1), never "the window holds the data" (3), which the service
// counts as success: stderr names the file and why, the files stay as they were, and a scheduled run tells
// the desktop that the check did not run.
TEST_F(CheckCommand, ABaseThatDoesNotLoadFailsWithTheFileAndWhy) {
    test::PrivateBus bus;
    std::unique_ptr<test::NoticeService> service;
    const QByteArray saved = qgetenv("DBUS_SESSION_BUS_ADDRESS");
    if (!bus.address.isEmpty()) {
        service = std::make_unique<test::NoticeService>(bus.address);
        qputenv("DBUS_SESSION_BUS_ADDRESS", bus.address.toUtf8());
    }
    const QByteArray good = test::TempFolder::read(base() + "link.adb");
    struct Case {
        const char* what;
        QByteArray bytes;
        const char* why;
    };
    const Case cases[] = {
        {"cut", good.left(good.size() / 2), "Не удалось загрузить таблицу \"link.adb\""},
        {"not a table", QByteArray(4096, 'z'), "Не удалось загрузить таблицу \"link.adb\""},
    };
    int notices = 0;
    for (const Case& c : cases) {
        for (const bool notify : {false, true}) {
            SCOPED_TRACE(std::string(c.what) + (notify ? " --notify" : ""));
            test::TempFolder::write(base() + "link.adb", c.bytes);
            QStringList args{"--check", "links"};
            if (notify) args << "--notify";
            EXPECT_EQ(run(args), cli::kCheckFailed);
            EXPECT_TRUE(errText.contains(QStringLiteral("Проверка не запущена: базу данных в папке")))
                << errText.toStdString();
            EXPECT_TRUE(errText.contains(QString::fromUtf8(c.why))) << errText.toStdString();
            EXPECT_EQ(test::TempFolder::read(base() + "link.adb"), c.bytes);
            if (notify && service) {
                ASSERT_EQ(service->calls.size(), ++notices);
                EXPECT_TRUE(service->calls.back()[4].toString().startsWith(
                    QStringLiteral("Проверка не выполнена: базу данных в папке")));
            }
        }
    }
    if (service) {
        EXPECT_EQ(service->calls.size(), 2);
    }
    if (saved.isEmpty())
        qunsetenv("DBUS_SESSION_BUS_ADDRESS");
    else
        qputenv("DBUS_SESSION_BUS_ADDRESS", saved);
}

TEST(CheckArguments, HelpWinsThenVersionThenACheck) {
    const struct {
        QStringList args;
        cli::CommandMode mode;
    } cases[] = {
        {{}, cli::CommandMode::Window},
        {{"--project", "П"}, cli::CommandMode::Window},
        {{"--check=links"}, cli::CommandMode::Check},
        {{"--check", "links", "--help"}, cli::CommandMode::Help},
        {{"--help", "--check", "links"}, cli::CommandMode::Help},
        {{"--check", "links", "--check", "x", "-h"}, cli::CommandMode::Help},
        {{"--version", "--check", "links"}, cli::CommandMode::Version},
        {{"--checks"}, cli::CommandMode::Window},
    };
    for (const auto& c : cases)
        EXPECT_EQ(cli::commandMode(c.args), c.mode) << c.args.join(' ').toStdString();
    // One message for a repeated option.
    QString error;
    cli::parseCheckArguments({"--check", "links", "--check", "links"}, &error);
    EXPECT_EQ(error, QStringLiteral("Параметр --check указан дважды"));
}

TEST(CheckTexts, MoneyNoticeAndBarInRussian) {
    const struct {
        double amount;
        const char* text;
    } money[] = {{0, "0 ₽"},
                 {500, "500 ₽"},
                 {4500, "4 500 ₽"},
                 {1234567.5, "1 234 567,50 ₽"},
                 {999.99, "999,99 ₽"}};
    for (const auto& m : money)
        EXPECT_EQ(cli::moneyText(m.amount), QString::fromUtf8(m.text)) << m.amount;

    const QDate since(2026, 12, 5);
    const struct {
        cli::Losses losses;
        const char* notice;
        const char* bar;
    } cases[] = {
        {{3, 4500, 0},
         "Пропало ссылок: 3 (на сумму 4 500 ₽)",
         "С 05.12.2026 пропало 3 ссылки на 4 500 ₽"},
        {{1, 0, 0}, "Пропало ссылок: 1", "С 05.12.2026 пропала 1 ссылка"},
        {{11, 100, 0},
         "Пропало ссылок: 11 (на сумму 100 ₽)",
         "С 05.12.2026 пропало 11 ссылок на 100 ₽"},
        {{21, 0, 0}, "Пропало ссылок: 21", "С 05.12.2026 пропала 21 ссылка"},
        {{0, 0, 2}, "Страницы недоступны: 2", "С 05.12.2026 недоступны 2 страницы"},
        {{5, 0, 1},
         "Пропало ссылок: 5\nСтраницы недоступны: 1",
         "С 05.12.2026 пропало 5 ссылок, недоступна 1 страница"},
        {{0, 0, 0}, "", ""},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(cli::noticeText(c.losses), QString::fromUtf8(c.notice));
        EXPECT_EQ(cli::barText(c.losses, since), QString::fromUtf8(c.bar));
    }
}

TEST(CheckTexts, AnOverdueDailyCheckIsOfferedOnlyWhileTheTimerIsOn) {
    db::Database db; // no check history: only the daily check can be overdue
    const QDateTime now(QDate(2026, 12, 9), QTime(10, 0));
    const struct {
        bool timerOn;
        QDateTime lastRun;
        const char* text;
    } cases[] = {
        {false, QDateTime(), ""},
        {false, now.addDays(-10), ""},
        {true, now.addDays(-1), ""},
        {true, now.addDays(-2), ""},
        {true, now.addDays(-2).addSecs(-60), "Последняя автоматическая проверка была 07.12.2026"},
        {true, QDateTime(), "Автоматическая проверка еще не выполнялась"},
    };
    for (const auto& c : cases) {
        const cli::WatchNote note = cli::watchNote(db, now.addDays(-1), c.timerOn, c.lastRun, now);
        EXPECT_EQ(note.text, QString::fromUtf8(c.text));
        EXPECT_EQ(note.offerCheck, !note.text.isEmpty());
        EXPECT_FALSE(note.offerShow);
    }
}

TEST_F(CheckCommand, SigtermAbandonsTheRequestsInFlightAndReleasesTheData) {
    test::HttpServer::Reply stall;
    stall.stall = true;
    stall.body = "<a href=";
    server.on("/page", stall);
    QTimer::singleShot(300, [] { ::raise(SIGTERM); });
    QElapsedTimer clock;
    clock.start();
    EXPECT_EQ(run({"--check", "links"}), cli::kCheckFailed);
    EXPECT_LT(clock.elapsed(), 2000);
    // Nothing was taken from the pages in flight, and the data is free for the next run.
    {
        db::Database db;
        test::ScriptedUi ui;
        db::Session next(db, base(), ui);
        EXPECT_TRUE(next.acquireInstanceLock());
    }
    EXPECT_EQ(statuses(), (QStringList{"0", "0", "0"}));
}
