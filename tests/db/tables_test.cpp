#include <gtest/gtest.h>

#include "db/database.h"

using namespace zentaro::db;

namespace {

int field(Table& t, const char* name) {
    return t.fieldIndex(QString::fromLatin1(name));
}

void addRow(Table& t, std::initializer_list<std::pair<const char*, QVariant>> values) {
    ASSERT_TRUE(t.insert());
    for (const auto& [k, v] : values)
        ASSERT_TRUE(t.setValue(QString::fromLatin1(k), v)) << k;
    ASSERT_TRUE(t.post());
}

} // namespace

TEST(Tables, FieldListAndStoredOrdersDifferOnlyForSitesAndLinks) {
    Database db;
    auto names = [](Table& t, const std::vector<int>& idx) {
        QStringList out;
        for (int i : idx)
            out << t.field(i).name;
        return out;
    };
    std::vector<int> all(size_t(db.tbSite.fieldCount()));
    std::iota(all.begin(), all.end(), 0);
    EXPECT_EQ(names(db.tbSite, all).join(u','),
              QStringLiteral(
                  "ID,Site,CatID,TIC,PR,TicUpdate,PRUpdate,RegURL,BackURL,FURL,Info,_Cat,FS1,FS2,FI1,FI2,"
                  "Social,_num"));
    EXPECT_EQ(names(db.tbSite, db.tbSite.storedFields()).join(u','),
              QStringLiteral(
                  "ID,Site,CatID,TIC,PR,Social,TicUpdate,PRUpdate,RegURL,BackURL,FURL,Info,FS1,FS2,FI1,FI2"));
    EXPECT_EQ(
        names(db.tbLink, db.tbLink.storedFields()).join(u','),
        QStringLiteral("ID,ProjectID,SiteID,AccountID,AncorID,Name,PageURL,PublicDate,PageIndexY,PageIndexG,"
                       "PageIndexM,UpdateIndexDate,UrlCount,PageStatus,Price,LinkCat,TIC,PR,PRUpdate,AFN"));
    EXPECT_EQ(db.tbLink.fieldCount(), 23);
    EXPECT_EQ(db.tbProject.field(field(db.tbProject, "Info")).size, 255);
    EXPECT_EQ(db.tbSite.field(field(db.tbSite, "Info")).size, 250);
    EXPECT_EQ(db.tbSets.fieldCount(), 3);
    for (Table* t : db.dataTables())
        EXPECT_EQ(t->indexFieldNames(), QStringLiteral("ID")) << t->tableName().toStdString();
}

TEST(Tables, YesNoFlagsShowWordsAndTakeOnlyExactWords) {
    Database db;
    Table& l = db.tbLink;
    addRow(l, {{"ID", 1}, {"PageIndexG", QStringLiteral("1")}});
    const int g = field(l, "PageIndexG");
    EXPECT_EQ(l.displayText(g), QStringLiteral("Да"));
    EXPECT_TRUE(l.setText(g, QStringLiteral("Нет")));
    EXPECT_EQ(l.asString("PageIndexG"), QStringLiteral("0"));
    EXPECT_FALSE(l.setText(g, QString())); // index flags ignore the empty text
    EXPECT_FALSE(l.setText(g, QStringLiteral("да")));
    EXPECT_EQ(l.asString("PageIndexG"), QStringLiteral("0"));
    l.setValue("PageIndexG", QStringLiteral("x"));
    EXPECT_EQ(l.displayText(g), QString());

    Table& s = db.tbSite;
    addRow(s, {{"ID", 1}, {"FURL", QStringLiteral("1")}});
    const int furl = field(s, "FURL");
    EXPECT_EQ(s.displayText(furl), QStringLiteral("Да"));
    EXPECT_TRUE(s.setText(furl, QString()));
    EXPECT_TRUE(s.isNull("FURL"));
    EXPECT_EQ(s.displayText(furl), QString());
}

TEST(Tables, LinkStatusShowsItsWordsAndKeepsUnknownCodes) {
    Database db;
    Table& l = db.tbLink;
    addRow(l, {{"ID", 1}, {"PageStatus", QStringLiteral("3")}});
    const int st = field(l, "PageStatus");
    EXPECT_EQ(l.displayText(st), QStringLiteral("Изменено"));
    l.setValue("PageStatus", QStringLiteral("7"));
    EXPECT_EQ(l.displayText(st), QString());
    EXPECT_FALSE(l.setText(st, QStringLiteral("пропажа")));
    EXPECT_EQ(l.asString("PageStatus"), QStringLiteral("7"));
    EXPECT_TRUE(l.setText(st, QStringLiteral("Пропажа")));
    EXPECT_EQ(l.asString("PageStatus"), QStringLiteral("2"));
    EXPECT_TRUE(l.setText(st, QStringLiteral("Ожидание")));
    EXPECT_EQ(l.asString("PageStatus"), QStringLiteral("0"));
}

TEST(Tables, LookupsShowCurrentContentAndEmptyForMissingKeys) {
    Database db;
    addRow(db.tbSite, {{"ID", 4}, {"Site", QStringLiteral("сайт.рф")}});
    addRow(db.tbCat2, {{"ID", 2}, {"Name", QStringLiteral("Статьи")}, {"PID", 1}});
    addRow(db.tbLink, {{"ID", 1}, {"SiteID", 4}, {"LinkCat", 2}});
    Table& l = db.tbLink;
    EXPECT_EQ(l.displayText(field(l, "_Site")), QStringLiteral("сайт.рф"));
    EXPECT_EQ(l.displayText(field(l, "_s2")), QStringLiteral("4"));
    EXPECT_EQ(l.displayText(field(l, "_cat")), QStringLiteral("Статьи"));
    EXPECT_FALSE(l.setValue("_Site", QStringLiteral("x")));

    db.tbCat2.first();
    db.tbCat2.setValue("Name", QStringLiteral("Обзоры"));
    db.tbCat2.post();
    EXPECT_EQ(l.displayText(field(l, "_cat")), QStringLiteral("Обзоры"));

    db.tbSite.first();
    db.tbSite.deleteRecord();
    EXPECT_EQ(l.displayText(field(l, "_Site")), QString());
    EXPECT_EQ(l.asInteger("SiteID"), 4);
    l.setValue("LinkCat", 0);
    EXPECT_EQ(l.displayText(field(l, "_cat")), QString());
}

TEST(Tables, RowNumberFollowsOrderAndFilterAndHoldsNoValue) {
    Database db;
    Table& s = db.tbSite;
    for (int i = 1; i <= 10; ++i)
        addRow(s, {{"ID", i}, {"CatID", i % 3 == 0 ? 1 : 2}});
    s.setFilter(QStringLiteral("CatID=1"));
    s.setFiltered(true);
    const int num = field(s, "_num");
    ASSERT_EQ(s.recordCount(), 3);
    QStringList shown;
    for (int p = 0; p < 3; ++p)
        shown << s.displayTextAt(p, num);
    EXPECT_EQ(shown, (QStringList{"1", "2", "3"}));
    s.last();
    EXPECT_EQ(s.displayText(num), QStringLiteral("3"));
    EXPECT_FALSE(s.value(num).isValid());
}

TEST(Tables, EveryFieldOfEveryTableHasItsNameKindTypeAndSize) {
    // Field-list order; "L" marks a lookup field, "C" the calculated one; S<n> is text of at most n
    // characters.
    const QList<QPair<QString, QString>> expected = {
        {"tbProject", "ID I,Name S128,Info S255,DateAdd D,DateUpDate D,TIC I,PR I,MailPR I,Site S128"},
        {"tbCat", "ID I,Name S128"},
        {"tbCat2", "ID I,Name S128,PID I"},
        {"tbSite", "ID I,Site S128,CatID I,TIC I,PR I,TicUpdate D,PRUpdate D,RegURL S255,BackURL S1,FURL S1,"
                   "Info S250,_Cat LS128,FS1 S60,FS2 S60,FI1 I,FI2 I,Social I,_num CI"},
        {"tbLink", "ID I,ProjectID I,SiteID I,AccountID I,AncorID I,Name S128,PageURL S255,PublicDate D,"
                   "PageIndexY S1,PageIndexG S1,PageIndexM S1,UpdateIndexDate D,UrlCount I,PageStatus S1,"
                   "_Site LS128,_s2 LS128,Price F,LinkCat I,_cat LS128,TIC I,PR I,PRUpdate D,AFN S255"},
        {"tbAncor", "ID I,LinkID I,Ancor S255,Info S128,URL S255"},
        {"tbAccount", "ID I,User S100,Password S100,email S100,info S128"},
        {"tbSets", "Name S50,ParamS S200,ParamI I"}};
    Database db;
    for (const auto& [name, fields] : expected) {
        Table* t = nullptr;
        for (Table* x : {&db.tbProject, &db.tbCat, &db.tbCat2, &db.tbSite, &db.tbLink, &db.tbAncor,
                         &db.tbAccount, &db.tbSets})
            if (x->tableName() == name) t = x;
        ASSERT_NE(t, nullptr) << name.toStdString();
        QStringList actual;
        for (int i = 0; i < t->fieldCount(); ++i) {
            const FieldDef& f = t->field(i);
            QString d = f.name + u' ';
            if (f.kind == FieldKind::Lookup) d += u'L';
            if (f.kind == FieldKind::Calculated) d += u'C';
            switch (f.type) {
            case FieldType::Integer:
                d += u'I';
                break;
            case FieldType::Date:
                d += u'D';
                break;
            case FieldType::Float:
                d += u'F';
                break;
            case FieldType::String:
                d += u'S' + QString::number(f.size);
                break;
            }
            actual << d;
        }
        EXPECT_EQ(actual.join(u','), fields) << name.toStdString();
    }
}
