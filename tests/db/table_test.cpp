#include <gtest/gtest.h>

#include <QLocale>
#include <QSignalSpy>

#include "db/table.h"
#include "db/value.h"

using namespace zentaro::db;

namespace {

// A small table like the program's: ID, a name of at most 10 characters, a group, a price and a date.
class TableTest : public ::testing::Test {
protected:
    void SetUp() override {
        t.addFieldDef(QStringLiteral("ID"), FieldType::Integer, 0);
        t.addFieldDef(QStringLiteral("Name"), FieldType::String, 10);
        t.addFieldDef(QStringLiteral("Grp"), FieldType::Integer, 0);
        t.addFieldDef(QStringLiteral("Price"), FieldType::Float, 0);
        t.addFieldDef(QStringLiteral("Day"), FieldType::Date, 0);
        t.createDataSet();
        t.setIndexFieldNames(QStringLiteral("ID"));
    }
    void add(int id, const QString& name, int grp) {
        ASSERT_TRUE(t.insert());
        ASSERT_TRUE(t.setValue(QStringLiteral("ID"), id));
        ASSERT_TRUE(t.setValue(QStringLiteral("Name"), name));
        ASSERT_TRUE(t.setValue(QStringLiteral("Grp"), grp));
        ASSERT_TRUE(t.post());
    }
    QList<int> ids() {
        QList<int> out;
        for (int p = 0; p < t.recordCount(); ++p)
            out << t.valueAt(p, 0).toInt();
        return out;
    }
    QList<int> walk() {
        QList<int> out;
        t.first();
        while (!t.eof()) {
            out << t.asInteger(QStringLiteral("ID"));
            t.next();
        }
        return out;
    }
    Table t{QStringLiteral("T")};
};

} // namespace

TEST_F(TableTest, NavigationVisitsRecordsInOrderAndSetsEndFlag) {
    EXPECT_TRUE(t.eof());
    t.first();
    EXPECT_TRUE(t.eof());
    add(3, "c", 1);
    add(1, "a", 1);
    add(2, "b", 2);
    EXPECT_EQ(walk(), (QList<int>{1, 2, 3}));
    EXPECT_TRUE(t.eof());
    t.last();
    EXPECT_FALSE(t.eof());
    EXPECT_EQ(t.asInteger("ID"), 3);
    EXPECT_EQ(t.recNo(), 3);
    t.prior();
    EXPECT_EQ(t.asInteger("ID"), 2);
}

TEST_F(TableTest, ValuesReadAsTextIntegerFloatAndDate) {
    add(1, "Имя", 5);
    t.edit();
    ASSERT_TRUE(t.setValue("Price", 12.5));
    ASSERT_TRUE(t.setValue("Day", QDate(2026, 12, 9)));
    t.post();
    EXPECT_EQ(t.asString("Name"), QStringLiteral("Имя"));
    EXPECT_EQ(t.asInteger("Grp"), 5);
    EXPECT_DOUBLE_EQ(t.asFloat("Price"), 12.5);
    EXPECT_EQ(t.asString("Price"), QStringLiteral("12,5"));
    EXPECT_EQ(t.asString("Day"), QStringLiteral("09.12.2026"));
    EXPECT_EQ(t.asDate("Day"), QDate(2026, 12, 9));
    ASSERT_TRUE(t.setValue("Grp", QVariant()));
    EXPECT_TRUE(t.isNull("Grp"));
    EXPECT_EQ(t.asInteger("Grp"), 0);
    EXPECT_TRUE(t.setText(t.fieldIndex("Day"), QStringLiteral("01.02.2025")));
    EXPECT_EQ(t.asDate("Day"), QDate(2025, 2, 1));
    EXPECT_FALSE(t.setText(t.fieldIndex("Grp"), QStringLiteral("abc")));
}

TEST_F(TableTest, TooLongTextAndWrongTypesAreRefusedWithoutChange) {
    add(1, "short", 0);
    EXPECT_TRUE(t.setValue("Name", QStringLiteral("Ровно10сим")));
    EXPECT_FALSE(t.setValue("Name", QStringLiteral("Одиннадцать")));
    EXPECT_FALSE(t.lastError().isEmpty());
    EXPECT_EQ(t.asString("Name"), QStringLiteral("Ровно10сим"));
    EXPECT_FALSE(t.setValue("Grp", QStringLiteral("x")));
    EXPECT_FALSE(t.setValue("Nope", 1));
}

TEST_F(TableTest, InsertRefusedByHookAddsNothing) {
    t.beforeInsert = [](Table&) { return false; };
    EXPECT_FALSE(t.insert());
    EXPECT_EQ(t.recordCount(), 0);
    EXPECT_EQ(t.state(), Table::State::Browse);
}

TEST_F(TableTest, UnchangedInsertIsDiscardedAndChangedOneIsPosted) {
    add(1, "a", 1);
    add(2, "b", 1);
    ASSERT_TRUE(t.insert());
    EXPECT_EQ(t.recordCount(), 3);
    t.first(); // cursor move discards the empty record
    EXPECT_EQ(t.recordCount(), 2);
    ASSERT_TRUE(t.insert());
    t.setFilter(QStringLiteral("Grp=1"));
    t.setFiltered(true); // filter switch discards as well
    EXPECT_EQ(t.recordCount(), 2);
    ASSERT_TRUE(t.insert());
    t.setValue("ID", 9);
    t.setValue("Grp", 1);
    t.setIndexFieldNames(QStringLiteral("Name")); // an order change posts the changed record
    EXPECT_EQ(t.state(), Table::State::Browse);
    t.setIndexFieldNames(QStringLiteral("ID"));
    EXPECT_EQ(ids(), (QList<int>{1, 2, 9}));
}

TEST_F(TableTest, PostPlacesRecordInOrderAndCancelRestoresEdit) {
    add(5, "e", 1);
    add(1, "a", 1);
    add(3, "c", 1);
    EXPECT_EQ(ids(), (QList<int>{1, 3, 5}));
    EXPECT_EQ(t.asInteger("ID"), 3); // the posted record stays current
    t.edit();
    t.setValue("ID", 7);
    t.cancel();
    EXPECT_EQ(t.asInteger("ID"), 3);
    t.setValue("ID", 7);
    t.post();
    EXPECT_EQ(ids(), (QList<int>{1, 5, 7}));
    EXPECT_EQ(t.asInteger("ID"), 7);
}

TEST_F(TableTest, DeleteMakesNextCurrentOrPreviousWhenLast) {
    for (int i = 1; i <= 4; ++i)
        add(i, "x", 1);
    t.first();
    t.next(); // 2
    ASSERT_TRUE(t.deleteRecord());
    EXPECT_EQ(t.asInteger("ID"), 3);
    t.last();
    ASSERT_TRUE(t.deleteRecord());
    EXPECT_EQ(t.asInteger("ID"), 3);
    EXPECT_EQ(ids(), (QList<int>{1, 3}));
}

TEST_F(TableTest, BeforeDeleteCanRefuseAndAfterScrollFollowsDelete) {
    add(1, "a", 1);
    add(2, "b", 1);
    int scrolls = 0;
    t.afterScroll = [&](Table&) { ++scrolls; };
    t.beforeDelete = [](Table& tb) { return tb.asInteger("ID") != 1; };
    t.first();
    scrolls = 0;
    EXPECT_FALSE(t.deleteRecord());
    EXPECT_EQ(t.recordCount(), 2);
    t.next();
    scrolls = 0;
    EXPECT_TRUE(t.deleteRecord());
    EXPECT_EQ(scrolls, 1);
    EXPECT_EQ(t.asInteger("ID"), 1);
}

TEST_F(TableTest, DeletingUntilEndEmptiesAFilteredView) {
    for (int i = 1; i <= 6; ++i)
        add(i, "x", i % 2);
    t.setFilter(QStringLiteral("Grp=1"));
    t.setFiltered(true);
    EXPECT_EQ(t.recordCount(), 3);
    t.first();
    while (!t.eof())
        t.deleteRecord();
    EXPECT_EQ(t.recordCount(), 0);
    t.setFiltered(false);
    EXPECT_EQ(ids(), (QList<int>{2, 4, 6}));
}

TEST_F(TableTest, FilterTextSurvivesSwitchAndCountsWithinFilter) {
    add(1, "a", 1);
    add(2, "b", 2);
    add(3, "c", 1);
    add(4, "d", 2);
    ASSERT_TRUE(t.setFilter(QStringLiteral("Grp=2")));
    EXPECT_EQ(t.recordCount(), 4); // the switch is still off
    t.setFiltered(true);
    EXPECT_EQ(ids(), (QList<int>{2, 4}));
    t.last();
    EXPECT_EQ(t.recNo(), 2);
    t.setFiltered(false);
    EXPECT_EQ(t.filter(), QStringLiteral("Grp=2"));
    t.setFiltered(true);
    EXPECT_EQ(ids(), (QList<int>{2, 4}));
    ASSERT_TRUE(t.setFilter(QStringLiteral("Grp=1 and ID=3")));
    EXPECT_EQ(ids(), (QList<int>{3}));
    ASSERT_TRUE(t.setFilter(QStringLiteral("Grp=-1")));
    EXPECT_EQ(t.recordCount(), 0);
    EXPECT_TRUE(t.eof());
}

TEST_F(TableTest, FilterFollowsEditsAndInsertsIncrementally) {
    add(1, "a", 1);
    add(2, "b", 2);
    t.setFilter(QStringLiteral("Grp=1"));
    t.setFiltered(true);
    t.first();
    t.setValue("Grp", 2);
    t.post();
    EXPECT_EQ(t.recordCount(), 0);
    t.setFilter(QStringLiteral("Grp=2"));
    EXPECT_EQ(ids(), (QList<int>{1, 2}));
    add(0, "z", 2);
    EXPECT_EQ(ids(), (QList<int>{0, 1, 2}));
}

TEST_F(TableTest, BadFilterIsRefusedWithATextAndTheOldFilterStays) {
    add(1, "a", 1);
    ASSERT_TRUE(t.setFilter(QStringLiteral("Grp=1")));
    t.setFiltered(true);
    EXPECT_FALSE(t.setFilter(QStringLiteral("Nope=1")));
    EXPECT_TRUE(t.lastError().contains(QStringLiteral("Nope")));
    EXPECT_FALSE(t.setFilter(QStringLiteral("Grp=abc")));
    EXPECT_FALSE(t.setFilter(QStringLiteral("garbage")));
    EXPECT_EQ(t.filter(), QStringLiteral("Grp=1"));
    EXPECT_EQ(t.recordCount(), 1);
}

TEST_F(TableTest, TextFilterMatchesStringFields) {
    add(1, "0", 1);
    add(2, "1", 1);
    add(3, "", 1);
    t.setFilter(QStringLiteral("Name=0"));
    t.setFiltered(true);
    EXPECT_EQ(ids(), (QList<int>{1}));
}

TEST_F(TableTest, NamedIndexesAscendingDescendingListedAndRemoved) {
    add(1, "b", 1);
    add(2, "C", 3);
    add(3, "a", 2);
    ASSERT_TRUE(t.addIndex(QStringLiteral("GrpDesc"), QStringLiteral("Grp"), true));
    ASSERT_TRUE(t.addIndex(QStringLiteral("NameAsc"), QStringLiteral("Name"), false));
    EXPECT_EQ(t.indexNames(), (QStringList{QStringLiteral("GrpDesc"), QStringLiteral("NameAsc")}));
    ASSERT_TRUE(t.setIndexName(QStringLiteral("GrpDesc")));
    EXPECT_EQ(ids(), (QList<int>{2, 3, 1}));
    EXPECT_TRUE(t.indexFieldNames().isEmpty());
    ASSERT_TRUE(t.setIndexName(QStringLiteral("NameAsc")));
    EXPECT_EQ(ids(), (QList<int>{3, 1, 2})); // case-insensitive
    EXPECT_TRUE(t.deleteIndex(QStringLiteral("NameAsc")));
    EXPECT_EQ(t.indexNames(), QStringList{QStringLiteral("GrpDesc")});
    EXPECT_FALSE(t.setIndexName(QStringLiteral("NameAsc")));
    ASSERT_TRUE(t.setIndexFieldNames(QStringLiteral("ID")));
    EXPECT_TRUE(t.indexName().isEmpty());
    EXPECT_EQ(ids(), (QList<int>{1, 2, 3}));
}

TEST_F(TableTest, OrderChangeKeepsTheCurrentRecord) {
    add(1, "c", 1);
    add(2, "a", 1);
    add(3, "b", 1);
    t.first(); // ID 1, name c
    t.setIndexFieldNames(QStringLiteral("Name"));
    EXPECT_EQ(t.asInteger("ID"), 1);
    EXPECT_EQ(t.recNo(), 3);
}

TEST_F(TableTest, FindPrefixIsCaseInsensitiveInOrderAndFilter) {
    add(1, "Бета", 1);
    add(2, "альфа", 2);
    add(3, "Альфа2", 1);
    t.setFilter(QStringLiteral("Grp=1"));
    t.setFiltered(true);
    EXPECT_TRUE(t.findPrefix("Name", QStringLiteral("АЛЬ")));
    EXPECT_EQ(t.asInteger("ID"), 3);
    EXPECT_FALSE(t.findPrefix("Name", QStringLiteral("Гамма")));
    EXPECT_EQ(t.asInteger("ID"), 3);
    EXPECT_TRUE(t.locate("ID", 1));
    EXPECT_EQ(t.asString("Name"), QStringLiteral("Бета"));
    EXPECT_FALSE(t.locate("ID", 2)); // filtered out
}

TEST_F(TableTest, ViewSwitchHoldsBackNotifications) {
    add(1, "a", 1);
    QSignalSpy reset(&t, &Table::viewReset);
    QSignalSpy changed(&t, &Table::rowChanged);
    QSignalSpy inserted(&t, &Table::rowInserted);
    t.disableControls();
    t.disableControls();
    EXPECT_TRUE(t.controlsDisabled());
    add(2, "b", 1);
    t.setValue("Name", QStringLiteral("bb"));
    t.enableControls();
    EXPECT_TRUE(t.controlsDisabled());
    EXPECT_EQ(reset.count() + changed.count() + inserted.count(), 0);
    t.enableControls();
    EXPECT_FALSE(t.controlsDisabled());
    EXPECT_EQ(reset.count(), 1);
}

TEST_F(TableTest, EditNotifiesOneRowNotAReset) {
    add(1, "a", 1);
    add(2, "b", 1);
    t.first();
    QSignalSpy reset(&t, &Table::viewReset);
    QSignalSpy changed(&t, &Table::rowChanged);
    t.setValue("Name", QStringLiteral("x"));
    t.post();
    EXPECT_EQ(reset.count(), 0);
    ASSERT_GE(changed.count(), 1);
    EXPECT_EQ(changed.last().at(0).toInt(), 0);
}

TEST_F(TableTest, DefinitionCanBeClearedAndRebuilt) {
    add(1, "a", 1);
    t.close();
    EXPECT_FALSE(t.isActive());
    EXPECT_EQ(t.recordCount(), 0);
    t.clearFields();
    EXPECT_EQ(t.fieldCount(), 0);
    t.addFieldDef(QStringLiteral("K"), FieldType::String, 5);
    t.createDataSet();
    EXPECT_TRUE(t.isActive());
    ASSERT_TRUE(t.insert());
    EXPECT_TRUE(t.setValue("K", QStringLiteral("abc")));
    EXPECT_TRUE(t.post());
    EXPECT_EQ(t.recordCount(), 1);
}

TEST_F(TableTest, LocateByAnIntegerFindsTheFirstMatchInTheCurrentOrder) {
    add(1, "c", 7);
    add(2, "a", 7);
    add(3, "b", 5);
    t.setIndexFieldNames(QStringLiteral("Name"));
    t.last();
    EXPECT_TRUE(t.locate("Grp", 7));
    EXPECT_EQ(t.asInteger("ID"), 2);
    EXPECT_FALSE(t.locate("Grp", 9));
    EXPECT_EQ(t.asInteger("ID"), 2);
    t.setFilter(QStringLiteral("Grp=5"));
    t.setFiltered(true);
    EXPECT_FALSE(t.locate("Grp", 7)); // only shown records count
    EXPECT_TRUE(t.locate("ID", 3));
}

TEST_F(TableTest, AValueIndexFirstBuiltDuringAnEditHoldsThePostedValues) {
    add(1, QStringLiteral("a"), 5);
    add(2, QStringLiteral("b"), 5);
    for (const bool post : {true, false}) {
        t.setFiltered(false);
        t.first();
        t.edit();
        t.setValue(QStringLiteral("Grp"), 7);
        // The first look-up by Grp builds the index while record 1 is in hand: by its posted value.
        EXPECT_EQ(t.findRow(QStringLiteral("Grp"), 7), -1);
        if (post)
            t.post();
        else
            t.cancel();
        t.setFilter(QStringLiteral("Grp=7"));
        t.setFiltered(true);
        EXPECT_EQ(ids(), post ? QList<int>({1}) : QList<int>()) << post;
        t.setFilter(QStringLiteral("Grp=5"));
        EXPECT_EQ(ids(), post ? QList<int>({2}) : QList<int>({1, 2})) << post;
        // Back to the start for the second pass.
        t.setFiltered(false);
        t.first();
        t.edit();
        t.setValue(QStringLiteral("Grp"), 5);
        t.post();
    }
}

// A typed price is stored whichever decimal separator the user types; what cannot be a number or a date is
// refused, with the reason in the user's words.
TEST(FieldValues, NumbersTakeEitherDecimalSeparatorAndRefusalsSayWhy) {
    struct Case {
        QLocale locale;
        QString text;
        bool ok;
        double value;
    };
    const QLocale ru(QLocale::Russian, QLocale::Russia);
    const QLocale en(QLocale::English, QLocale::UnitedStates);
    const Case cases[] = {
        {ru, "800,25", true, 800.25},    {ru, "800.25", true, 800.25},
        {ru, " 800.25 ", true, 800.25},  {ru, "6\u00a0413,25", true, 6413.25},
        {ru, "-5.5", true, -5.5},        {ru, "1.2.3", false, 0},
        {ru, "12abc", false, 0},         {ru, "1e999", false, 0},
        {en, "800,25", true, 800.25},    {en, "800.25", true, 800.25},
        {en, "6,413.25", true, 6413.25},
    };
    for (const Case& c : cases) {
        QLocale::setDefault(c.locale);
        QVariant v;
        EXPECT_EQ(parseValue(FieldType::Float, c.text, v), c.ok) << c.text.toStdString();
        if (c.ok) {
            EXPECT_DOUBLE_EQ(v.toDouble(), c.value) << c.text.toStdString();
        }
    }
    QLocale::setDefault(ru);
    QVariant v = 1.0;
    EXPECT_TRUE(parseValue(FieldType::Float, QStringLiteral("  "), v));
    EXPECT_FALSE(v.isValid());
    EXPECT_EQ(refusedValueText(FieldType::Date, QStringLiteral("32.13.2024")),
              QStringLiteral("\"32.13.2024\" — не дата. Введите дату в виде 08.12.2014."));
    EXPECT_EQ(refusedValueText(FieldType::Float, QStringLiteral("12abc")),
              QStringLiteral("\"12abc\" — не число. Введите число, например 800,25."));
}
