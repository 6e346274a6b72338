#include <gtest/gtest.h>

#include <QTemporaryDir>

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
