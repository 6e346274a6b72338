#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <vector>

#include <sqlite3.h>

#include <QDir>
#include <QFile>

#include "db/base_files.h"
#include "db/database.h"
#include "db/record_rules.h"
#include "db/session.h"
#include "db/table_file.h"
#include "support/scripted_ui.h"
#include "support/temp_folder.h"

using namespace zentaro::db;
using zentaro::test::ScriptedUi;
using zentaro::test::TempFolder;

namespace {

// Every stored field of every table gets values of its type in most rows and NULL in every third row;
// texts are Cyrillic, carry a NUL inside and reach the field's size.
void fillEveryTable(Database& db) {
    const QString cyrillic = QStringLiteral("Сайт «пример» №");
    for (Table* t : db.dataTables()) {
        t->clearRecords();
        const std::vector<int> stored = t->storedFields();
        for (int n = 0; n < 40; ++n) {
            const int row = t->appendRawRow();
            for (size_t k = 0; k < stored.size(); ++k) {
                const int f = stored[k];
                if ((n + int(k)) % 3 == 0) continue; // NULL
                switch (t->field(f).type) {
                case FieldType::Integer:
                    t->setRawInt(row, f, k == 0 ? n + 1 : qint64(n) * 1000003 - 7);
                    break;
                case FieldType::Date:
                    t->setRawInt(row, f, 2460000 + n);
                    break;
                case FieldType::Float:
                    t->setRawFloat(row, f, n * 1.25 - 3);
                    break;
                case FieldType::String: {
                    QString s = cyrillic + QString::number(n) + QChar(0) + u'x';
                    const int size = t->field(f).size;
                    if (size > 0) s.truncate(size);
                    t->setRawString(row, f, s);
                    break;
                }
                }
            }
        }
        t->finishLoad();
    }
}

// Compares the stored values of the live rows, in order; a NaN float is NULL on both sides.
void expectSameRecords(Database& a, Database& b) {
    auto live = [](const Table& t) {
        std::vector<int> rows;
        for (int row = 0; row < t.rowCapacity(); ++row)
            if (t.rowAlive(row)) rows.push_back(row);
        return rows;
    };
    for (size_t i = 0; i < a.dataTables().size(); ++i) {
        Table& x = *a.dataTables()[i];
        Table& y = *b.dataTables()[i];
        SCOPED_TRACE(tableFileName(x).toStdString());
        const std::vector<int> xs = live(x), ys = live(y);
        ASSERT_EQ(xs.size(), ys.size());
        ASSERT_FALSE(xs.empty());
        for (size_t n = 0; n < xs.size(); ++n) {
            const int r = xs[n], q = ys[n];
            for (int f : x.storedFields()) {
                switch (x.field(f).type) {
                case FieldType::Integer:
                case FieldType::Date:
                    EXPECT_EQ(x.rawInt(r, f), y.rawInt(q, f)) << n << " " << f;
                    break;
                case FieldType::Float: {
                    const double u = x.rawFloat(r, f), v = y.rawFloat(q, f);
                    EXPECT_TRUE(u == v || (std::isnan(u) && std::isnan(v))) << n << " " << f;
                    break;
                }
                case FieldType::String:
                    EXPECT_EQ(x.rawString(r, f), y.rawString(q, f)) << n << " " << f;
                    break;
                }
            }
        }
    }
}

// The old way: one file after another, each on its own connection.
void loadOneByOne(Database& db, const QString& base) {
    for (Table* t : db.dataTables()) {
        QString err;
        ASSERT_TRUE(TableFile::load(*t, base + tableFileName(*t), &err)) << err.toStdString();
    }
}

// The store's connection on a settings file, as a session opens it.
bool openStore(Database& db, const QString& base) {
    return TableFile::save(db.tbSets, base + "sets.adb", nullptr) &&
           db.store.open(base + "sets.adb", nullptr);
}

int firstField(Table& t, FieldType type) {
    for (int f : t.storedFields())
        if (t.field(f).type == type) return f;
    return -1;
}

// Runs a statement on a table file as the sqlite3 shell would.
void updateFields(const QString& path, const char* statement) {
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(QFile::encodeName(path).constData(), &db), SQLITE_OK);
    EXPECT_EQ(sqlite3_exec(db, statement, nullptr, nullptr, nullptr), SQLITE_OK) << sqlite3_errmsg(db);
    sqlite3_close(db);
}

} // namespace

TEST(BaseLoad, TablesLoadedAsABaseEqualTablesReadOneByOne) {
    TempFolder dir;
    QDir().mkpath(dir.base());
    {
        Database gen;
        fillEveryTable(gen);
        ASSERT_TRUE(SaveBase(gen, dir.base()).ok);
    }
    Database serial;
    loadOneByOne(serial, dir.base());

    // Without the store, and through the store as a session loads them.
    Database plain;
    ASSERT_TRUE(LoadBase(plain, dir.base()).ok);
    expectSameRecords(plain, serial);
    Database stored;
    ASSERT_TRUE(openStore(stored, dir.base()));
    ASSERT_TRUE(LoadBase(stored, dir.base()).ok);
    expectSameRecords(stored, serial);
    EXPECT_EQ(stored.store.fileNames().size(), 7);
}

TEST(BaseLoad, ChangesAfterALoadLandOnTheRecordsTheyWereMadeTo) {
    // The store keeps each row's key in the file: a wrong key would write a change over another record.
    TempFolder dir;
    QDir().mkpath(dir.base());
    {
        Database gen;
        fillEveryTable(gen);
        ASSERT_TRUE(SaveBase(gen, dir.base()).ok);
        // Gaps in the keys, as deletions leave them.
        ASSERT_TRUE(openStore(gen, dir.base()));
        ASSERT_TRUE(LoadBase(gen, dir.base()).ok);
        gen.store.setDeferred(false);
        for (Table* t : gen.dataTables()) {
            t->first();
            t->next();
            t->deleteRecord();
        }
        ASSERT_TRUE(gen.store.flush());
    }
    Database db;
    ASSERT_TRUE(openStore(db, dir.base()));
    ASSERT_TRUE(LoadBase(db, dir.base()).ok);
    db.store.setDeferred(false);
    for (Table* t : db.dataTables()) {
        const int f = firstField(*t, FieldType::String);
        ASSERT_GE(f, 0);
        if (t->isEmpty()) continue; // emptied by a cascade
        t->last();
        t->edit();
        t->setValue(f, QStringLiteral("изменено"));
        ASSERT_TRUE(t->post());
        t->first();
        t->deleteRecord();
    }
    ASSERT_TRUE(db.store.flush());

    Database reread;
    loadOneByOne(reread, dir.base());
    expectSameRecords(db, reread);
}

TEST(BaseLoad, AFailureNamesItsFileAndLeavesThatTableAndTheLaterOnesEmpty) {
    struct Case {
        const char* what;
        QString file;
        std::function<void(const QString& base)> spoil;
    };
    const Case cases[] = {
        {"damaged", "cat2.adb",
         [](const QString& base) { TempFolder::write(base + "cat2.adb", "damaged bytes"); }},
        {"missing", "link.adb", [](const QString& base) { QFile::remove(base + "link.adb"); }},
        {"another table's file", "site.adb",
         [](const QString& base) {
             QFile::remove(base + "site.adb");
             QFile::copy(base + "project.adb", base + "site.adb");
         }},
        // A field list naming a field the table does not have: its column would be dropped at the next write.
        {"a renamed field", "link.adb",
         [](const QString& base) {
             updateFields(base + "link.adb", "UPDATE fields SET name='PageURX' WHERE pos=6");
         }},
        {"a blank field name", "ancor.adb",
         [](const QString& base) {
             updateFields(base + "ancor.adb", "UPDATE fields SET name='' WHERE pos=1");
         }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        for (const bool withStore : {false, true}) {
            TempFolder dir;
            QDir().mkpath(dir.base());
            {
                Database gen;
                fillEveryTable(gen);
                ASSERT_TRUE(SaveBase(gen, dir.base()).ok);
            }
            c.spoil(dir.base());
            const QByteArray spoiled =
                QFile::exists(dir.file(c.file)) ? TempFolder::read(dir.file(c.file)) : QByteArray();
            Database db;
            if (withStore) {
                ASSERT_TRUE(openStore(db, dir.base()));
            }
            const BaseResult r = LoadBase(db, dir.base());
            EXPECT_FALSE(r.ok);
            EXPECT_EQ(r.file, c.file);
            EXPECT_TRUE(r.error.contains(u'"' + c.file + u'"')) << r.error.toStdString();
            EXPECT_TRUE(db.BaseLoadError);
            EXPECT_EQ(db.baseLoadFailure, r.error);
            bool reached = false;
            for (Table* t : db.dataTables()) {
                reached = reached || tableFileName(*t) == c.file;
                EXPECT_EQ(t->recordCount(), reached ? 0 : 40) << tableFileName(*t).toStdString();
            }
            // Nothing is written to the files any more; a missing file is not made.
            if (withStore) {
                EXPECT_TRUE(db.store.fileNames().isEmpty());
            }
            EXPECT_EQ(QFile::exists(dir.file(c.file)), QString(c.what) != "missing");
            if (QFile::exists(dir.file(c.file))) {
                EXPECT_EQ(TempFolder::read(dir.file(c.file)), spoiled);
            }
        }
    }
}

TEST(BaseLoad, DetailViewsAfterAStartShowWhatTheirFiltersSelect) {
    // The scroll handlers filter the detail tables while the base loads; the views must end up holding
    // every record their filters select.
    TempFolder dir;
    QDir().mkpath(dir.base());
    {
        Database gen;
        fillEveryTable(gen);
        auto share = [](Table& t, const char* field, int groups) {
            const int f = t.fieldIndex(QString::fromLatin1(field));
            ASSERT_GE(f, 0) << field;
            for (int row = 0; row < t.rowCapacity(); ++row)
                t.setRawInt(row, f, row % groups + 1);
            t.finishLoad();
        };
        share(gen.tbLink, "ProjectID", 3);
        share(gen.tbAncor, "LinkID", 5);
        share(gen.tbCat2, "PID", 4);
        ASSERT_TRUE(SaveBase(gen, dir.base()).ok);
    }
    Database db;
    ScriptedUi ui;
    RecordRules rules(db, ui);
    Session session(db, dir.base(), ui);
    ASSERT_TRUE(session.acquireInstanceLock());
    session.start();
    ASSERT_FALSE(db.BaseLoadError) << db.baseLoadFailure.toStdString();

    Database ref;
    loadOneByOne(ref, dir.base());
    int filtered = 0;
    for (size_t i = 0; i < db.dataTables().size(); ++i) {
        Table& t = *db.dataTables()[i];
        Table& r = *ref.dataTables()[i];
        if (!t.filtered() || t.hasRowFilter()) continue;
        SCOPED_TRACE(tableFileName(t).toStdString() + " " + t.filter().toStdString());
        ++filtered;
        ASSERT_TRUE(r.setFilter(t.filter()));
        r.setFiltered(true);
        ASSERT_EQ(t.recordCount(), r.recordCount());
        const int id = t.fieldIndex(QStringLiteral("ID"));
        for (int pos = 0; pos < t.recordCount(); ++pos)
            EXPECT_EQ(t.displayTextAt(pos, id), r.displayTextAt(pos, id)) << pos;
    }
    EXPECT_GT(filtered, 0);
}
