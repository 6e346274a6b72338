#include <gtest/gtest.h>

#include <QDate>

#include "db/database.h"
#include "db/record_rules.h"
#include "support/http_server.h"
#include "support/records.h"
#include "support/scripted_ui.h"
#include "web/ext_links.h"
#include "web/link_presence.h"
#include "web/page_fetcher.h"
#include "web/site_metrics.h"

using namespace zentaro;
using test::HttpServer;

namespace {

class WebChecks : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(server.listening());
        fetcher.readTimeoutMs = 2000;
        fetcher.hosts.yandexToolbar = server.host();
        fetcher.hosts.googleToolbar = server.host();
        add(db.tbSite, {{"Site", "trust.ru"}});
        add(db.tbProject, {{"Name", "Проект"}});
    }
    int add(db::Table& t, test::Values values = {}) { return test::addRecord(t, values); }
    void page(const QByteArray& path, const QByteArray& body) {
        HttpServer::Reply r;
        r.headers = {test::contentType("text/html; charset=utf-8")};
        r.body = body;
        server.on(path, r);
    }
    void addLinkWithAnchors(const QString& url, const QStringList& anchors) {
        add(db.tbLink, {{"PageURL", url}});
        for (const QString& a : anchors)
            add(db.tbAncor, {{"URL", a}});
    }

    HttpServer server;
    web::PageFetcher fetcher;
    db::Database db;
    test::ScriptedUi ui;
    db::RecordRules rules{db, ui};
};

} // namespace

TEST_F(WebChecks, PresentAnchorsAreReportedInOrderAndSetTheStatus) {
    page("/page",
         "<p><A HREF=http://site.example/page>x</A> and <a href='http://Other.example'>y</a> end</p>");
    addLinkWithAnchors(server.url("/page"),
                       {"Site.Example/Page/", "http://missing.example", "other.example "});
    web::SpeedButton3Click(db, fetcher, ui);
    EXPECT_EQ(db.tbLink.asString("PageStatus"), QStringLiteral("2"));
    ASSERT_EQ(ui.shown().size(), 1u);
    EXPECT_EQ(ui.shown()[0].caption, QStringLiteral("Информация"));
    EXPECT_EQ(ui.shown()[0].text,
              QStringLiteral("Наличие ссылок на странице: \r\n[Есть]_Site.Example/Page/\r\n"
                             "[Нет]_http://missing.example\r\n[Есть]_other.example \r\n"));
    db.tbAncor.first();
    db.tbAncor.next();
    db.tbAncor.setValue("URL", QStringLiteral("other.example"));
    db.tbAncor.post();
    web::CheckPageLink(db, fetcher, ui, db.tbLink.asString("PageURL"), false);
    EXPECT_EQ(db.tbLink.asString("PageStatus"), QStringLiteral("1"));
    EXPECT_EQ(ui.shown().size(), 1u);
    EXPECT_EQ(db.tbAncor.recNo(), 2); // the anchors are read by row: the view keeps its current record
}

TEST_F(WebChecks, SchemeMattersAndEmptyAnchorAddressesAreNeverFound) {
    page("/secure", "<a href=https://site.example>x</a> text");
    addLinkWithAnchors(server.url("/secure"), {"http://site.example", ""});
    web::SpeedButton3Click(db, fetcher, ui);
    EXPECT_EQ(db.tbLink.asString("PageStatus"), QStringLiteral("2"));
    EXPECT_EQ(ui.shown().back().text,
              QStringLiteral("Наличие ссылок на странице: \r\n[Нет]_http://site.example\r\n[Нет]_\r\n"));
}

TEST_F(WebChecks, NoAnchorsMarksMissingWithoutARequest) {
    addLinkWithAnchors(server.url("/never"), {});
    web::SpeedButton3Click(db, fetcher, ui);
    EXPECT_EQ(db.tbLink.asString("PageStatus"), QStringLiteral("2"));
    EXPECT_EQ(ui.shown().back().text, QStringLiteral("У этой веб-страницы не указаны ссылки."));
    EXPECT_TRUE(server.requests().isEmpty());
    EXPECT_EQ(db.tbAncor.filter(), QStringLiteral("LinkID=%1").arg(db.tbLink.asInteger("ID")));
}

// A page without anchor records is checked for its project's site address; the links pane command gives
// such pages that address as an anchor.
TEST_F(WebChecks, PagesWithoutAnchorsAreCheckedForTheProjectSiteAndCanGetItAsAnAnchor) {
    db.tbProject.edit();
    db.tbProject.setValue("Site", QStringLiteral("Project.Example"));
    db.tbProject.post();
    page("/imported", "<a href='http://project.example/'>x</a>");
    addLinkWithAnchors(server.url("/with"), {"mine.example"});
    addLinkWithAnchors(server.url("/imported"), {});
    const int id = db.tbLink.asInteger("ID");
    web::SpeedButton3Click(db, fetcher, ui);
    EXPECT_EQ(db.tbLink.asString("PageStatus"), QStringLiteral("1"));
    EXPECT_EQ(ui.shown().back().text,
              QStringLiteral("Наличие ссылок на странице: \r\n[Есть]_Project.Example\r\n"));
    EXPECT_EQ(web::addSiteAnchorsToPagesWithoutAnchors(db, ui), 1);
    EXPECT_EQ(ui.shown().back().text, QStringLiteral("Добавлено анкоров: 1"));
    const int row = db.tbAncor.findRow("LinkID", id);
    ASSERT_GE(row, 0);
    EXPECT_EQ(db.tbAncor.rowValue(row, db.tbAncor.fieldIndex("URL")).toString(),
              QStringLiteral("Project.Example"));
    EXPECT_EQ(web::addSiteAnchorsToPagesWithoutAnchors(db, ui), 0);
}

TEST_F(WebChecks, FailedFetchOrPageWithoutLinksKeepsTheStatusAndSaysWhyWhenAsked) {
    page("/text", "plain text without any link element");
    addLinkWithAnchors(server.url("/gone"), {"site.example"});
    web::SpeedButton3Click(db, fetcher, ui);
    db.tbLink.setValue("PageURL", server.url("/text"));
    db.tbLink.post();
    web::SpeedButton3Click(db, fetcher, ui);
    EXPECT_EQ(db.tbLink.asString("PageStatus"), QStringLiteral("0"));
    EXPECT_EQ(ui.texts(), (QStringList{QStringLiteral("Страница недоступна: ответ сервера 404"),
                                       QStringLiteral("На странице нет ни одной ссылки.")}));
    // A run over many pages stays silent.
    web::CheckPageLink(db, fetcher, ui, server.url("/gone"), false);
    EXPECT_EQ(ui.shown().size(), 2u);
}

TEST_F(WebChecks, ExternalLinkCountIsStoredOrReportedAsAnError) {
    page("/a", "<a href=/b>1</a> <a href=http://other.example/>2</a> <a href=https://other.example/ "
               "rel=nofollow>3</a> "
               "<a href=http://" +
                   server.host().toUtf8() + "/c>4</a> end");
    add(db.tbLink, {{"PageURL", server.url("/a")}, {"UrlCount", 7}});
    web::sbExtLinksClick(db, fetcher, ui);
    EXPECT_EQ(ui.shown().back().text, QStringLiteral("Число внешних ссылок на странице: 1"));
    EXPECT_EQ(db.tbLink.asInteger("UrlCount"), 1);
    EXPECT_FALSE(fetcher.GlobalStop);

    page("/plain", "no links here");
    db.tbLink.setValue("PageURL", server.url("/plain"));
    db.tbLink.post();
    web::sbExtLinksClick(db, fetcher, ui);
    EXPECT_EQ(ui.shown().back().text, QStringLiteral("Ошибка!"));
    EXPECT_EQ(db.tbLink.asInteger("UrlCount"), 1);
    EXPECT_FALSE(fetcher.GlobalStop);

    db.tbLink.setValue("PageURL", server.url("/gone"));
    db.tbLink.post();
    web::sbExtLinksClick(db, fetcher, ui);
    EXPECT_EQ(ui.shown().back().text, QStringLiteral("Ошибка!"));
    EXPECT_TRUE(fetcher.GlobalStop);
}

TEST(Checksum, KnownValuesForAbc) {
    EXPECT_EQ(web::Str2Num("abc", 5381, 33), 193485963);
    EXPECT_EQ(web::Str2Num("abc", 0, 65599), 807794786);
    EXPECT_EQ(web::HashURL("abc"), 8738946);
    EXPECT_EQ(web::GetHash(8738946), QStringLiteral("728738946"));
    // Worked out apart from the program for an address of Cyrillic letters (UTF-16 code units).
    EXPECT_EQ(web::HashURL(QStringLiteral("http://www.пример.рф/страница?x=1")), 641142457);
    EXPECT_EQ(web::GetHash(641142457), QStringLiteral("76641142457"));
}

TEST_F(WebChecks, SiteMetricsSendTheStoredAddressAndStoreWithTodaysDate) {
    HttpServer::Reply cy;
    cy.body = "<tcy rang=\"5\" value=\"120\"/>";
    server.on("/u", cy);
    HttpServer::Reply pr;
    pr.body = "Rank_1:1:4\n";
    server.on("/tbr", pr);
    db.tbSite.first();
    db.tbSite.setValue("Site", QStringLiteral("Site.Example"));
    db.tbSite.post();
    web::UpDatePRCY(db, fetcher, ui, 0);
    EXPECT_EQ(ui.shown().back().text, QStringLiteral("Обновление выполнено."));
    EXPECT_EQ(db.tbSite.asInteger("TIC"), 120);
    EXPECT_EQ(db.tbSite.asInteger("PR"), 4);
    EXPECT_EQ(db.tbSite.asDate("PRUpdate"), QDate::currentDate());
    const QByteArrayList targets = server.targets();
    ASSERT_EQ(targets.size(), 2);
    EXPECT_EQ(targets[0], "/tbr?features=Rank&sourceid=navclient-ff&client=navclient-auto-ff&ch=" +
                              web::GetHash(web::HashURL("Site.Example")).toUtf8() + "&q=info:Site.Example");
    EXPECT_EQ(targets[1], QByteArray("/u?ver=2&url=http://site.example&show=1"));

    db.tbSite.setValue("Site", QStringLiteral("HTTP://Site.Example"));
    db.tbSite.post();
    web::UpDatePRCY(db, fetcher, ui, 1);
    EXPECT_EQ(server.targets().last(), QByteArray("/u?ver=2&url=http://site.example&show=1"));
}

TEST_F(WebChecks, PageRankAnswersWithoutRankOrWithGarbage) {
    HttpServer::Reply cy;
    cy.body = "<x value=\"12a\"/>";
    server.on("/u", cy);
    HttpServer::Reply pr;
    pr.body = "nothing";
    server.on("/tbr", pr);
    EXPECT_EQ(web::GetCY(fetcher, "a.ru"), 12);
    web::PageRankResult r = web::GetPageRank(fetcher, "a.ru");
    EXPECT_TRUE(r.ok);
    EXPECT_EQ(r.value, -1);
    pr.body = "Rank_1:1:10";
    server.on("/tbr", pr);
    EXPECT_EQ(web::GetPageRank(fetcher, "a.ru").value, 10);
    pr.body = "Rank_1:1:x";
    server.on("/tbr", pr);
    r = web::GetPageRank(fetcher, "a.ru");
    EXPECT_FALSE(r.ok);
    EXPECT_TRUE(r.error.startsWith(QStringLiteral("GetPageRank Error: ")));
    cy.body = "<x/>";
    server.on("/u", cy);
    EXPECT_EQ(web::GetCY(fetcher, "a.ru"), 0);
    // Control characters around the rank are no part of it; many digits saturate; only ASCII digits count.
    const QList<QPair<QByteArray, int>> ranks = {{QByteArray("Rank_1:1:7\0", 11), 7},
                                                 {"Rank_1:1:\t5\r\n", 5}};
    for (const auto& [body, value] : ranks) {
        pr.body = body;
        server.on("/tbr", pr);
        r = web::GetPageRank(fetcher, "a.ru");
        EXPECT_TRUE(r.ok) << r.error.toStdString();
        EXPECT_EQ(r.value, value);
    }
    const QList<QPair<QByteArray, int>> tics = {{"<x value=\"99999999999999999999\"/>", INT32_MAX},
                                                {"<x value=\"-99999999999999999999\"/>", INT32_MIN},
                                                {"<x value=\"1\xd9\xa2\"/>", 1}};
    for (const auto& [body, value] : tics) {
        cy.body = body;
        server.on("/u", cy);
        EXPECT_EQ(web::GetCY(fetcher, "a.ru"), value) << body.toStdString();
    }
}

TEST_F(WebChecks, FailedPageRankKeepsTheEarlierValuesAndDate) {
    HttpServer::Reply broken;
    broken.body = "Rank_1:1:x";
    server.on("/tbr", broken);
    const QDate earlier(2025, 3, 1);
    db.tbSite.first();
    db.tbSite.setValue("TIC", 300);
    db.tbSite.setValue("PR", 5);
    db.tbSite.setValue("PRUpdate", earlier);
    db.tbSite.post();
    web::UpDatePRCY(db, fetcher, ui, 1);
    EXPECT_EQ(ui.shown().back().text, QStringLiteral("Ошибка обновления."));
    EXPECT_EQ(db.tbSite.asInteger("TIC"), 300);
    EXPECT_EQ(db.tbSite.asInteger("PR"), 5);
    EXPECT_EQ(db.tbSite.asDate("PRUpdate"), earlier);
    EXPECT_EQ(server.targets().size(), 1); // the TIC is not asked after a failed PageRank
    // The link page and the project: "Ошибка!" and nothing changed.
    add(db.tbLink, {{"PageURL", "http://page.example/x"}, {"TIC", 4}});
    db.tbProject.setValue("Site", QStringLiteral("proj.example"));
    db.tbProject.setValue("TIC", 9);
    db.tbProject.post();
    ui.clear();
    web::UpDateLinkPRCY(db, fetcher, ui, 1);
    web::sbPRCYProjectUpdateClick(db, fetcher, ui);
    EXPECT_EQ(ui.texts(), (QStringList{QStringLiteral("Ошибка!"), QStringLiteral("Ошибка!")}));
    EXPECT_EQ(db.tbLink.asInteger("TIC"), 4);
    EXPECT_TRUE(db.tbLink.isNull("PRUpdate"));
    EXPECT_EQ(db.tbProject.asInteger("TIC"), 9);
}

TEST_F(WebChecks, LinkPageAndProjectMetricsUseTheDomainAndThePreparedSite) {
    HttpServer::Reply cy;
    cy.body = " value=\"7\"";
    server.on("/u", cy);
    HttpServer::Reply pr;
    pr.body = "Rank_1:1:2";
    server.on("/tbr", pr);
    add(db.tbLink, {{"PageURL", "https://www.site.example/a/b.html"}});
    web::UpDateLinkPRCY(db, fetcher, ui, 1);
    EXPECT_EQ(ui.shown().back().text, QStringLiteral("Для домена site.example:\r\nтИЦ=7\r\nPR=2"));
    EXPECT_TRUE(server.targets()[0].endsWith("&q=info:site.example"));
    EXPECT_EQ(server.targets()[1], QByteArray("/u?ver=2&url=http://site.example&show=1"));
    EXPECT_EQ(db.tbLink.asInteger("TIC"), 7);

    db.tbProject.setValue("Site", QStringLiteral("http://www.site.example/"));
    db.tbProject.post();
    web::sbPRCYProjectUpdateClick(db, fetcher, ui);
    EXPECT_EQ(ui.shown().back().text, QStringLiteral("Для сайта site.example:\r\nтИЦ=7\r\nPR=2"));
    EXPECT_EQ(db.tbProject.asInteger("PR"), 2);

    const size_t shown = ui.shown().size();
    db.tbSite.first();
    db.tbSite.setValue("Site", QString());
    db.tbSite.post();
    const qsizetype before = server.requests().size();
    web::UpDatePRCY(db, fetcher, ui, 0);
    EXPECT_EQ(server.requests().size(), before);
    EXPECT_EQ(ui.shown().size(), shown);
}
