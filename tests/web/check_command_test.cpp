#include <gtest/gtest.h>

#include <csignal>
#include <cstdio>

#include <QDir>
#include <QElapsedTimer>
#include <QTimer>
#include <QFileInfo>

#include "cli/check_command.h"
#include "db/base_files.h"
#include "db/database.h"
#include "db/record_rules.h"
#include "db/session.h"
#include "support/http_server.h"
#include "support/records.h"
#include "support/scripted_ui.h"
#include "support/temp_folder.h"

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
        test::HttpServer::Reply page;
        page.headers = {test::contentType("text/html; charset=utf-8")};
        page.body = "<a href=http://mine.example/>x</a> <a href=http://other.example/>y</a> end";
        server.on("/page", page);
        db::Database db;
        test::ScriptedUi ui;
        db::RecordRules rules(db, ui);
        test::addRecord(db.tbSite, {{"Site", "trust.ru"}});
        test::addRecord(db.tbProject, {{"Name", "Первый"}});
        for (const char* path : {"/page", "/page", "/gone"}) {
            test::addRecord(db.tbLink,
                            {{"PageURL", server.url(QString::fromLatin1(path))}, {"PageStatus", "0"}});
            test::addRecord(
                db.tbAncor,
                {{"URL", path == QByteArray("/gone") || links++ == 0 ? "mine.example" : "gone.example"}});
        }
        QDir().mkpath(base());
        ASSERT_TRUE(db::SaveBase(db, base()).ok);
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
                             "без ссылок: 0, nofollow или noindex: 0\n"));
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
