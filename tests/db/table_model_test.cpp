#include <gtest/gtest.h>

#include <QAbstractItemModelTester>
#include <QSignalSpy>

#include "db/database.h"
#include "db/table_model.h"

using namespace zentaro::db;

namespace {

void add(Table& t, int id, int grp) {
    ASSERT_TRUE(t.insert());
    t.setValue("ID", id);
    t.setValue("PID", grp);
    t.setValue("Name", QStringLiteral("Кат %1").arg(id));
    t.post();
}

} // namespace

TEST(TableModel, FollowsInsertsDeletesFiltersAndEditsConsistently) {
    Database db;
    Table& t = db.tbCat2;
    TableModel model(t, {{"ID", "#", 37}, {"Name", "Название", 236}});
    QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::Fatal);
    for (int i = 1; i <= 5; ++i)
        add(t, i, i % 2);
    EXPECT_EQ(model.rowCount(), 5);
    EXPECT_EQ(model.data(model.index(2, 1), Qt::DisplayRole).toString(), QStringLiteral("Кат 3"));
    t.setFilter("PID=1");
    t.setFiltered(true);
    EXPECT_EQ(model.rowCount(), 3);
    t.first();
    t.deleteRecord();
    EXPECT_EQ(model.rowCount(), 2);
    ASSERT_TRUE(t.insert());
    EXPECT_EQ(model.rowCount(), 3);
    t.cancel();
    EXPECT_EQ(model.rowCount(), 2);
    t.setFiltered(false);
    EXPECT_EQ(model.rowCount(), 4);
}

TEST(TableModel, OneEditSignalsOneRowAndNoReset) {
    Database db;
    Table& t = db.tbCat2;
    for (int i = 1; i <= 3; ++i)
        add(t, i, 1);
    TableModel model(t, {{"ID", "#", 37}, {"Name", "Название", 236}});
    QSignalSpy reset(&model, &QAbstractItemModel::modelReset);
    QSignalSpy changed(&model, &QAbstractItemModel::dataChanged);
    EXPECT_TRUE(model.setData(model.index(1, 1), QStringLiteral("Новое"), Qt::EditRole));
    EXPECT_EQ(reset.count(), 0);
    ASSERT_GE(changed.count(), 1);
    EXPECT_EQ(changed.first().at(0).value<QModelIndex>().row(), 1);
    t.locate("ID", 2);
    EXPECT_EQ(t.asString("Name"), QStringLiteral("Новое"));
    EXPECT_TRUE(model.flags(model.index(0, 1)).testFlag(Qt::ItemIsEditable));
}

TEST(TableModel, CurrentRowFollowsTheTableBothWaysWithAnIndicator) {
    Database db;
    Table& t = db.tbCat2;
    for (int i = 1; i <= 3; ++i)
        add(t, i, 1);
    TableModel model(t, {{"ID", "#", 37}, {"Name", "Название", 236}});
    QSignalSpy current(&model, &TableModel::currentRowChanged);
    t.first();
    EXPECT_EQ(model.currentRow(), 0);
    EXPECT_EQ(model.headerData(0, Qt::Vertical, Qt::DisplayRole).toString(), QStringLiteral("▶"));
    EXPECT_EQ(model.headerData(1, Qt::Vertical, Qt::DisplayRole).toString(), QString());
    model.setCurrentRow(2);
    EXPECT_EQ(t.asInteger("ID"), 3);
    EXPECT_EQ(current.last().at(0).toInt(), 2);
    t.setValue("Name", QStringLiteral("x"));
    EXPECT_EQ(model.headerData(2, Qt::Vertical, Qt::DisplayRole).toString(), QStringLiteral("I"));
    EXPECT_EQ(model.headerData(0, Qt::Horizontal, TableModel::TitleRgbRole).toUInt(), 0x0000ffu);
}

TEST(TableModel, LookupAndRowNumberColumnsAreReadOnly) {
    Database db;
    TableModel model(db.tbSite, {{"_Cat", "Категория", 100}, {"_num", "#", 30}, {"Site", "Сайт", 100}});
    ASSERT_TRUE(db.tbSite.insert());
    db.tbSite.setValue("ID", 1);
    db.tbSite.post();
    EXPECT_FALSE(model.flags(model.index(0, 0)).testFlag(Qt::ItemIsEditable));
    EXPECT_FALSE(model.flags(model.index(0, 1)).testFlag(Qt::ItemIsEditable));
    EXPECT_TRUE(model.flags(model.index(0, 2)).testFlag(Qt::ItemIsEditable));
    EXPECT_EQ(model.data(model.index(0, 1), Qt::DisplayRole).toString(), QStringLiteral("1"));
}

TEST(TableModel, EditingACellOfTheRecordBeingInsertedEditsThatRecord) {
    Database db;
    TableModel model(db.tbCat, {{"ID", "#", 30}, {"Name", "Название", 100}});
    add(db.tbCat, 1, 0);
    add(db.tbCat, 2, 0);
    ASSERT_TRUE(db.tbCat.insert()); // nothing typed into it yet
    const int row = db.tbCat.currentPos();
    ASSERT_TRUE(model.setData(model.index(row, 1), QStringLiteral("Новая"), Qt::EditRole));
    EXPECT_EQ(db.tbCat.state(), Table::State::Browse);
    EXPECT_EQ(db.tbCat.recordCount(), 3);
    QStringList names;
    for (int pos = 0; pos < db.tbCat.recordCount(); ++pos)
        names << db.tbCat.displayTextAt(pos, db.tbCat.fieldIndex("Name"));
    names.sort();
    EXPECT_EQ(names, (QStringList{"Кат 1", "Кат 2", "Новая"}));
}

TEST(TableModel, ALookupColumnWithItsDropDownIsEditable) {
    Database db;
    TableModel model(db.tbSite, {{"_Cat", "Категория", 100}});
    ASSERT_TRUE(db.tbSite.insert());
    db.tbSite.setValue("ID", 1);
    db.tbSite.post();
    model.setLookupEditor(0);
    EXPECT_TRUE(model.flags(model.index(0, 0)).testFlag(Qt::ItemIsEditable));
}
