#include <gtest/gtest.h>

#include <sqlite3.h>
#include <sys/stat.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include "db/database.h"
#include "db/table_file.h"
#include "support/temp_folder.h"

using namespace zentaro::db;
using zentaro::test::TempFolder;

namespace {

void fillLinks(Table& l) {
    ASSERT_TRUE(l.insert());
    l.setValue("ID", 1);
    l.setValue("Name", QStringLiteral("Примечание «кавычки» 'и' \"двойные\""));
    l.setValue("PageURL", QStringLiteral("http://пример.рф/страница?a=1&b=2"));
    l.setValue("PublicDate", QDate(2026, 12, 9));
    l.setValue("PageIndexY", QStringLiteral("1"));
    l.setValue("Price", 1234.56);
    l.setValue("PageStatus", QStringLiteral("2"));
    l.setValue("TIC", -5);
    l.post();
    ASSERT_TRUE(l.insert());
    l.setValue("ID", 2); // every other field stays empty
    l.post();
}

int mode(const QString& path) {
    struct stat st {};
    ::stat(QFile::encodeName(path).constData(), &st);
    return int(st.st_mode & 0777);
}

// The two links of fillLinks, filled into a and saved as link.adb in the folder.
bool saveTwoLinks(TempFolder& dir, Database& a) {
    QDir().mkpath(dir.base());
    fillLinks(a.tbLink);
    QString err;
    const bool saved = TableFile::save(a.tbLink, dir.file("link.adb"), &err);
    EXPECT_TRUE(saved) << err.toStdString();
    return saved;
}

} // namespace

TEST(TableFile, RoundTripKeepsEveryTypeCyrillicTextAndEmptyValues) {
    TempFolder dir;
    Database a;
    ASSERT_TRUE(saveTwoLinks(dir, a));
    QString err;

    Database b;
    ASSERT_TRUE(TableFile::load(b.tbLink, dir.file("link.adb"), &err)) << err.toStdString();
    Table& l = b.tbLink;
    ASSERT_EQ(l.recordCount(), 2);
    l.first();
    for (int f : l.storedFields())
        EXPECT_EQ(l.value(f), a.tbLink.rowValue(0, f)) << l.field(f).name.toStdString();
    l.next();
    EXPECT_EQ(l.asInteger("ID"), 2);
    for (int f : l.storedFields()) {
        if (l.field(f).name != QStringLiteral("ID")) {
            EXPECT_FALSE(l.value(f).isValid()) << l.field(f).name.toStdString();
        }
    }
}

TEST(TableFile, FilesAreReadableByTheOwnerOnlyAndNoTemporaryIsLeft) {
    TempFolder dir;
    QDir().mkpath(dir.base());
    Database db;
    fillLinks(db.tbLink);
    ASSERT_TRUE(TableFile::save(db.tbLink, dir.file("link.adb"), nullptr));
    EXPECT_EQ(mode(dir.file("link.adb")), 0600);
    EXPECT_EQ(QDir(dir.base()).entryList(QDir::Files), QStringList{QStringLiteral("link.adb")});
}

TEST(TableFile, DamagedForeignAndMissingFilesFailWithAClearTextAndAnEmptyTable) {
    TempFolder dir;
    QDir().mkpath(dir.base());
    Database db;
    fillLinks(db.tbLink);
    ASSERT_TRUE(TableFile::save(db.tbLink, dir.file("link.adb"), nullptr));

    QByteArray damaged = TempFolder::read(dir.file("link.adb"));
    for (qsizetype i = 100; i < damaged.size(); i += 7)
        damaged[i] = char(0x5a);
    TempFolder::write(dir.file("damaged.adb"), damaged);
    TempFolder::write(dir.file("text.adb"), "Это не таблица, а текстовый файл другой программы.\n");
    TempFolder::write(dir.file("empty.adb"), QByteArray());

    // A database of another program: valid SQLite, foreign content.
    sqlite3* other = nullptr;
    ASSERT_EQ(sqlite3_open(QFile::encodeName(dir.file("foreign.adb")).constData(), &other), SQLITE_OK);
    ASSERT_EQ(sqlite3_exec(other, "CREATE TABLE contacts(name TEXT); INSERT INTO contacts VALUES('x');",
                           nullptr, nullptr, nullptr),
              SQLITE_OK);
    sqlite3_close(other);

    for (const char* name : {"damaged.adb", "text.adb", "empty.adb", "foreign.adb", "missing.adb"}) {
        Database d;
        fillLinks(d.tbLink);
        QString err;
        EXPECT_FALSE(TableFile::load(d.tbLink, dir.file(QString::fromLatin1(name)), &err)) << name;
        EXPECT_TRUE(err.startsWith(
            QStringLiteral("Не удалось загрузить таблицу \"%1\"").arg(QString::fromLatin1(name))))
            << err.toStdString();
        EXPECT_EQ(d.tbLink.recordCount(), 0) << name;
    }
}

TEST(TableFile, AFileOfAnotherTableIsRefusedByEveryOtherTable) {
    TempFolder dir;
    QDir().mkpath(dir.base());
    Database db;
    ASSERT_TRUE(db.tbCat.insert());
    db.tbCat.setValue("ID", 1);
    db.tbCat.setValue("Name", QStringLiteral("x"));
    db.tbCat.post();
    ASSERT_TRUE(TableFile::save(db.tbCat, dir.file("cat.adb"), nullptr));
    // A renamed cat.adb would match tbAccount's ID and tbSets' Name by field name: the stored table name
    // decides.
    Database other;
    for (Table* t : {&other.tbProject, &other.tbCat2, &other.tbSite, &other.tbLink, &other.tbAncor,
                     &other.tbAccount, &other.tbSets}) {
        QString err;
        EXPECT_FALSE(TableFile::load(*t, dir.file("cat.adb"), &err)) << t->tableName().toStdString();
        EXPECT_TRUE(err.contains(QStringLiteral("другую таблицу (tbCat)"))) << err.toStdString();
        EXPECT_EQ(t->recordCount(), 0);
    }
    EXPECT_TRUE(TableFile::load(other.tbCat, dir.file("cat.adb"), nullptr));
    EXPECT_EQ(other.tbCat.recordCount(), 1);
}

TEST(TableFile, FailedSaveLeavesTheOldFileWhole) {
    if (::geteuid() == 0) GTEST_SKIP() << "root writes into read-only folders";
    TempFolder dir;
    QDir().mkpath(dir.base());
    Database db;
    fillLinks(db.tbLink);
    ASSERT_TRUE(TableFile::save(db.tbLink, dir.file("link.adb"), nullptr));
    const QByteArray before = TempFolder::read(dir.file("link.adb"));
    ::chmod(QFile::encodeName(dir.base()).constData(), 0500);
    QString err;
    EXPECT_FALSE(TableFile::save(db.tbLink, dir.file("link.adb"), &err));
    ::chmod(QFile::encodeName(dir.base()).constData(), 0700);
    EXPECT_TRUE(err.startsWith(QStringLiteral("Не удалось сохранить таблицу \"link.adb\"")));
    EXPECT_EQ(TempFolder::read(dir.file("link.adb")), before);
}

TEST(TableFile, SaveOverAnUnwritablePathFailsWithoutHalfFiles) {
    TempFolder dir;
    // The target's folder does not exist: nothing can be created, nothing is left behind.
    Database db;
    fillLinks(db.tbLink);
    QString err;
    EXPECT_FALSE(TableFile::save(db.tbLink, dir.path() + QStringLiteral("no/such/link.adb"), &err));
    EXPECT_FALSE(err.isEmpty());
    EXPECT_FALSE(QFileInfo::exists(dir.path() + QStringLiteral("no")));
}

TEST(TableFile, BlockedTemporaryFileFailsAndKeepsTheOldFile) {
    TempFolder dir;
    QDir().mkpath(dir.base());
    Database db;
    fillLinks(db.tbLink);
    ASSERT_TRUE(TableFile::save(db.tbLink, dir.file("link.adb"), nullptr));
    const QByteArray before = TempFolder::read(dir.file("link.adb"));
    QDir().mkpath(dir.file("link.adb.tmp/x")); // something of another kind stands where the new file goes
    db.tbLink.first();
    db.tbLink.deleteRecord();
    QString err;
    EXPECT_FALSE(TableFile::save(db.tbLink, dir.file("link.adb"), &err));
    EXPECT_TRUE(err.startsWith(QStringLiteral("Не удалось сохранить таблицу \"link.adb\"")));
    EXPECT_EQ(TempFolder::read(dir.file("link.adb")), before);
}

namespace {

// Anchor texts repeat (Cyrillic, NUL inside, empty, longer than the field); addresses are all different
// (enough of them that the loader stops looking for repeats); notes are never filled in.
QString anchorText(int row) {
    switch (row % 5) {
    case 0:
        return QStringLiteral("купить «окна» недорого");
    case 1:
        return QStringLiteral("buy windows");
    case 2:
        return QStringLiteral("с\u0000нулём") + QChar(0);
    case 3:
        return {};
    default:
        return QString(300, u'щ');
    }
}

QString anchorUrl(int row) {
    return row % 10 == 9 ? QString() : QStringLiteral("http://сайт.рф/%1").arg(row);
}

} // namespace

TEST(TableFile, LoadedTextsEqualTheSavedOnesAndStayApartWhenEdited) {
    TempFolder dir;
    QDir().mkpath(dir.base());
    const int rows = 20000;
    {
        Database a;
        Table& t = a.tbAncor;
        t.clearRecords();
        for (int r = 0; r < rows; ++r) {
            const int row = t.appendRawRow();
            t.setRawInt(row, t.fieldIndex("ID"), r + 1);
            t.setRawString(row, t.fieldIndex("Ancor"), anchorText(r));
            t.setRawString(row, t.fieldIndex("URL"), anchorUrl(r));
        }
        t.finishLoad();
        QString err;
        ASSERT_TRUE(TableFile::save(t, dir.file("ancor.adb"), &err)) << err.toStdString();
    }
    Database b;
    Table& t = b.tbAncor;
    QString err;
    ASSERT_TRUE(TableFile::load(t, dir.file("ancor.adb"), &err)) << err.toStdString();
    ASSERT_EQ(t.recordCount(), rows);
    const int ancor = t.fieldIndex("Ancor"), url = t.fieldIndex("url"), info = t.fieldIndex("Info");
    ASSERT_EQ(url, t.fieldIndex("URL"));
    for (int r = 0; r < rows; ++r) {
        ASSERT_EQ(t.rawString(r, ancor), anchorText(r).left(255)) << r;
        ASSERT_EQ(t.rawString(r, url), anchorUrl(r)) << r;
        ASSERT_FALSE(t.rowValue(r, info).isValid()) << r;
    }
    // Equal texts share one buffer: that is where the memory goes.
    EXPECT_EQ(t.rawString(0, ancor).constData(), t.rawString(rows - 5, ancor).constData());

    // An edit changes its own record only, whether it goes through the current record or straight to a row.
    ASSERT_TRUE(t.locate("ID", 1));
    ASSERT_TRUE(t.setValue(ancor, QStringLiteral("другой")));
    ASSERT_TRUE(t.post());
    ASSERT_TRUE(t.setRowValue(6, ancor, QStringLiteral("ещё")));
    ASSERT_TRUE(t.setRowValue(3, info, QStringLiteral("заметка")));
    ASSERT_TRUE(t.insert());
    t.setValue("ID", rows + 1);
    t.setValue(info, QStringLiteral("новая"));
    ASSERT_TRUE(t.post());
    const auto expectEdited = [&](const Table& x) {
        ASSERT_EQ(x.recordCount(), rows + 1);
        for (int r = 0; r < rows; ++r) {
            const QString want = r == 0   ? QStringLiteral("другой")
                                 : r == 6 ? QStringLiteral("ещё")
                                          : anchorText(r).left(255);
            ASSERT_EQ(x.rawString(r, ancor), want) << r;
            ASSERT_EQ(x.rawString(r, info), r == 3 ? QStringLiteral("заметка") : QString()) << r;
        }
        ASSERT_EQ(x.rawString(rows, info), QStringLiteral("новая"));
    };
    expectEdited(t);
    // The notes, filled in after the load, sort after the empty ones.
    ASSERT_TRUE(t.setIndexFieldNames("Info"));
    EXPECT_EQ(t.displayTextAt(rows - 1, info), QStringLiteral("заметка"));
    EXPECT_EQ(t.displayTextAt(rows, info), QStringLiteral("новая"));

    ASSERT_TRUE(TableFile::save(t, dir.file("ancor.adb"), &err)) << err.toStdString();
    Database c;
    ASSERT_TRUE(TableFile::load(c.tbAncor, dir.file("ancor.adb"), &err)) << err.toStdString();
    expectEdited(c.tbAncor);
}

TEST(TableFile, AForgedRecordKeyLoadsWithoutReservingRoomForIt) {
    TempFolder dir;
    Database a;
    ASSERT_TRUE(saveTwoLinks(dir, a));
    QString err;
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(QFile::encodeName(dir.file("link.adb")).constData(), &db), SQLITE_OK);
    // The largest key a file can hold: room for that many records would exhaust any machine.
    ASSERT_EQ(sqlite3_exec(db, "UPDATE records SET rowid = 9223372036854775807 WHERE rowid = 2", nullptr,
                           nullptr, nullptr),
              SQLITE_OK);
    sqlite3_close(db);
    Database b;
    ASSERT_TRUE(TableFile::load(b.tbLink, dir.file("link.adb"), &err)) << err.toStdString();
    EXPECT_EQ(b.tbLink.recordCount(), 2);
}
