#include <gtest/gtest.h>

#include "db/database.h"
#include "db/record_rules.h"
#include "db/site_view.h"
#include "support/records.h"
#include "support/scripted_ui.h"

using namespace zentaro::db;
namespace test = zentaro::test;
using zentaro::test::ScriptedUi;

namespace {

class SiteViewTest : public ::testing::Test {
protected:
    int add(Table& t, test::Values values = {}) { return test::addRecord(t, values); }
    QStringList shownSites() {
        QStringList out;
        for (int p = 0; p < db.tbSite.recordCount(); ++p)
            out << db.tbSite.valueAt(p, db.tbSite.fieldIndex("Site")).toString();
        return out;
    }
    Database db;
    ScriptedUi ui;
    RecordRules rules{db, ui};
};

} // namespace

TEST_F(SiteViewTest, SitesWithoutLinksCountLinksOfEveryProject) {
    const int a = add(db.tbSite, {{"Site", "a.ru"}});
    const int b = add(db.tbSite, {{"Site", "b.ru"}});
    add(db.tbSite, {{"Site", "c.ru"}});
    const int p1 = add(db.tbProject, {{"Name", "Первый"}});
    add(db.tbLink, {{"SiteID", a}});
    add(db.tbProject, {{"Name", "Второй"}});
    add(db.tbLink, {{"SiteID", b}});
    db.tbProject.locate("ID", p1);
    const QString linkFilter = db.tbLink.filter();
    sbShowSiteClick(db, rules);
    EXPECT_EQ(shownSites(), QStringList{"c.ru"});
    EXPECT_EQ(db.tbSite.filter(), QStringLiteral("FS1=0"));
    EXPECT_FALSE(rules.siteCatEnabled());
    EXPECT_TRUE(db.tbLink.filtered());
    EXPECT_EQ(db.tbLink.filter(), linkFilter);
    EXPECT_FALSE(db.tbSite.controlsDisabled());
    EXPECT_FALSE(db.tbLink.controlsDisabled());
    // The marks are stored with the sites.
    db.tbSite.setFiltered(false);
    db.tbSite.first();
    EXPECT_EQ(db.tbSite.asString("FS1"), QStringLiteral("1"));
    db.tbSite.last();
    EXPECT_EQ(db.tbSite.asString("FS1"), QStringLiteral("0"));
}

TEST_F(SiteViewTest, ASecondRunReMarksOnlyTheSitesStillShown) {
    const int a = add(db.tbSite, {{"Site", "a.ru"}});
    add(db.tbSite, {{"Site", "b.ru"}});
    add(db.tbProject);
    add(db.tbLink, {{"SiteID", a}});
    add(db.tbLink, {{"SiteID", 999}});
    sbShowSiteClick(db, rules);
    EXPECT_EQ(shownSites(), QStringList{"b.ru"});
    db.tbLink.setFiltered(false);
    db.tbLink.first();
    ui.answer(true);
    db.tbLink.deleteRecord(); // a.ru has no link now, but stays hidden until the filters are cleared
    rules.SetLinkFilter();
    sbShowSiteClick(db, rules);
    EXPECT_EQ(shownSites(), QStringList{"b.ru"});
    SpeedButton5Click(db, rules);
    EXPECT_TRUE(rules.siteCatEnabled());
    EXPECT_FALSE(db.tbSite.filtered());
    EXPECT_EQ(db.tbSite.filter(), QString());
    EXPECT_EQ(shownSites(), (QStringList{"a.ru", "b.ru"}));
    sbShowSiteClick(db, rules);
    EXPECT_EQ(shownSites(), (QStringList{"a.ru", "b.ru"}));
}

TEST_F(SiteViewTest, NoLinkNamingASiteMarksNothingAndNoSiteChangesNothing) {
    add(db.tbProject);
    EXPECT_FALSE(ShowTrustSite(db)); // no site, no link
    EXPECT_TRUE(db.tbLink.filtered());
    add(db.tbSite, {{"Site", "a.ru"}});
    add(db.tbLink); // a link without a site
    const QString linkFilter = db.tbLink.filter();
    EXPECT_FALSE(ShowTrustSite(db));
    EXPECT_FALSE(db.tbSite.filtered());
    EXPECT_EQ(db.tbLink.filter(), linkFilter);
    db.tbSite.first();
    EXPECT_TRUE(db.tbSite.isNull("FS1"));
}

TEST_F(SiteViewTest, CategoryBoxFiltersByTheCurrentCategoryOnlyWhenThereIsOne) {
    rules.setSiteCatChecked(true);
    add(db.tbSite);
    cbSiteCatClick(db, rules); // no category: the list stays unfiltered
    EXPECT_FALSE(db.tbSite.filtered());
    rules.setSiteCatChecked(false);
    const int cat = add(db.tbCat);
    add(db.tbSite);
    rules.setSiteCatChecked(true);
    cbSiteCatClick(db, rules);
    EXPECT_TRUE(db.tbSite.filtered());
    EXPECT_EQ(db.tbSite.filter(), QStringLiteral("CatID=%1").arg(cat));
    EXPECT_EQ(db.tbSite.recordCount(), 1);
    rules.setSiteCatChecked(false);
    cbSiteCatClick(db, rules);
    EXPECT_FALSE(db.tbSite.filtered());
    EXPECT_EQ(db.tbSite.filter(), QStringLiteral("CatID=%1").arg(cat)); // the text stays
    rules.setSiteCatChecked(true);
    cbSiteCatClick(db, rules);
    sbShowSiteClick(db, rules);
    EXPECT_FALSE(rules.siteCatChecked());
}

TEST_F(SiteViewTest, LinkHereAddsALinkOfTheCurrentProjectOnTheSite) {
    add(db.tbSite, {{"Site", "Пример.рф"}, {"TIC", 40}, {"PR", 3}});
    EXPECT_EQ(canLinkHere(db), LinkHereResult::NoProject);
    EXPECT_EQ(insertLinkHere(db), LinkHereResult::NoProject);
    db.tbLink.setFiltered(false);
    EXPECT_EQ(db.tbLink.recordCount(), 0);
    const int p = add(db.tbProject);
    rules.setLinkFilterMode(LinkFilterMode::Cat);
    EXPECT_EQ(insertLinkHere(db), LinkHereResult::Done);
    EXPECT_EQ(rules.linkFilterMode(), LinkFilterMode::AllUrl);
    EXPECT_EQ(db.tbLink.asString("PageURL"), QStringLiteral("http://Пример.рф/<страница>"));
    EXPECT_EQ(db.tbLink.asInteger("SiteID"), 1);
    EXPECT_EQ(db.tbLink.asInteger("ProjectID"), p);
    EXPECT_EQ(db.tbLink.asInteger("TIC"), 40);
    EXPECT_EQ(db.tbLink.asInteger("PR"), 3);
    EXPECT_EQ(db.tbLink.asString("PageStatus"), QStringLiteral("0"));
    EXPECT_EQ(db.tbLink.recordCount(), 1);

    add(db.tbSite, {{"Site", "https://secure.ru"}, {"RegURL", "http://secure.ru/reg"}});
    EXPECT_EQ(insertLinkHere(db), LinkHereResult::Done);
    EXPECT_EQ(db.tbLink.asString("PageURL"), QStringLiteral("https://secure.ru/<страница>"));
    EXPECT_EQ(trustSiteAddress(db), QStringLiteral("http://secure.ru/reg"));
}

TEST_F(SiteViewTest, AccountBoxesAndLostLinkMark) {
    const int acc = add(db.tbAccount, {{"User", "ivan"}, {"Password", "секрет"}, {"email", "i@mail.ru"}});
    add(db.tbSite);
    add(db.tbProject);
    add(db.tbLink, {{"PageStatus", "2"}});
    AccountData none = accountDataFor(db);
    EXPECT_TRUE(none.login.isEmpty() && none.password.isEmpty() && none.email.isEmpty());
    EXPECT_TRUE(isLostLinkRow(db.tbLink, 0));
    db.tbLink.setValue("AccountID", acc);
    db.tbLink.post();
    const AccountData a = accountDataFor(db);
    EXPECT_EQ(a.login, QStringLiteral("ivan"));
    EXPECT_EQ(a.password, QStringLiteral("секрет"));
    EXPECT_EQ(a.email, QStringLiteral("i@mail.ru"));
    db.tbLink.setValue("AccountID", 77); // an account that does not exist
    EXPECT_TRUE(accountDataFor(db).login.isEmpty());
    db.tbLink.setValue("PageStatus", "1");
    EXPECT_FALSE(isLostLinkRow(db.tbLink, 0));
    db.isAuto = true;
    EXPECT_TRUE(accountDataFrozen(db));
    db.isAuto = false;
}
