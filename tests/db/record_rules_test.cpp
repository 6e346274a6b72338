#include <limits>

#include <gtest/gtest.h>

#include <QDate>
#include <QSignalSpy>

#include "db/database.h"
#include "db/record_rules.h"
#include "support/records.h"
#include "support/scripted_ui.h"

using namespace zentaro::db;
namespace test = zentaro::test;
using zentaro::test::ScriptedUi;

namespace {

class RecordRulesTest : public ::testing::Test {
protected:
    // Adds a record through the rules and gives it the values; returns its ID.
    int add(Table& t, test::Values values = {}) { return test::addRecord(t, values); }
    int count(Table& t) {
        const bool on = t.filtered();
        t.setFiltered(false);
        const int n = t.recordCount();
        t.setFiltered(on);
        return n;
    }
    void expectFlagsClear() {
        EXPECT_FALSE(db.InsFlag);
        EXPECT_FALSE(db.isAuto);
    }
    // Project 1 with three links (five anchors) in two categories, project 2 with one link and one anchor.
    void twoProjects() {
        add(db.tbSite, {{"Site", QStringLiteral("trust.ru")}});
        p1 = add(db.tbProject, {{"Name", QStringLiteral("Первый")}});
        c1 = add(db.tbCat2, {{"Name", QStringLiteral("К1")}});
        c2 = add(db.tbCat2, {{"Name", QStringLiteral("К2")}});
        for (int i = 0; i < 3; ++i) {
            db.tbCat2.locate("ID", i == 2 ? c2 : c1);
            add(db.tbLink, {{"PageURL", QStringLiteral("http://trust.ru/%1").arg(i)}, {"SiteID", 1}});
            for (int a = 0; a < (i == 0 ? 1 : 2); ++a)
                add(db.tbAncor, {{"URL", QStringLiteral("http://p1.ru/")}});
        }
        p2 = add(db.tbProject, {{"Name", QStringLiteral("Второй")}});
        add(db.tbCat2, {{"Name", QStringLiteral("К3")}});
        add(db.tbLink, {{"PageURL", QStringLiteral("http://trust.ru/p2")}, {"SiteID", 1}});
        add(db.tbAncor, {{"URL", QStringLiteral("http://p2.ru/")}});
    }

    Database db;
    ScriptedUi ui;
    RecordRules rules{db, ui};
    int p1 = 0, p2 = 0, c1 = 0, c2 = 0;
};

} // namespace

TEST_F(RecordRulesTest, NewIdIsOneMoreThanTheHighestAndADeletedLastIdIsGivenAgain) {
    EXPECT_EQ(add(db.tbProject), 1);
    EXPECT_EQ(add(db.tbProject), 2);
    add(db.tbProject, {{"ID", 7}});
    db.tbProject.setIndexFieldNames("Name"); // the rule ignores the order and filter it finds
    EXPECT_EQ(add(db.tbProject), 8);
    ui.answer(true);
    ASSERT_TRUE(db.tbProject.locate("ID", 8));
    ASSERT_TRUE(db.tbProject.deleteRecord());
    EXPECT_EQ(add(db.tbProject), 8);
    EXPECT_EQ(db.tbProject.indexFieldNames(), QStringLiteral("ID"));
    // The highest number (as a text import may bring) is never followed by a repeated or negative one.
    add(db.tbProject, {{"ID", std::numeric_limits<int>::max()}});
    EXPECT_EQ(add(db.tbProject), 3);
    EXPECT_EQ(add(db.tbProject), 4);
    expectFlagsClear();
}

TEST_F(RecordRulesTest, NewRecordIsStoredAtOnceWithItsDefaults) {
    const QDate today = QDate::currentDate();
    ASSERT_TRUE(db.tbProject.insert());
    EXPECT_EQ(db.tbProject.state(), Table::State::Browse);
    db.tbProject.setValue("Name", QStringLiteral("x"));
    db.tbProject.cancel(); // cancelling the typing keeps the stored record
    EXPECT_EQ(count(db.tbProject), 1);
    EXPECT_EQ(db.tbProject.asDate("DateAdd"), today);

    add(db.tbCat, {{"Name", QStringLiteral("Каталоги")}});
    EXPECT_EQ(db.tbCat.asInteger("ID"), 1);
    EXPECT_EQ(add(db.tbSite), 1);
    EXPECT_EQ(db.tbSite.asInteger("CatID"), 1);
    add(db.tbCat2);
    EXPECT_EQ(db.tbCat2.asInteger("PID"), 1);
    add(db.tbLink);
    EXPECT_EQ(db.tbLink.asInteger("ID"), 1);
    EXPECT_EQ(db.tbLink.asDate("PublicDate"), today);
    EXPECT_EQ(db.tbLink.asInteger("ProjectID"), 1);
    EXPECT_EQ(db.tbLink.asString("PageStatus"), QStringLiteral("0"));
    EXPECT_EQ(db.tbLink.asInteger("LinkCat"), 1);
    EXPECT_TRUE(db.tbLink.isNull("SiteID"));
    add(db.tbAccount);
    EXPECT_EQ(db.tbAccount.asInteger("ID"), 1);
    EXPECT_FALSE(db.tbAccount.filtered());
    EXPECT_FALSE(db.tbSite.filtered());
    expectFlagsClear();
}

TEST_F(RecordRulesTest, AnAnchorAddedWhileALinkPageIsCurrentIsShownAtOnce) {
    add(db.tbSite);
    add(db.tbProject);
    for (int i = 0; i < 5; ++i)
        add(db.tbLink);
    ASSERT_TRUE(db.tbLink.locate("ID", 5));
    EXPECT_EQ(db.tbAncor.filter(), QStringLiteral("LinkID=5"));
    add(db.tbAncor, {{"Ancor", QStringLiteral("купить")}});
    EXPECT_EQ(db.tbAncor.asInteger("LinkID"), 5);
    EXPECT_EQ(db.tbAncor.recordCount(), 1);
    EXPECT_EQ(db.tbAncor.filter(), QStringLiteral("LinkID=5"));
    EXPECT_TRUE(db.tbAncor.filtered());
}

TEST_F(RecordRulesTest, InsertGuardsRefuseSilently) {
    EXPECT_FALSE(db.tbCat2.insert()); // no project
    EXPECT_EQ(count(db.tbCat2), 0);
    EXPECT_FALSE(db.tbAncor.insert()); // no link page
    EXPECT_EQ(count(db.tbAncor), 0);
    EXPECT_TRUE(ui.shown().empty());
}

TEST_F(RecordRulesTest, ALinkAddedWithNoCurrentSiteStaysAsInsertedWithoutIdOrDefaults) {
    add(db.tbProject);
    ASSERT_TRUE(db.tbLink.insert());
    EXPECT_EQ(db.tbLink.state(), Table::State::Insert);
    EXPECT_TRUE(db.tbLink.isNull("ID"));
    EXPECT_TRUE(db.tbLink.isNull("ProjectID"));
    EXPECT_TRUE(db.tbLink.isNull("PageStatus"));
    db.tbLink.cancel();
    EXPECT_EQ(count(db.tbLink), 0);
    expectFlagsClear();
}

TEST_F(RecordRulesTest, AddingALinkSwitchesTheViewToAllLinksOfTheProjectAndShowsIt) {
    twoProjects();
    db.tbProject.locate("ID", p1);
    db.tbCat2.locate("ID", c2);
    QSignalSpy mode(&rules, &RecordRules::linkFilterModeChanged);
    rules.setLinkFilterMode(LinkFilterMode::Cat);
    EXPECT_EQ(db.tbLink.filter(), QStringLiteral("LinkCat=%1 and ProjectID=%2").arg(c2).arg(p1));
    EXPECT_EQ(db.tbLink.recordCount(), 1);
    const int id = add(db.tbLink, {{"PageURL", QStringLiteral("http://new.ru/")}});
    EXPECT_EQ(rules.linkFilterMode(), LinkFilterMode::AllUrl);
    ASSERT_EQ(mode.count(), 2);
    EXPECT_EQ(db.tbLink.filter(), QStringLiteral("ProjectID=%1").arg(p1));
    EXPECT_EQ(db.tbLink.recordCount(), 4);
    EXPECT_EQ(db.tbLink.asInteger("ID"), id);
    EXPECT_EQ(db.tbLink.asInteger("LinkCat"), c2);
}

TEST_F(RecordRulesTest, DeletingAProjectAsksAndTakesItsLinksAnchorsAndCategoriesOnly) {
    twoProjects();
    ASSERT_EQ(count(db.tbLink), 4);
    ASSERT_EQ(count(db.tbAncor), 6);
    ASSERT_EQ(count(db.tbCat2), 3);
    db.tbProject.locate("ID", p1);
    ui.clear();
    ui.answer(false);
    EXPECT_FALSE(db.tbProject.deleteRecord());
    EXPECT_EQ(count(db.tbProject) + count(db.tbLink) + count(db.tbAncor) + count(db.tbCat2), 2 + 4 + 6 + 3);
    ui.answer(true);
    EXPECT_TRUE(db.tbProject.deleteRecord());
    ASSERT_EQ(ui.shown().size(), 2u);
    EXPECT_EQ(ui.shown()[1].text, QStringLiteral("Удалить все ссылки и категории данного проекта?"));
    EXPECT_EQ(ui.shown()[1].caption, QStringLiteral("Удаление"));
    EXPECT_EQ(count(db.tbProject), 1);
    EXPECT_EQ(count(db.tbLink), 1);
    EXPECT_EQ(count(db.tbAncor), 1);
    EXPECT_EQ(count(db.tbCat2), 1);
    EXPECT_EQ(count(db.tbSite), 1);
    // The remaining project is current and its details are shown.
    EXPECT_EQ(db.tbProject.asInteger("ID"), p2);
    EXPECT_EQ(db.tbLink.filter(), QStringLiteral("ProjectID=%1").arg(p2));
    EXPECT_EQ(db.tbLink.recordCount(), 1);
    EXPECT_EQ(db.tbCat2.recordCount(), 1);
    expectFlagsClear();
}

TEST_F(RecordRulesTest, DeletingTheLastProjectLeavesBothDetailViewsEmpty) {
    add(db.tbSite);
    add(db.tbProject);
    add(db.tbCat2);
    add(db.tbLink);
    ui.answer(true);
    ASSERT_TRUE(db.tbProject.deleteRecord());
    EXPECT_EQ(db.tbLink.filter(), QStringLiteral("ProjectID=-1"));
    EXPECT_EQ(db.tbCat2.filter(), QStringLiteral("PID=-1"));
    EXPECT_EQ(db.tbLink.recordCount(), 0);
    EXPECT_EQ(db.tbCat2.recordCount(), 0);
    EXPECT_EQ(rules.ppInfo(), QString());
}

TEST_F(RecordRulesTest, LinkCategoryDeleteAsksAboutItsLinks) {
    twoProjects();
    db.tbProject.locate("ID", p1);
    db.tbCat2.locate("ID", c1);
    ui.clear();
    ui.answer(false);
    ASSERT_TRUE(db.tbCat2.deleteRecord());
    ASSERT_EQ(ui.shown().size(), 1u);
    EXPECT_EQ(ui.shown()[0].text, QStringLiteral("Удалить все ссылки этой категории?"));
    EXPECT_EQ(ui.shown()[0].caption, QStringLiteral("Удаление категории"));
    EXPECT_EQ(count(db.tbCat2), 2);
    EXPECT_EQ(count(db.tbLink), 4); // No keeps the links with their old category number
    db.tbLink.setFiltered(false);
    EXPECT_TRUE(db.tbLink.locate("LinkCat", c1));
    db.tbLink.setFiltered(true);

    rules.SetLinkFilter();
    const QString before = db.tbLink.filter();
    db.tbCat2.locate("ID", c2);
    ui.answer(true);
    ASSERT_TRUE(db.tbCat2.deleteRecord());
    EXPECT_EQ(count(db.tbLink), 3);
    EXPECT_EQ(count(db.tbAncor), 4); // the deleted link carried two anchors
    EXPECT_TRUE(db.tbLink.filtered());
    EXPECT_EQ(db.tbLink.filter(), before);
}

TEST_F(RecordRulesTest, SiteCategoryDeleteAsksOnlyWhenItHasAnId) {
    add(db.tbCat);
    add(db.tbSite);
    add(db.tbSite);
    add(db.tbCat);
    add(db.tbSite);
    ASSERT_TRUE(db.tbCat.locate("ID", 1));
    ui.answer(true);
    ASSERT_TRUE(db.tbCat.deleteRecord());
    EXPECT_EQ(ui.shown().back().text, QStringLiteral("Удалить все сайты этой категории?"));
    EXPECT_EQ(ui.shown().back().caption, QStringLiteral("Удаление категории"));
    EXPECT_EQ(count(db.tbSite), 1);
    EXPECT_EQ(db.tbSite.asInteger("CatID"), 2);
    ui.answer(false);
    ASSERT_TRUE(db.tbCat.deleteRecord());
    EXPECT_EQ(count(db.tbCat), 0);
    EXPECT_EQ(count(db.tbSite), 1);

    // A category record without an ID (as program code may add one) goes without a question.
    ui.clear();
    db.InsFlag = true;
    ASSERT_TRUE(db.tbCat.insert());
    db.tbCat.setValue("Name", QStringLiteral("без номера"));
    db.tbCat.post();
    db.InsFlag = false;
    ASSERT_TRUE(db.tbCat.deleteRecord());
    EXPECT_TRUE(ui.shown().empty());
    EXPECT_EQ(count(db.tbCat), 0);
}

TEST_F(RecordRulesTest, DeletingALinkPageTakesItsAnchorsWithoutAQuestion) {
    twoProjects();
    db.tbProject.locate("ID", p1);
    db.tbLink.last();
    const int link = db.tbLink.asInteger("ID");
    EXPECT_EQ(db.tbAncor.recordCount(), 2);
    ui.clear();
    ASSERT_TRUE(db.tbLink.deleteRecord());
    EXPECT_TRUE(ui.shown().empty());
    EXPECT_EQ(count(db.tbAncor), 4);
    db.tbAncor.setFiltered(false);
    EXPECT_FALSE(db.tbAncor.locate("LinkID", link));
}

TEST_F(RecordRulesTest, NavigatorsThatAskBeforeDeleting) {
    for (const char* nav :
         {"DBNavigator4", "DBNavigator5", "DBNavigator8", "DBNavigator9", "DBNavigator10"}) {
        ui.clear();
        ui.answer(false);
        EXPECT_FALSE(rules.DBNavigator1BeforeAction(QString::fromLatin1(nav), NavButton::Delete)) << nav;
        ui.answer(true);
        EXPECT_TRUE(rules.DBNavigator1BeforeAction(QString::fromLatin1(nav), NavButton::Delete)) << nav;
        ASSERT_EQ(ui.shown().size(), 2u);
        EXPECT_EQ(ui.shown()[0].text, QStringLiteral("Удалить запись?"));
        EXPECT_EQ(ui.shown()[0].caption, QStringLiteral("Удаление"));
        EXPECT_TRUE(rules.DBNavigator1BeforeAction(QString::fromLatin1(nav), NavButton::Insert));
        EXPECT_EQ(ui.shown().size(), 2u);
    }
    ui.clear();
    for (const char* nav : {"DBNavigator1", "DBNavigator2", "DBNavigator3", "DBNavigator6", "DBNavigator7"})
        EXPECT_TRUE(rules.DBNavigator1BeforeAction(QString::fromLatin1(nav), NavButton::Delete)) << nav;
    EXPECT_TRUE(ui.shown().empty());
}

TEST_F(RecordRulesTest, LinkFilterFollowsTheCheckedModeProjectSiteAndCategory) {
    twoProjects();
    const int s2 = add(db.tbSite, {{"Site", QStringLiteral("второй.рф")}});
    db.tbProject.locate("ID", p1);
    EXPECT_EQ(db.tbLink.filter(), QStringLiteral("ProjectID=%1").arg(p1));
    rules.setLinkFilterMode(LinkFilterMode::UrlSite);
    EXPECT_EQ(db.tbLink.filter(), QStringLiteral("SiteID=%1 and ProjectID=%2").arg(s2).arg(p1));
    db.tbSite.first();
    EXPECT_EQ(db.tbLink.filter(), QStringLiteral("SiteID=1 and ProjectID=%1").arg(p1));
    EXPECT_EQ(rules.rbListUrlSiteCaption(), QStringLiteral("Трастовый сайт (trust.ru)"));
    // While the page of a site's links is shown, moving through sites leaves the link filter alone.
    rules.setSiteLinkPageShown(true);
    db.tbSite.last();
    EXPECT_EQ(db.tbLink.filter(), QStringLiteral("SiteID=1 and ProjectID=%1").arg(p1));
    EXPECT_EQ(rules.rbListUrlSiteCaption(), QStringLiteral("Трастовый сайт (второй.рф)"));
    rules.setSiteLinkPageShown(false);
    rules.setLinkFilterMode(LinkFilterMode::Cat);
    db.tbCat2.locate("ID", c1);
    EXPECT_EQ(db.tbLink.filter(), QStringLiteral("LinkCat=%1 and ProjectID=%2").arg(c1).arg(p1));
    EXPECT_EQ(db.tbLink.recordCount(), 2);
}

TEST_F(RecordRulesTest, CategoryModeWithoutCategoriesShowsNoLinks) {
    add(db.tbSite);
    add(db.tbProject);
    add(db.tbLink);
    rules.setLinkFilterMode(LinkFilterMode::Cat);
    EXPECT_EQ(db.tbLink.filter(), QStringLiteral("SiteID=-1"));
    EXPECT_EQ(db.tbLink.recordCount(), 0);
}

TEST_F(RecordRulesTest, SiteModeWithoutAProjectShowsNoLinks) {
    add(db.tbSite);
    rules.setLinkFilterMode(LinkFilterMode::UrlSite);
    EXPECT_EQ(db.tbLink.filter(), QStringLiteral("SiteID=1 and ProjectID=-1"));
}

TEST_F(RecordRulesTest, ProjectMoveRenamesTheInfoPanelAndTheShowSiteHint) {
    twoProjects();
    QSignalSpy texts(&rules, &RecordRules::textsChanged);
    db.tbProject.locate("ID", p1);
    EXPECT_EQ(rules.ppInfo(), QStringLiteral("Первый"));
    EXPECT_EQ(rules.sbShowSiteHint(),
              QStringLiteral("Показать на каких сайтах пока нет ссылок на проект \"Первый\""));
    EXPECT_GE(texts.count(), 1);
    EXPECT_EQ(db.tbCat2.filter(), QStringLiteral("PID=%1").arg(p1));
    EXPECT_EQ(db.tbCat2.recordCount(), 2);
    // The links view moved to its last record; the anchors follow it.
    EXPECT_EQ(db.tbLink.recNo(), 3);
    EXPECT_EQ(db.tbAncor.filter(), QStringLiteral("LinkID=%1").arg(db.tbLink.asInteger("ID")));
    EXPECT_EQ(rules.pLinkInfo(), QStringLiteral("trust.ru  "));
}

TEST_F(RecordRulesTest, SwitchedOffProjectViewHoldsTheDetailFilters) {
    twoProjects();
    db.tbProject.locate("ID", p1);
    const QString filter = db.tbLink.filter();
    db.tbProject.disableControls();
    db.tbProject.locate("ID", p2);
    EXPECT_EQ(db.tbLink.filter(), filter);
    db.tbProject.enableControls();
    db.isAuto = true;
    db.tbProject.locate("ID", p1);
    db.tbProject.locate("ID", p2);
    EXPECT_EQ(db.tbLink.filter(), filter);
    db.isAuto = false;
}

TEST_F(RecordRulesTest, LinkWithoutRecordShowsNoAnchors) {
    twoProjects();
    db.tbProject.locate("ID", p2);
    EXPECT_EQ(db.tbAncor.recordCount(), 1);
    add(db.tbProject); // a new project has no links: the anchor view empties too
    EXPECT_EQ(db.tbLink.recordCount(), 0);
    EXPECT_EQ(db.tbAncor.filter(), QStringLiteral("LinkID=-1"));
    EXPECT_EQ(db.tbAncor.recordCount(), 0);
    EXPECT_EQ(rules.pLinkInfo(), QStringLiteral("  "));
}

TEST_F(RecordRulesTest, SiteCategoryBoxFiltersSitesByTheCurrentCategory) {
    add(db.tbCat);
    add(db.tbSite);
    add(db.tbCat);
    add(db.tbSite);
    add(db.tbSite);
    rules.setSiteCatChecked(true);
    db.tbSite.setFiltered(true);
    db.tbCat.first();
    EXPECT_EQ(db.tbSite.filter(), QStringLiteral("CatID=1"));
    EXPECT_EQ(db.tbSite.recordCount(), 1);
    db.tbCat.last();
    EXPECT_EQ(db.tbSite.recordCount(), 2);
    ui.answer(false);
    db.tbCat.deleteRecord();
    ui.answer(false);
    db.tbCat.deleteRecord();
    EXPECT_EQ(db.tbSite.filter(), QStringLiteral("CatID=-1"));
    EXPECT_EQ(db.tbSite.recordCount(), 0);
    rules.setSiteCatChecked(false);
    db.tbSite.setFiltered(false);
    EXPECT_EQ(db.tbSite.recordCount(), 3);
}

TEST_F(RecordRulesTest, LinkCategoryDeleteDuringAnAutomaticRunNeitherAsksNorCascades) {
    twoProjects();
    db.tbProject.locate("ID", p1);
    db.tbCat2.locate("ID", c1);
    ui.clear();
    db.isAuto = true;
    ASSERT_TRUE(db.tbCat2.deleteRecord());
    db.isAuto = false;
    EXPECT_TRUE(ui.shown().empty());
    EXPECT_EQ(count(db.tbLink), 4);
}
