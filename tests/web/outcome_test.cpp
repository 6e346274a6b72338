#include <memory>
#include <random>

#include <gtest/gtest.h>

#include <QTcpServer>

#include "db/check_history.h"
#include "db/database.h"
#include "db/record_rules.h"
#include "db/sqlite_util.h"
#include "support/http_server.h"
#include "support/records.h"
#include "support/scripted_ui.h"
#include "support/temp_folder.h"
#include "web/batch_run.h"
#include "web/check_outcomes.h"
#include "web/link_presence.h"
#include "web/page_fetcher.h"
#include "web/url_forms.h"

using namespace zentaro;
using db::CheckReason;
using test::HttpServer;

namespace {

// Checks with the history on: the store's connection holds only the history file.
class Outcomes : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_NO_FATAL_FAILURE(test::openHistoryOnly(db, dir.path()));
        fetcher.readTimeoutMs = 300;
        fetcher.retryPauseMs = 10;
        fetcher.maxReplyBytes = 64 * 1024;
        test::addRecord(db.tbSite, {{"Site", "trust.ru"}});
        test::addRecord(db.tbProject, {{"Name", "П"}});
    }
    void page(const QByteArray& path, const QByteArray& body,
              QList<QPair<QByteArray, QByteArray>> headers = {}, int status = 200) {
        HttpServer::Reply r;
        r.status = status;
        r.headers = headers;
        r.headers << test::contentType("text/html; charset=utf-8");
        r.body = body + " end"; // the element scan wants text after the last element
        server.on(path, r);
    }
    std::optional<db::LastCheck> check(const QString& url, const QStringList& anchors = {"mine.example"}) {
        test::addRecord(db.tbLink, {{"PageURL", url}, {"PageStatus", "0"}});
        for (const QString& a : anchors)
            test::addRecord(db.tbAncor, {{"URL", a}});
        web::CheckPageLink(db, fetcher, ui, url, false);
        return db.checks.last(db::CheckSubject::LinkPage, db.tbLink.asInteger("ID"));
    }

    test::TempFolder dir;
    HttpServer server;
    web::PageFetcher fetcher;
    db::Database db;
    test::ScriptedUi ui;
    db::RecordRules rules{db, ui};
};

} // namespace

// Every reason through the local server, with the status the check stores (unchanged by the history).
TEST_F(Outcomes, EachReasonAndTheStatusBesideIt) {
    const QByteArray mine = "<a href=http://mine.example/>x</a> ";
    page("/found", mine + "<a href=http://other.example/>y</a>");
    page("/nofollow", "<a rel=\"nofollow\" href=http://mine.example/>x</a>");
    page("/sponsored", "<a rel='sponsored noopener' href=http://mine.example/>x</a>");
    page("/twice", "<a rel=ugc href=http://mine.example/>x</a> <a href=http://mine.example/>x</a>");
    page("/meta", "<head><meta name=\"robots\" content=\"noindex, follow\"></head>" + mine);
    page("/header", mine, {{"X-Robots-Tag", "noindex"}});
    page("/missing", "<a href=http://other.example/>y</a>");
    page("/plain", "<p>nothing</p>");
    page("/gone", "", {}, 404);
    page("/moved", "", {{"Location", "/found"}}, 301);
    page("/file", "", {{"Location", "file:///etc/passwd"}}, 302);
    page("/big", QByteArray(100 * 1024, 'x'));
    HttpServer::Reply stall;
    stall.stall = true;
    server.on("/stall", stall);
    QTcpServer closed;
    closed.listen(QHostAddress::LocalHost, 0);
    const QString refused = QStringLiteral("http://127.0.0.1:%1/").arg(closed.serverPort());
    closed.close();

    const struct {
        QString url;
        CheckReason reason;
        const char* status;
        const char* detail;
    } cases[] = {
        {server.url("/found"), CheckReason::Found, "1", "HTTP 200"},
        {server.url("/nofollow"), CheckReason::FoundNofollow, "1", "[nofollow]"},
        {server.url("/sponsored"), CheckReason::FoundNofollow, "1", "[nofollow]"},
        {server.url("/twice"), CheckReason::Found, "1", "[Есть]"},
        {server.url("/meta"), CheckReason::FoundNoindex, "1", "noindex"},
        {server.url("/header"), CheckReason::FoundNoindex, "1", "noindex"},
        {server.url("/missing"), CheckReason::Missing, "2", "[Нет] mine.example"},
        {server.url("/plain"), CheckReason::NoLinks, "0", "HTTP 200"},
        {server.url("/gone"), CheckReason::HttpError, "0", "404"},
        {server.url("/moved"), CheckReason::Found, "1", "/found"},
        {server.url("/file"), CheckReason::BadRedirect, "0", "file:"},
        {server.url("/big"), CheckReason::TooLarge, "0", "МБ"},
        {server.url("/stall"), CheckReason::Timeout, "0", ""},
        {refused, CheckReason::Refused, "0", ""},
    };
    for (const auto& c : cases) {
        const auto last = check(c.url);
        ASSERT_TRUE(last) << c.url.toStdString();
        EXPECT_EQ(int(last->outcome.reason), int(c.reason)) << c.url.toStdString();
        EXPECT_EQ(db.tbLink.asString("PageStatus"), QString::fromLatin1(c.status)) << c.url.toStdString();
        EXPECT_TRUE(last->outcome.detail.contains(QString::fromUtf8(c.detail)))
            << c.url.toStdString() << " " << last->outcome.detail.toStdString();
    }
    // No anchor records: status "2" as before, and said so.
    EXPECT_EQ(int(check(server.url("/found"), {})->outcome.reason), int(CheckReason::NoAnchors));
}

// Lost since: set by the first miss after a find, kept through misses and unreachable days, cleared by a
// find; the history keeps the newest outcomes only, also in the file.
TEST_F(Outcomes, LostSinceAndTheBoundOfTheHistory) {
    const db::CheckSubject link = db::CheckSubject::LinkPage;
    auto outcome = [](CheckReason r, const QDate& day) {
        return db::CheckOutcome{QDateTime(day, QTime(12, 0)), db::CheckKind::Presence, r,
                                QStringLiteral("d")};
    };
    const QDate d0(2026, 1, 10);
    db.checks.record(link, 7, outcome(CheckReason::Missing, d0)); // never found: not "lost"
    EXPECT_FALSE(db.checks.last(link, 7)->lostSince.isValid());
    db.checks.record(link, 7, outcome(CheckReason::Found, d0.addDays(1)));
    db.checks.record(link, 7, outcome(CheckReason::Missing, d0.addDays(2)));
    db.checks.record(link, 7, outcome(CheckReason::Timeout, d0.addDays(3)));
    db.checks.record(link, 7, outcome(CheckReason::Missing, d0.addDays(4)));
    EXPECT_EQ(db.checks.last(link, 7)->lostSince, d0.addDays(2));
    // Another kind of check does not touch it, and the file keeps it.
    db.checks.record(
        link, 7, {QDateTime(d0.addDays(5), QTime(9, 0)), db::CheckKind::ExtLinks, CheckReason::Counted, "3"});
    db.checks.close(); // writes what is pending and lets the file go
    {
        db::Store store;
        db::CheckHistory again(store);
        QString err;
        ASSERT_TRUE(store.open(QString(), &err));
        ASSERT_TRUE(again.open(dir.path() + "checks.adb", &err)) << err.toStdString();
        const auto last = again.last(link, 7);
        ASSERT_TRUE(last);
        EXPECT_EQ(int(last->outcome.reason), int(CheckReason::Counted));
        EXPECT_EQ(last->lostSince, d0.addDays(2));
        EXPECT_EQ(again.withLast(link, {CheckReason::Missing}), std::unordered_set<int>{7});
    }
    QString err;
    ASSERT_TRUE(db.checks.open(dir.path() + "checks.adb", &err)) << err.toStdString();
    db.checks.record(link, 7, outcome(CheckReason::FoundNofollow, d0.addDays(6)));
    EXPECT_FALSE(db.checks.last(link, 7)->lostSince.isValid());
    EXPECT_TRUE(db.checks.withLast(link, {CheckReason::Missing}).empty());

    for (int i = 0; i < 60; ++i)
        db.checks.record(link, 8, outcome(i % 2 ? CheckReason::Found : CheckReason::Missing, d0.addDays(i)));
    ASSERT_TRUE(db.store.flush());
    const auto history = db.checks.history(link, 8);
    ASSERT_EQ(history.size(), size_t(db::CheckHistory::kKeepPerSubject));
    EXPECT_EQ(history.front().at.date(), d0.addDays(59)); // newest first
    EXPECT_EQ(history.back().at.date(), d0.addDays(10));
    EXPECT_EQ(db.checks.history(link, 7).size(), 7u);
}

// A history file made by hand: unknown codes, odd dates and long texts read as something sensible.
TEST_F(Outcomes, ADamagedHistoryFileReadsSensibly) {
    ASSERT_TRUE(db::sql::exec(db.store.connection(),
                              "INSERT INTO checks.last VALUES(0, 9, 0, 'garbage', 999, 'x', 'never');"
                              "INSERT INTO checks.outcomes(subject, rid, at, kind, reason, detail) "
                              "VALUES(0, 9, '', 77, -5, '');",
                              nullptr));
    const auto last = db.checks.last(db::CheckSubject::LinkPage, 9);
    ASSERT_TRUE(last);
    EXPECT_EQ(int(last->outcome.reason), int(CheckReason::NotFetched));
    EXPECT_FALSE(last->lostSince.isValid());
    const auto history = db.checks.history(db::CheckSubject::LinkPage, 9);
    ASSERT_EQ(history.size(), 1u);
    EXPECT_EQ(int(history[0].kind), int(db::CheckKind::Presence));
    EXPECT_FALSE(db::reasonText(history[0].reason).isEmpty());
}

TEST_F(Outcomes, ABatchRunCountsNofollowAndListsThePages) {
    page("/nofollow", "<a rel=nofollow href=http://mine.example/>x</a>");
    page("/missing", "<a href=http://other.example/>y</a>");
    for (const char* p : {"/nofollow", "/missing", "/gone"}) {
        test::addRecord(db.tbLink, {{"PageURL", server.url(QString::fromLatin1(p))}});
        test::addRecord(db.tbAncor, {{"URL", "mine.example"}});
    }
    struct Panel final : web::RunPanel {
        void showRun(bool) override {}
        void setProgress(int) override {}
        void processEvents() override {}
        void showSummary(const QString& t) override { summary = t; }
        QString summary;
    } panel;
    web::RunTally tally;
    tally.keepPages = true;
    web::CheckAllPageLink(db, fetcher, ui, panel, &tally);
    EXPECT_EQ(panel.summary,
              QStringLiteral("Проверено страниц: 3, ссылки на месте: 1, пропали: 1, не загружено: 1, "
                             "без ссылок: 0, nofollow или noindex: 1"));
    EXPECT_EQ(tally.nofollowPages, QStringList{server.url("/nofollow")}) << tally.pagesText().toStdString();
    EXPECT_TRUE(tally.pagesText().startsWith(QStringLiteral("Ссылки пропали:\n  ") + server.url("/missing")));
}

// Pages made of link-like pieces at random: the reader ends, and the rel and robots questions answer "no"
// when the page holds none of their words.
TEST(OutcomeQuestions, RandomPagesEndAndAnswerNoWithoutTheirWords) {
    const QStringList pieces = {
        "<a ",    "href=",        "mine.example",    " rel=",    "nofollow", "ugc", ">", "</a>",
        "<meta ", "name=robots ", "content=noindex", "x",        "\"",       "'",   "<", " ",
        "<!--",   "-->",          "<script>",        "</script>"};
    std::mt19937 rng(23);
    for (int round = 0; round < 1000; ++round) {
        QString page;
        for (int i = int(rng() % 200); i > 0; --i)
            page += pieces[int(rng() % pieces.size())];
        const web::PageScan scan = web::readPage(page, QStringLiteral("http://donor.example/"));
        const bool rel = page.contains(u"nofollow") || page.contains(u"ugc");
        if (web::anchorPresence(scan, "mine.example", {}).nofollow) {
            EXPECT_TRUE(rel) << page.toStdString();
        }
        if (scan.robotsNoindex) {
            EXPECT_TRUE(page.contains(u"noindex")) << page.toStdString();
        }
    }
}

// A deleted link page takes its outcomes along: a new page given its number starts with none.
TEST_F(Outcomes, ADeletedLinkPageTakesItsOutcomesAlong) {
    page("/missing", "<a href=http://other.example/>y</a>");
    ASSERT_TRUE(check(server.url("/missing")));
    const int id = db.tbLink.asInteger("ID");
    ASSERT_EQ(db.checks.withLast(db::CheckSubject::LinkPage, {CheckReason::Missing}),
              std::unordered_set<int>{id});
    db.tbLink.deleteRecord();
    for (int written = 0; written < 2; ++written) {
        EXPECT_FALSE(db.checks.last(db::CheckSubject::LinkPage, id));
        EXPECT_TRUE(db.checks.history(db::CheckSubject::LinkPage, id).empty());
        EXPECT_TRUE(db.checks.withLast(db::CheckSubject::LinkPage, {CheckReason::Missing}).empty());
        ASSERT_TRUE(db.store.flush());
        db.checks.close(); // and read back from the file
        QString err;
        ASSERT_TRUE(db.checks.open(dir.path() + "checks.adb", &err));
    }
}

// Lost since the first miss after the last find, whatever came between; read back from the file too.
TEST_F(Outcomes, LostSinceIsTheFirstMissAfterTheLastFindWhateverCameBetween) {
    const db::CheckSubject link = db::CheckSubject::LinkPage;
    const QDate d0(2026, 3, 1);
    const struct {
        std::vector<CheckReason> road;
        int lostDay; // -1: not lost
    } cases[] = {
        {{CheckReason::Found, CheckReason::NoLinks, CheckReason::Missing}, 2},
        {{CheckReason::Found, CheckReason::Timeout, CheckReason::Blocked, CheckReason::Missing}, 3},
        {{CheckReason::FoundNofollow, CheckReason::NoAnchors, CheckReason::Missing, CheckReason::Missing}, 2},
        {{CheckReason::Missing, CheckReason::NoLinks, CheckReason::Missing}, -1},
        {{CheckReason::Found, CheckReason::Missing, CheckReason::NoLinks, CheckReason::Found}, -1},
    };
    int id = 100;
    for (const auto& c : cases) {
        ++id;
        for (size_t day = 0; day < c.road.size(); ++day) {
            // The last step is taken after the file was closed and opened again: the verdict before comes
            // from the file.
            if (day + 1 == c.road.size()) {
                db.checks.close();
                QString err;
                ASSERT_TRUE(db.checks.open(dir.path() + "checks.adb", &err)) << err.toStdString();
            }
            db.checks.record(link, id,
                             {QDateTime(d0.addDays(qint64(day)), QTime(12, 0)), db::CheckKind::Presence,
                              c.road[day], QStringLiteral("d")});
        }
        const QDate lost = db.checks.last(link, id)->lostSince;
        EXPECT_EQ(lost, c.lostDay < 0 ? QDate() : d0.addDays(c.lostDay)) << id;
    }
}

// A page whose link was found at its last verdict is fetched once more before "missing" is believed.
TEST_F(Outcomes, AMissingLinkIsConfirmedByASecondLookBeforeItIsLost) {
    fetcher.confirmPauseMs = 10;
    auto count = std::make_shared<int>(0);
    HttpServer::Reply with;
    with.headers = {test::contentType("text/html; charset=utf-8")};
    with.body = "<a href=http://mine.example/>x</a> end";
    HttpServer::Reply without = with;
    without.body = "<a href=http://else.example/>x</a> end";
    server.on("/blink", [=](const HttpServer::Request&) { return (*count)++ % 2 ? with : without; });
    server.on("/lost", without);
    for (const char* path : {"/blink", "/lost"}) {
        const QString url = server.url(QString::fromLatin1(path));
        test::addRecord(db.tbLink, {{"PageURL", url}, {"PageStatus", "1"}});
        test::addRecord(db.tbAncor, {{"URL", "mine.example"}});
        const qsizetype before = server.requests().size();
        web::CheckPageLink(db, fetcher, ui, url, false);
        EXPECT_EQ(server.requests().size() - before, 2) << path;
        const auto last = db.checks.last(db::CheckSubject::LinkPage, db.tbLink.asInteger("ID"));
        ASSERT_TRUE(last);
        EXPECT_TRUE(last->outcome.detail.contains(QStringLiteral("первая загрузка: ссылки нет"))) << path;
    }
    db.tbLink.first();
    EXPECT_EQ(db.tbLink.asString("PageStatus"), QStringLiteral("1"));
    db.tbLink.last();
    EXPECT_EQ(db.tbLink.asString("PageStatus"), QStringLiteral("2"));
}

// Pairs of checks of one page: what the second keeps as evidence and the change it tells, against the first.
TEST_F(Outcomes, EvidenceAndChangeEventsOverPairsOfChecks) {
    const QByteArray found = "<p><a href=\"http://mine.example/\">купить окна</a></p>";
    struct Row {
        const char* name;
        QByteArray second;
        QList<QPair<QByteArray, QByteArray>> headers;
        CheckReason reason;
        QStringList events;
        QString nearest; // of the missing link
        int status = 200;
    } rows[] = {
        {"unchanged", found, {}, CheckReason::Found, {}, {}},
        {"missing", "<p><a href=\"http://other.example/\">x</a></p>", {}, CheckReason::Missing, {}, {}},
        {"nofollow",
         "<a rel=\"nofollow\" href=\"http://mine.example/\">купить окна</a>",
         {},
         CheckReason::FoundNofollow,
         {"ссылка стала nofollow"},
         {}},
        {"text changed",
         "<a href=\"http://mine.example/\">окна</a>",
         {},
         CheckReason::Found,
         {"текст ссылки изменён: «купить окна» → «окна»"},
         {}},
        {"noindex",
         "<meta name=robots content=noindex>" + found,
         {},
         CheckReason::FoundNoindex,
         {"страница закрыта от индексации"},
         {}},
        {"noindex by header",
         found,
         {{"X-Robots-Tag", "noindex"}},
         CheckReason::FoundNoindex,
         {"страница закрыта от индексации"},
         {}},
        {"into a comment",
         "<a href=\"http://x.example/\">x</a><!-- <a href=\"http://mine.example/\">купить</a> -->",
         {},
         CheckReason::Missing,
         {"ссылка спрятана в комментарий"},
         "адрес есть только в комментарии: "},
        {"a longer address",
         "<a href=\"http://mine.example/other\">x</a>",
         {},
         CheckReason::Found,
         {"текст ссылки изменён: «купить окна» → «x»",
          "адрес ссылки изменён: http://mine.example/ → http://mine.example/other"},
         {}},
        {"another scheme",
         "<a href=\"https://other.example/\">x</a><a href=\"https://mine.example/\">купить окна</a>",
         {},
         CheckReason::Found,
         {"адрес ссылки изменён: http://mine.example/ → https://mine.example/"},
         {}},
        {"redirected",
         "",
         {{"Location", "/moved"}},
         CheckReason::Found,
         {"страница перенаправляет на " + server.url("/moved")},
         {},
         301},
    };
    page("/moved", found);
    int n = 0;
    for (const Row& r : rows) {
        const QByteArray path = "/pair" + QByteArray::number(++n);
        page(path, found);
        const QString url = server.url(QString::fromLatin1(path));
        check(url, {"mine.example"});
        const int id = db.tbLink.asInteger("ID");
        page(path, r.second, r.headers, r.status);
        web::CheckPageLink(db, fetcher, ui, url, false);
        db.store.flush();
        EXPECT_EQ(db.checks.last(db::CheckSubject::LinkPage, id)->outcome.reason, r.reason) << r.name;
        const auto& ev = db.checks.evidence();
        const std::vector<db::EvidenceRow> rows = ev.evidence(db.checks.connection(), 0, id);
        ASSERT_FALSE(rows.empty()) << r.name;
        const db::Evidence& now = rows.front().evidence;
        EXPECT_EQ(now.status, 200) << r.name;
        EXPECT_EQ(now.finalUrl, r.status == 200 ? url : server.url("/moved")) << r.name;
        ASSERT_EQ(now.links.size(), 1u) << r.name;
        const bool wasFound = isFound(r.reason);
        EXPECT_EQ(now.links[0].found, wasFound) << r.name;
        if (wasFound) {
            EXPECT_TRUE(now.links[0].tag.startsWith("<a ")) << r.name;
        }
        if (!r.nearest.isEmpty()) {
            EXPECT_TRUE(now.links[0].nearest.startsWith(r.nearest)) << r.name;
        }
        QStringList events;
        for (const db::ChangeEvent& e : ev.events(db.checks.connection(), 0, id))
            events.prepend(e.text);
        EXPECT_EQ(events, r.events) << r.name;
        // The page is kept as found at its first find and as missing at its first miss.
        EXPECT_TRUE(ev.snapshot(db.checks.connection(), 0, id, true).has_value()) << r.name;
        EXPECT_EQ(ev.snapshot(db.checks.connection(), 0, id, false).has_value(), !wasFound) << r.name;
    }
    // A link still in its comment at the next check: what changed is not told again.
    ASSERT_TRUE(db.tbLink.locate("PageURL", server.url("/pair7")));
    web::CheckPageLink(db, fetcher, ui, server.url("/pair7"), false);
    db.store.flush();
    const auto told = db.checks.evidence().events(db.checks.connection(), 0, db.tbLink.asInteger("ID"));
    ASSERT_EQ(told.size(), 1u);
    EXPECT_EQ(told[0].text, "ссылка спрятана в комментарий");
    // An unchanged second check wrote no second evidence row.
    EXPECT_EQ(db.checks.evidence().evidence(db.checks.connection(), 0, 1).size(), 1u);
    // Found again as at the first find: a row after the miss, whether the miss was written yet or not.
    for (const QByteArray& path : {QByteArray("/again-written"), QByteArray("/again-queued")}) {
        page(path, found);
        const QString url = server.url(QString::fromLatin1(path));
        check(url, {"mine.example"});
        const int id = db.tbLink.asInteger("ID");
        page(path, "<a href=\"http://other.example/\">x</a>");
        web::CheckPageLink(db, fetcher, ui, url, false);
        if (path.endsWith("written")) db.store.flush();
        page(path, found);
        web::CheckPageLink(db, fetcher, ui, url, false);
        db.store.flush();
        const std::vector<db::EvidenceRow> kept =
            db.checks.evidence().evidence(db.checks.connection(), 0, id);
        ASSERT_EQ(kept.size(), 3u) << path.constData();
        EXPECT_TRUE(kept[0].found);
        EXPECT_FALSE(kept[1].found);
    }
    // A link address longer than the evidence keeps is compared as kept: another change on the page is no
    // change of the address.
    const QByteArray longLink = "<a href=\"http://mine.example/" + QByteArray(700, 'w') + "\">купить</a>";
    page("/long", "<p>one</p>" + longLink);
    check(server.url("/long"), {"mine.example"});
    const int longId = db.tbLink.asInteger("ID");
    page("/long", "<p>two</p>" + longLink);
    web::CheckPageLink(db, fetcher, ui, server.url("/long"), false);
    db.store.flush();
    EXPECT_EQ(db.checks.evidence().evidence(db.checks.connection(), 0, longId).size(), 2u);
    EXPECT_TRUE(db.checks.evidence().events(db.checks.connection(), 0, longId).empty());
    // A deletion whose write failed leaves the page's rows in the file: the next checks still compare with
    // them instead of writing a first row again.
    db.store.setDeferred(true);
    db.checks.forget(db::CheckSubject::LinkPage, longId);
    db.checks.failed(SQLITE_FULL, QStringLiteral("диск полон"));
    db.store.setDeferred(false);
    for (int i = 0; i < 2; ++i)
        web::CheckPageLink(db, fetcher, ui, server.url("/long"), false);
    db.store.flush();
    EXPECT_EQ(db.checks.evidence().evidence(db.checks.connection(), 0, longId).size(), 2u);
}

// A damaged evidence row or snapshot never stops a check: it reads as none and the next row is written.
TEST_F(Outcomes, DamagedEvidenceNeverStopsACheck) {
    page("/d", "<a href=\"http://mine.example/\">a</a>");
    check(server.url("/d"));
    db.store.flush();
    ASSERT_TRUE(db::sql::exec(
        db.store.connection(),
        "UPDATE checks.evidence SET data = x'00ff'; UPDATE checks.snapshots SET data = x'01';", nullptr));
    page("/d", "<a href=\"http://mine.example/\">b</a>");
    web::CheckPageLink(db, fetcher, ui, server.url("/d"), false);
    db.store.flush();
    EXPECT_TRUE(isFound(db.checks.last(db::CheckSubject::LinkPage, 1)->outcome.reason));
    EXPECT_EQ(db.checks.evidence().evidence(db.checks.connection(), 0, 1).size(),
              1u); // the damaged one left out
    EXPECT_FALSE(db.checks.evidence().snapshot(db.checks.connection(), 0, 1, true));
}

// A batch run keeps the page where its verdict changed: the first find, then the first miss after it (the
// second look), with the evidence of each.
TEST_F(Outcomes, ABatchRunKeepsThePageWhereTheVerdictChanged) {
    page("/b", "<a href=http://mine.example/>купить</a>");
    test::addRecord(db.tbLink, {{"PageURL", server.url("/b")}});
    test::addRecord(db.tbAncor, {{"URL", "mine.example"}});
    const int id = db.tbLink.asInteger("ID");
    struct Panel final : web::RunPanel {
        void showRun(bool) override {}
        void setProgress(int) override {}
        void processEvents() override {}
    } panel;
    fetcher.confirmPauseMs = 10;
    const auto& ev = db.checks.evidence();
    web::CheckAllPageLink(db, fetcher, ui, panel, nullptr);
    db.store.flush();
    const auto found = ev.snapshot(db.checks.connection(), 0, id, true);
    ASSERT_TRUE(found);
    EXPECT_TRUE(found->pageText.contains("купить"));
    EXPECT_FALSE(ev.snapshot(db.checks.connection(), 0, id, false));
    page("/b", "<a href=http://other.example/>продано</a>");
    web::CheckAllPageLink(db, fetcher, ui, panel, nullptr);
    db.store.flush();
    const auto missing = ev.snapshot(db.checks.connection(), 0, id, false);
    ASSERT_TRUE(missing);
    EXPECT_TRUE(missing->pageText.contains("продано"));
    const auto rows = ev.evidence(db.checks.connection(), 0, id);
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_FALSE(rows[0].found);
    EXPECT_EQ(rows[0].evidence.sha256.size(), 64);
    EXPECT_EQ(rows[1].evidence.links.at(0).text, "купить");
}
