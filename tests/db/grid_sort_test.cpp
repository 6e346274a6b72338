#include <gtest/gtest.h>

#include "db/database.h"
#include "db/grid_sort.h"
#include "support/scripted_ui.h"

using namespace zentaro::db;
using zentaro::test::ScriptedUi;

namespace {

void add(Table& t, std::initializer_list<std::pair<const char*, QVariant>> values) {
    ASSERT_TRUE(t.insert());
    for (const auto& [k, v] : values)
        ASSERT_TRUE(t.setValue(QString::fromLatin1(k), v)) << k;
    t.post();
}

QList<int> ids(Table& t) {
    QList<int> out;
    for (int p = 0; p < t.recordCount(); ++p)
        out << t.valueAt(p, t.fieldIndex("ID")).toInt();
    return out;
}

class GridSortTest : public ::testing::Test {
protected:
    void SetUp() override {
        add(db.tbLink,
            {{"ID", 1}, {"TIC", 10}, {"PageURL", "http://b.ru"}, {"LinkCat", 3}, {"PageStatus", "2"}});
        add(db.tbLink,
            {{"ID", 2}, {"TIC", 30}, {"PageURL", "http://A.ru"}, {"LinkCat", 1}, {"PageStatus", "0"}});
        add(db.tbLink,
            {{"ID", 3}, {"TIC", 20}, {"PageURL", "http://c.ru"}, {"LinkCat", 2}, {"PageStatus", "1"}});
        db.tbLink.first();
    }
    Database db;
};

} // namespace

TEST_F(GridSortTest, TicAndPrSortLargestFirstAndRebuildTheirIndex) {
    gridTitleClick("grdLink", db.tbLink, "TIC");
    EXPECT_EQ(ids(db.tbLink), (QList<int>{2, 3, 1}));
    gridTitleClick("grdLink", db.tbLink, "TIC");
    EXPECT_EQ(ids(db.tbLink), (QList<int>{2, 3, 1}));
    EXPECT_EQ(db.tbLink.indexNames(), QStringList{"is_TIC"});
    gridTitleClick("grdLink", db.tbLink, "PageURL");
    EXPECT_EQ(ids(db.tbLink), (QList<int>{2, 1, 3}));
    EXPECT_EQ(db.tbLink.indexNames(), QStringList{"is_TIC"}); // left defined but inactive
    gridTitleClick("grdLink", db.tbLink, "PR");
    EXPECT_EQ(db.tbLink.indexNames(), QStringList{"is_PR"});
    EXPECT_TRUE(titleClickShowsWaitCursor("grdLink", "PageURL"));
    EXPECT_FALSE(titleClickShowsWaitCursor("grdLink", "TIC"));
}

TEST_F(GridSortTest, CategoryColumnSortsByCategoryIdAndStatusByCode) {
    gridTitleClick("grdLink", db.tbLink, "_CAT");
    EXPECT_EQ(db.tbLink.indexFieldNames(), QStringLiteral("LinkCat"));
    EXPECT_EQ(ids(db.tbLink), (QList<int>{2, 3, 1}));
    gridTitleClick("grdLink", db.tbLink, "PageStatus");
    EXPECT_EQ(ids(db.tbLink), (QList<int>{2, 3, 1}));
}

TEST_F(GridSortTest, SitesGridMovesToTheFirstRecordOfEveryNewOrder) {
    add(db.tbSite, {{"ID", 1}, {"Site", "b.ru"}, {"TIC", 5}, {"CatID", 2}});
    add(db.tbSite, {{"ID", 2}, {"Site", "a.ru"}, {"TIC", 50}, {"CatID", 1}});
    add(db.tbSite, {{"ID", 3}, {"Site", "c.ru"}, {"TIC", 7}, {"CatID", 3}});
    Table& s = db.tbSite;
    s.last();
    gridTitleClick("grdSite", s, "Site");
    EXPECT_EQ(s.asInteger("ID"), 2);
    gridTitleClick("grdSite", s, "TIC");
    EXPECT_EQ(ids(s), (QList<int>{2, 3, 1}));
    EXPECT_EQ(s.recNo(), 1);
    gridTitleClick("grdSite", s, "_Cat");
    EXPECT_EQ(ids(s), (QList<int>{2, 1, 3}));
    s.last();
    gridTitleClick("grdSite", s, "_num");
    EXPECT_EQ(ids(s), (QList<int>{1, 2, 3}));
    EXPECT_EQ(s.recNo(), 1);
    s.last();
    gridTitleClick("grdSite", s, "Info"); // order kept, still moves to the first record
    EXPECT_EQ(s.recNo(), 1);
}

TEST_F(GridSortTest, ProjectAndCategoryGridsSortOnlyByIdOrName) {
    add(db.tbProject, {{"ID", 1}, {"Name", "Б"}, {"TIC", 9}});
    add(db.tbProject, {{"ID", 2}, {"Name", "а"}, {"TIC", 1}});
    gridTitleClick("grdProject", db.tbProject, "Name");
    EXPECT_EQ(ids(db.tbProject), (QList<int>{2, 1}));
    gridTitleClick("grdProject", db.tbProject, "TIC");
    EXPECT_EQ(db.tbProject.indexFieldNames(), QStringLiteral("Name"));
    gridTitleClick("grdProject", db.tbProject, "ID");
    EXPECT_EQ(ids(db.tbProject), (QList<int>{1, 2}));
    EXPECT_FALSE(titleClickShowsWaitCursor("grdCat2", "Name"));
    EXPECT_TRUE(titleClickShowsWaitCursor("grdCat", "Name"));
}

TEST_F(GridSortTest, AccountAndAnchorGridsSortByAnyColumnAscending) {
    add(db.tbAccount, {{"ID", 1}, {"info", "Яндекс"}, {"User", "b"}});
    add(db.tbAccount, {{"ID", 2}, {"info", "Авито"}, {"User", "a"}});
    gridTitleClick("grdAccount", db.tbAccount, "info");
    EXPECT_EQ(ids(db.tbAccount), (QList<int>{2, 1}));
    gridTitleClick("grdAccount", db.tbAccount, "ID");
    EXPECT_EQ(ids(db.tbAccount), (QList<int>{1, 2}));
    add(db.tbAncor, {{"ID", 1}, {"URL", "http://b.ru"}});
    add(db.tbAncor, {{"ID", 2}, {"URL", "http://a.ru"}});
    gridTitleClick("grdAncor", db.tbAncor, "URL");
    EXPECT_EQ(ids(db.tbAncor), (QList<int>{2, 1}));
    EXPECT_FALSE(titleClickShowsWaitCursor("grdAccount", "info"));
    EXPECT_FALSE(titleClickShowsWaitCursor("grdAncor", "URL"));
}

TEST_F(GridSortTest, FindAsksWithTheSearchDialogAndMovesToTheFirstMatchInOrder) {
    ScriptedUi ui;
    Table& l = db.tbLink;
    l.last();
    EXPECT_FALSE(findByPrompt(ui, l, "PageURL", "Веб-страница:")); // cancelled
    ui.type(QString());
    EXPECT_FALSE(findByPrompt(ui, l, "PageURL", "Веб-страница:")); // empty text
    EXPECT_EQ(l.asInteger("ID"), 3);
    ASSERT_EQ(ui.shown().size(), 2u);
    EXPECT_EQ(ui.shown()[0].caption, QStringLiteral("Поиск"));
    EXPECT_EQ(ui.shown()[0].text, QStringLiteral("Веб-страница:|"));
    ui.type("a.ru");
    EXPECT_FALSE(findByPrompt(ui, l, "PageURL", "Веб-страница:")); // the stored address starts with http://
    ui.type("HTTP://A");
    EXPECT_TRUE(findByPrompt(ui, l, "PageURL", "Веб-страница:"));
    EXPECT_EQ(l.asInteger("ID"), 2);
    gridTitleClick("grdLink", l, "TIC");
    ui.type("http://");
    EXPECT_TRUE(findByPrompt(ui, l, "PageURL", "Веб-страница:"));
    EXPECT_EQ(l.asInteger("TIC"), 30);
}
