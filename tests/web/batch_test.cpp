#include <algorithm>

#include <gtest/gtest.h>

#include <QElapsedTimer>
#include <QSet>
#include <QTemporaryDir>
#include <QTimer>

#include <memory>

#include "db/database.h"
#include "db/record_rules.h"
#include "support/http_server.h"
#include "support/records.h"
#include "support/scripted_ui.h"
#include "web/batch_run.h"
#include "web/index_check.h"
#include "web/page_fetcher.h"

using namespace zentaro;
using test::HttpServer;

namespace {

// The work panel, recorded; it presses the stop button at the turn of the event loop after record stopAt.
struct ScriptedPanel final : web::RunPanel {
    explicit ScriptedPanel(db::Database& d) : db(d) {}
    void showRun(bool on) override { shown.push_back(on); }
    void setProgress(int percent) override { progress.push_back(percent); }
    void processEvents() override {
        if (++turns == stopAt) db.isStop = true;
    }
    db::Database& db;
    std::vector<bool> shown;
    std::vector<int> progress;
    int turns = 0, stopAt = -1;
};

class BatchRuns : public ::testing::Test {
protected:
    void SetUp() override {
        fetcher.readTimeoutMs = 2000;
        fetcher.retryPauseMs = 10;
        fetcher.confirmPauseMs = 10;
        HttpServer::Reply r;
        r.headers = {test::contentType("text/html; charset=utf-8")};
        r.body = "<a href=http://mine.example/>x</a> <a href=http://other.example/>y</a> end";
        server.on("/page", r);
        test::addRecord(db.tbSite, {{"Site", "trust.ru"}});
        test::addRecord(db.tbProject, {{"Name", "П"}});
    }
    void addLinks(int n) {
        for (int i = 0; i < n; ++i) {
            test::addRecord(db.tbLink, {{"PageURL", server.url(QStringLiteral("/page"))}});
            test::addRecord(db.tbAncor, {{"URL", i % 2 ? "missing.example" : "mine.example"}});
        }
    }
    QStringList column(db::Table& t, const char* field) {
        QStringList out;
        for (int pos = 0; pos < t.recordCount(); ++pos)
            out << t.displayTextAt(pos, t.fieldIndex(QString::fromLatin1(field)));
        return out;
    }

    HttpServer server;
    web::PageFetcher fetcher;
    db::Database db;
    test::ScriptedUi ui;
    db::RecordRules rules{db, ui};
    ScriptedPanel panel{db};
};

} // namespace

TEST(Progress, RoundsToTheNearestWithHalvesToEven) {
    const int cases[][3] = {{1, 3, 33}, {2, 3, 67}, {3, 3, 100}, {1, 8, 12},
                            {2, 8, 25}, {3, 8, 38}, {5, 8, 62}};
    for (const auto& c : cases)
        EXPECT_EQ(web::progressPercent(c[0], c[1]), c[2]) << c[0] << "/" << c[1];
}

TEST_F(BatchRuns, AnEmptyListMakesNoRequestAndSaysItIsDone) {
    web::CheckAllPageLink(db, fetcher, ui, panel);
    EXPECT_EQ(ui.texts(), QStringList{"Проверка выполнена."});
    EXPECT_TRUE(server.requests().isEmpty());
    EXPECT_EQ(panel.shown, (std::vector<bool>{true, false}));
    EXPECT_FALSE(db.isAuto);
}

TEST_F(BatchRuns, StopFinishesTheRecordInHandAndLeavesTheRestUnchanged) {
    addLinks(10);
    fetcher.maxInFlight = 1; // one request at a time: exactly the three records' requests are made
    panel.stopAt = 3;
    web::CheckAllPageLink(db, fetcher, ui, panel);
    EXPECT_EQ(ui.texts(), QStringList{"Проверка была прервана."});
    EXPECT_EQ(column(db.tbLink, "PageStatus").mid(0, 4),
              (QStringList{"Размещено", "Пропажа", "Размещено", "Ожидание"}));
    EXPECT_EQ(server.requests().size(), 3);
    EXPECT_EQ(panel.progress, (std::vector<int>{10, 20, 30}));
    EXPECT_EQ(db.tbLink.recNo(), 10); // the last record is current after a run
    EXPECT_FALSE(db.tbLink.controlsDisabled());
    EXPECT_FALSE(db.isStop);
}

// A run stores its verdicts by row with the view switched off: every record is visited once although its
// verdict moves it in a view ordered by status, and the view shows the new order once the run ends.
TEST_F(BatchRuns, AViewOrderedByStatusIsVisitedOnceAndReorderedAtTheEnd) {
    addLinks(6);
    ASSERT_TRUE(db.tbLink.setIndexFieldNames(QStringLiteral("PageStatus")));
    for (const int inFlight : {1, 4}) {
        SCOPED_TRACE(inFlight);
        fetcher.maxInFlight = inFlight;
        const qsizetype before = server.requests().size();
        web::CheckAllPageLink(db, fetcher, ui, panel);
        EXPECT_EQ(server.requests().size() - before, 6);
        EXPECT_EQ(column(db.tbLink, "PageStatus"),
                  (QStringList{"Размещено", "Размещено", "Размещено", "Пропажа", "Пропажа", "Пропажа"}));
    }
}

// Imported pages have no anchors: they are checked for the project's site and counted apart, never as lost;
// the page is fetched as stored, its path's letter case kept.
TEST_F(BatchRuns, PagesWithoutAnchorsAreCheckedForTheProjectSiteAndCountedApart) {
    db.tbProject.edit();
    db.tbProject.setValue("Site", QStringLiteral("mine.example"));
    db.tbProject.post();
    HttpServer::Reply r;
    r.headers = {test::contentType("text/html; charset=utf-8")};
    r.body = "<a href=http://other.example/>y</a> end";
    server.on("/Other", r);
    test::addRecord(db.tbLink, {{"PageURL", server.url(QStringLiteral("/page?ID=Ab"))}});
    test::addRecord(db.tbLink, {{"PageURL", server.url(QStringLiteral("/Other"))}});
    web::RunTally tally;
    tally.keepPages = true;
    web::CheckAllPageLink(db, fetcher, ui, panel, &tally);
    EXPECT_EQ(column(db.tbLink, "PageStatus"), (QStringList{"Размещено", "Пропажа"}));
    EXPECT_EQ(tally.text(),
              QStringLiteral("Проверено страниц: 2, ссылки на месте: 0, пропали: 0, не загружено: 0, "
                             "без ссылок: 0, nofollow или noindex: 0, без анкоров: 2"));
    EXPECT_TRUE(tally.missingPages.isEmpty());
    EXPECT_TRUE(server.targets().contains("/page?ID=Ab")) << server.targets().join(' ').toStdString();
}

TEST_F(BatchRuns, ExternalCountsOfNewPagesOnlyVisitEveryProjectAndKeepTheFilter) {
    addLinks(2);
    test::addRecord(db.tbProject, {{"Name", "Второй"}});
    test::addRecord(db.tbLink, {{"PageURL", server.url(QStringLiteral("/page"))}, {"UrlCount", 5}});
    test::addRecord(db.tbLink, {{"PageURL", server.url(QStringLiteral("/gone"))}});
    const QString filter = db.tbLink.filter();
    ASSERT_TRUE(db.tbLink.filtered());
    web::CheckExtLinks(db, fetcher, ui, panel, true);
    EXPECT_EQ(ui.texts(), QStringList{"Обновление для всех выполнено."});
    EXPECT_EQ(db.tbLink.filter(), filter);
    EXPECT_TRUE(db.tbLink.filtered());
    db.tbLink.setFiltered(false);
    // Counted: the first project's two pages; kept: 5; tried and still empty: the page that is gone.
    EXPECT_EQ(column(db.tbLink, "UrlCount"), (QStringList{"2", "2", "5", ""}));
    EXPECT_EQ(server.requests().size(), 3);
}

TEST_F(BatchRuns, OnlyNewSitesSkipThoseWithBothMetrics) {
    fetcher.hosts.googleToolbar = fetcher.hosts.yandexToolbar = server.host();
    HttpServer::Reply pr;
    pr.body = "Rank_1:1:3";
    server.on("/tbr", pr);
    HttpServer::Reply cy;
    cy.body = " value=\"40\"";
    server.on("/u", cy);
    db.tbSite.setValue("TIC", 0);
    db.tbSite.setValue("PR", 0);
    db.tbSite.post();
    test::addRecord(db.tbSite, {{"Site", "new.ru"}, {"TIC", 7}});
    web::UpdateSitePRCY(db, fetcher, ui, panel, 1);
    db.tbSite.setFiltered(false);
    EXPECT_EQ(column(db.tbSite, "TIC"), (QStringList{"0", "40"}));
    EXPECT_EQ(column(db.tbSite, "PR"), (QStringList{"0", "3"}));
    EXPECT_EQ(panel.turns, 1); // a skipped site turns no event loop
    EXPECT_EQ(ui.texts(), QStringList{"Обновление для всех выполнено."});
}

TEST_F(BatchRuns, CheckAllParametersOnAnUnreachablePageSaysErrorOnceAndChangesNothing) {
    test::addRecord(db.tbLink, {{"PageURL", server.url(QStringLiteral("/gone"))}, {"PageIndexY", "1"}});
    QTemporaryDir dir;
    web::IndexContext c{fetcher, ui, dir.path() + "/yandex.gif", {}};
    web::mnCheckLinkAllClick(db, c);
    EXPECT_EQ(ui.texts(), QStringList{"Ошибка!"});
    EXPECT_EQ(db.tbLink.asString("PageIndexY"), QStringLiteral("1"));
    EXPECT_TRUE(db.tbLink.isNull("UrlCount"));
    EXPECT_EQ(server.requests().size(), 1);
}

namespace {

// A mixed list for the runs fetching ahead: found, missing, 404, a page that stops answering, a redirect, a
// page without link elements, a page without anchor records, an empty address; every page answers late.
class ConcurrentRuns : public BatchRuns {
protected:
    void SetUp() override {
        BatchRuns::SetUp();
        fetcher.readTimeoutMs = 250;
        HttpServer::Reply page;
        page.headers = {test::contentType("text/html; charset=utf-8")};
        page.body = "<a href=http://mine.example/>x</a> <a rel=nofollow href=http://other.example/>y</a>";
        page.delayMs = 30;
        server.on("/page", page);
        HttpServer::Reply plain = page;
        plain.body = "<p>no links here</p>";
        server.on("/plain", plain);
        HttpServer::Reply gone = page;
        gone.status = 404;
        server.on("/gone", gone);
        HttpServer::Reply stall = page;
        stall.stall = true;
        server.on("/stall", stall);
        HttpServer::Reply moved = page;
        moved.status = 302;
        moved.headers << QPair<QByteArray, QByteArray>("Location", "/page");
        moved.body.clear();
        server.on("/moved", moved);
        // Each flaky address answers 503 to its first request of a run only: retried to success. Counted
        // per address, so the order the three rounds' requests arrive in cannot change any verdict.
        server.on("/flaky", [seen = flakySeen, page](const HttpServer::Request& req) {
            HttpServer::Reply r = page;
            if (!seen->contains(req.target)) {
                seen->insert(req.target);
                r.status = 503;
            }
            return r;
        });
        const char* paths[] = {"/page",  "/page", "/gone", "/stall", "/moved",
                               "/plain", "/page", "",      "/flaky"};
        for (int round = 0; round < 3; ++round)
            for (int i = 0; i < 9; ++i) {
                QString url = *paths[i] ? server.url(QString::fromLatin1(paths[i])) : QString();
                if (i == 8) url += QStringLiteral("?round=%1").arg(round);
                test::addRecord(db.tbLink, {{"PageURL", url}, {"PageStatus", "0"}});
                if (i == 6) continue; // no anchor records
                test::addRecord(db.tbAncor, {{"URL", i == 1 ? "missing.example" : "mine.example"}});
            }
    }
    // The run with the given limits from a fresh start: statuses and counts back to "0" and empty.
    QStringList run(int inFlight, int perHost, bool presence) {
        db.tbLink.setFiltered(false);
        for (int pos = 0; pos < db.tbLink.recordCount(); ++pos) {
            db.tbLink.moveTo(pos);
            db.tbLink.edit();
            db.tbLink.setValue("PageStatus", "0");
            db.tbLink.setValue("UrlCount", QVariant());
            db.tbLink.post();
        }
        ui.clear();
        panel.progress.clear();
        flakySeen->clear();
        fetcher.maxInFlight = inFlight;
        fetcher.perHost = perHost;
        if (presence)
            web::CheckAllPageLink(db, fetcher, ui, panel);
        else
            web::CheckExtLinks(db, fetcher, ui, panel, false);
        db.tbLink.setFiltered(false);
        QStringList out = column(db.tbLink, "PageStatus") + column(db.tbLink, "UrlCount") + ui.texts();
        for (const int p : panel.progress)
            out << QString::number(p);
        out << QString::number(db.tbLink.recNo());
        return out;
    }
    std::shared_ptr<QSet<QByteArray>> flakySeen = std::make_shared<QSet<QByteArray>>();
};

} // namespace

TEST_F(ConcurrentRuns, FetchingAheadGivesWhatOneAtATimeGives) {
    for (const bool presence : {true, false}) {
        const QStringList one = run(1, 1, presence);
        const QStringList many = run(16, 4, presence);
        EXPECT_EQ(many, one) << (presence ? "presence" : "external counts");
        // Found and missing, or counted (one followed external link) and kept.
        EXPECT_TRUE(one.contains(presence ? QStringLiteral("Размещено") : QStringLiteral("1")));
        EXPECT_TRUE(one.contains(presence ? QStringLiteral("Пропажа") : QString()));
    }
    EXPECT_LE(server.mostAtOnce(server.host().toLatin1()), 4);
    EXPECT_GE(server.mostAtOnce(server.host().toLatin1()), 2);
}

TEST_F(ConcurrentRuns, ThePerHostLimitHoldsAndAStopLeavesTheRestAsItWas) {
    panel.stopAt = 5;
    const QStringList result = run(8, 2, true);
    EXPECT_EQ(server.mostAtOnce(server.host().toLatin1()), 2);
    EXPECT_TRUE(ui.texts().contains(QStringLiteral("Проверка была прервана.")));
    const QStringList statuses = result.mid(0, db.tbLink.recordCount());
    // Records 1-5 were checked (found, missing, 404 kept, timeout kept, redirect found); none after them.
    EXPECT_EQ(statuses.mid(0, 5), (QStringList{"Размещено", "Пропажа", "Ожидание", "Ожидание", "Размещено"}));
    for (const QString& s : statuses.mid(5))
        EXPECT_EQ(s, QStringLiteral("Ожидание"));
    EXPECT_FALSE(db.isStop);
}

TEST_F(ConcurrentRuns, FlakyPagesAreRetriedToTheSameVerdictAsSteadyOnes) {
    const QStringList result = run(16, 4, true);
    const QStringList statuses = result.mid(0, db.tbLink.recordCount());
    for (int round = 0; round < 3; ++round)
        EXPECT_EQ(statuses[round * 9 + 8], QStringLiteral("Размещено")) << round;
}

TEST_F(BatchRuns, PerHostLimitsCountRedirectTargetsAndAreClampedToTheClientsConnections) {
    HttpServer target(QStringLiteral("127.0.0.2"));
    ASSERT_TRUE(target.listening());
    HttpServer::Reply page;
    page.headers = {test::contentType("text/html; charset=utf-8")};
    page.body = "<a href=http://mine.example/>x</a> end";
    page.delayMs = 40;
    target.on("/page", page);
    HttpServer::Reply moved;
    moved.status = 302;
    moved.headers = {{"Location", target.url("/page").toUtf8()}};
    for (int i = 0; i < 16; ++i) {
        const QByteArray path = "/r" + QByteArray::number(i);
        server.on(path, moved);
        test::addRecord(db.tbLink, {{"PageURL", server.url(QString::fromLatin1(path))}});
        test::addRecord(db.tbAncor, {{"URL", "mine.example"}});
    }
    fetcher.maxInFlight = 16;
    fetcher.perHost = 3;
    web::CheckAllPageLink(db, fetcher, ui, panel);
    EXPECT_EQ(target.mostAtOnce(target.host().toLatin1()), 3);
    EXPECT_EQ(column(db.tbLink, "PageStatus"), QStringList(16, QStringLiteral("Размещено")));

    web::PageFetcher settings;
    web::applyFetchSettings(settings, {{"net.perHost", "16"},
                                       {"net.deadlineSec", "90"},
                                       {"net.retries", "1"},
                                       {"net.retryAfterMaxSec", "120"}});
    EXPECT_EQ(settings.perHost, 6);
    EXPECT_EQ(settings.deadlineMs, 90000);
    EXPECT_EQ(settings.retries, 1);
    EXPECT_EQ(settings.retryAfterMaxSec, 120);
}

TEST_F(BatchRuns, AHostThatNeverAnswersIsDownForTheRestOfTheRun) {
    HttpServer silent(QStringLiteral("127.0.0.3"));
    HttpServer::Reply never;
    never.delayMs = 60000;
    silent.on("/page", never);
    for (int i = 0; i < 10; ++i) {
        test::addRecord(db.tbLink, {{"PageURL", silent.url("/page")}, {"PageStatus", "1"}});
        test::addRecord(db.tbAncor, {{"URL", "mine.example"}});
    }
    addLinks(2);
    fetcher.readTimeoutMs = 200;
    for (const int inFlight : {1, 8}) {
        const qsizetype before = silent.requests().size();
        fetcher.maxInFlight = inFlight;
        web::RunTally tally;
        web::CheckAllPageLink(db, fetcher, ui, panel, &tally);
        // The first page with its retries; the others fail at once with the same reason.
        if (inFlight == 1) {
            EXPECT_EQ(silent.requests().size() - before, 3);
        }
        // The pages in flight when the host first failed, and the retries of one of them (not 10 × 3).
        EXPECT_LE(silent.requests().size() - before, 4 + 2) << inFlight;
        EXPECT_EQ(tally.notFetched, 10) << inFlight;
        EXPECT_EQ(tally.found, 1) << inFlight;
        EXPECT_EQ(column(db.tbLink, "PageStatus").mid(0, 10), QStringList(10, QStringLiteral("Размещено")));
    }
}

// How a host that asked to wait is treated, by the order its requests came in: nothing new goes to it for
// its Retry-After, or without one for the retry pause, and the page that was told to wait goes first; a
// request stalled before the pause never holds the host after it; a try that timed out is tried again
// without a further pause.
TEST_F(BatchRuns, AHostWaitsAsLongAsItAskedAndAStalledRequestDoesNotHoldIt) {
    const struct {
        const char* name;
        int status;
        QByteArray retryAfter;
    } cases[] = {{"429, Retry-After 1 s", 429, "1"}, {"503, its retry pause", 503, ""}};
    HttpServer::Reply ok;
    ok.body = "<a href=http://mine.example/>x</a> end";
    // One host for each case, checked in one run.
    std::vector<std::unique_ptr<HttpServer>> hosts;
    for (const auto& c : cases) {
        hosts.push_back(std::make_unique<HttpServer>(QStringLiteral("127.0.0.%1").arg(hosts.size() + 4)));
        HttpServer& host = *hosts.back();
        HttpServer::Reply stall = ok;
        stall.stall = true;
        HttpServer::Reply bad = ok;
        bad.status = c.status;
        if (!c.retryAfter.isEmpty())
            bad.headers << QPair<QByteArray, QByteArray>{"Retry-After", c.retryAfter};
        // The stalled and the failing page fail their first request only.
        for (const auto& [path, first] : {std::pair{"/s", stall}, std::pair{"/x", bad}})
            host.on(path, [first, ok, seen = std::make_shared<bool>(false)](const HttpServer::Request&) {
                return std::exchange(*seen, true) ? ok : first;
            });
        HttpServer::Reply page = ok;
        page.delayMs = 20;
        host.on("/p", page);
        for (const char* path : {"/s", "/x", "/p", "/p", "/p"}) {
            test::addRecord(db.tbLink,
                            {{"PageURL", host.url(QString::fromLatin1(path))}, {"PageStatus", "0"}});
            test::addRecord(db.tbAncor, {{"URL", "mine.example"}});
        }
    }
    fetcher.maxInFlight = 8;
    fetcher.perHost = 2;
    fetcher.readTimeoutMs = 2500;
    fetcher.retryPauseMs = 1500; // the pause after the 503; none after the stall's read timeout
    web::RunTally tally;
    QElapsedTimer clock;
    clock.start();
    web::CheckAllPageLink(db, fetcher, ui, panel, &tally);
    // The stall's read timeout and an immediate second try, not a pause after it.
    EXPECT_LT(clock.elapsed(), 2500 + 1200);
    EXPECT_EQ(tally.found, 10);
    for (size_t i = 0; i < hosts.size(); ++i) {
        QByteArrayList order;
        for (const QByteArray& t : hosts[i]->targets())
            order << t.left(t.indexOf('?') < 0 ? t.size() : t.indexOf('?'));
        // "/s": the stalled page, "/x": the failing one, "/p": the 3 others. The first two go together.
        ASSERT_EQ(order.size(), 7) << cases[i].name;
        EXPECT_EQ(QSet<QByteArray>(order.begin(), order.begin() + 2), (QSet<QByteArray>{"/s", "/x"}));
        // Then the failing page's second try and the three others, in whichever order the host's turn and
        // the retry's timer meet (both fall due at the end of the pause), and the stalled page's retry last:
        // it waits out its read timeout without holding the host.
        QByteArrayList middle = order.mid(2, 4);
        std::sort(middle.begin(), middle.end());
        EXPECT_EQ(middle, (QByteArrayList{"/p", "/p", "/p", "/x"})) << cases[i].name;
        EXPECT_EQ(order.last(), QByteArray("/s")) << cases[i].name;
    }
}

TEST_F(BatchRuns, AStopAbandonsTheRequestInFlightAndLeavesItsRecord) {
    HttpServer::Reply stall;
    stall.stall = true;
    stall.body = "<a href=http://mine.example/>x";
    server.on("/stall", stall);
    test::addRecord(db.tbLink, {{"PageURL", server.url("/stall")}, {"PageStatus", "0"}});
    test::addRecord(db.tbAncor, {{"URL", "mine.example"}});
    addLinks(2);
    fetcher.readTimeoutMs = 20000;
    for (const int inFlight : {1, 8}) {
        ui.clear();
        fetcher.maxInFlight = inFlight;
        web::RunTally tally;
        QTimer::singleShot(200, [this] { db.isStop = true; });
        QElapsedTimer clock;
        clock.start();
        web::CheckAllPageLink(db, fetcher, ui, panel, &tally);
        EXPECT_LT(clock.elapsed(), 2000) << inFlight;
        EXPECT_EQ(ui.texts(), QStringList{"Проверка была прервана."}) << inFlight;
        EXPECT_EQ(tally.checked, 0) << inFlight;
        EXPECT_EQ(column(db.tbLink, "PageStatus"), QStringList(3, QStringLiteral("Ожидание"))) << inFlight;
    }
}

TEST_F(BatchRuns, ASlowPageDoesNotHoldTheFetchingOfTheRest) {
    HttpServer::Reply stall;
    stall.stall = true;
    stall.body = "<a href=";
    server.on("/stall", stall);
    HttpServer other(QStringLiteral("127.0.0.2"));
    HttpServer::Reply page;
    page.headers = {test::contentType("text/html; charset=utf-8")};
    page.body = "<a href=http://mine.example/>x</a> end";
    other.on("/page", page);
    test::addRecord(db.tbLink, {{"PageURL", server.url("/stall")}});
    test::addRecord(db.tbAncor, {{"URL", "mine.example"}});
    for (int i = 0; i < 40; ++i) {
        test::addRecord(db.tbLink, {{"PageURL", other.url("/page")}});
        test::addRecord(db.tbAncor, {{"URL", "mine.example"}});
    }
    fetcher.readTimeoutMs = 500;
    fetcher.retries = 0;
    fetcher.maxInFlight = 4;
    struct Watching final : web::RunPanel {
        void showRun(bool) override {}
        void setProgress(int) override {}
        void processEvents() override {
            if (seen < 0) seen = int(other->requests().size());
        }
        HttpServer* other = nullptr;
        int seen = -1;
    } watching;
    watching.other = &other;
    web::CheckAllPageLink(db, fetcher, ui, watching);
    // While the first page was awaited every other page was fetched, far beyond the requests in flight.
    EXPECT_EQ(watching.seen, 40);
}

TEST_F(BatchRuns, AMissingLinkThatWasFoundIsLookedAtOnceMoreBeforeItCounts) {
    HttpServer::Reply with;
    with.headers = {test::contentType("text/html; charset=utf-8")};
    with.body = "<a href=http://mine.example/>x</a> end";
    HttpServer::Reply without = with;
    without.body = "<a href=http://else.example/>x</a> end";
    auto count = std::make_shared<int>(0);
    server.on("/blink", [=](const HttpServer::Request&) { return (*count)++ % 2 ? with : without; });
    server.on("/lost", without);
    for (const char* path : {"/blink", "/lost"}) {
        test::addRecord(db.tbLink, {{"PageURL", server.url(QString::fromLatin1(path))}, {"PageStatus", "1"}});
        test::addRecord(db.tbAncor, {{"URL", "mine.example"}});
    }
    test::addRecord(db.tbLink, {{"PageURL", server.url("/lost")}, {"PageStatus", "0"}});
    test::addRecord(db.tbAncor, {{"URL", "mine.example"}});
    for (const int inFlight : {1, 8}) {
        for (int pos = 0; pos < 2; ++pos) {
            db.tbLink.moveTo(pos);
            db.tbLink.edit();
            db.tbLink.setValue("PageStatus", "1");
            db.tbLink.post();
        }
        *count = 0;
        const qsizetype before = server.requests().size();
        fetcher.maxInFlight = inFlight;
        web::CheckAllPageLink(db, fetcher, ui, panel);
        EXPECT_EQ(column(db.tbLink, "PageStatus"), (QStringList{"Размещено", "Пропажа", "Пропажа"}))
            << inFlight;
        // Two looks at each page that had its link; one at the page that never had it.
        EXPECT_EQ(server.requests().size() - before, 5) << inFlight;
    }
}
