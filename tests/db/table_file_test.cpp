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

} // namespace

TEST(TableFile, RoundTripKeepsEveryTypeCyrillicTextAndEmptyValues) {
    TempFolder dir;
    QDir().mkpath(dir.base());
    Database a;
    fillLinks(a.tbLink);
    QString err;
    ASSERT_TRUE(TableFile::save(a.tbLink, dir.file("link.adb"), &err)) << err.toStdString();

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
