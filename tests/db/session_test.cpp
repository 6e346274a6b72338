#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLockFile>
#include <QTest>

#include "db/base_files.h"
#include "db/database.h"
#include "db/session.h"
#include "db/table_file.h"
#include "support/busy_file.h"
#include "support/records.h"
#include "support/scripted_ui.h"
#include "support/temp_folder.h"

using namespace zentaro::db;
using zentaro::test::addRecord;
using zentaro::test::BusyFile;
using zentaro::test::ScriptedUi;
using zentaro::test::TempFolder;

namespace {

const QStringList kDataFiles = {"project.adb", "cat.adb",   "cat2.adb",   "site.adb",
                                "link.adb",    "ancor.adb", "account.adb"};

void addProject(Database& db, int id, const QString& name) {
    ASSERT_TRUE(db.tbProject.insert());
    db.tbProject.setValue("ID", id);
    db.tbProject.setValue("Name", name);
    db.tbProject.post();
}

void addNamed(Table& t, int id) {
    ASSERT_TRUE(t.insert());
    t.setValue("ID", id);
    t.post();
}

// One run of the program on a folder: lock, start, optional work, close.
struct ProgramRun {
    explicit ProgramRun(const QString& base) : session(db, base, ui) {}
    Database db;
    ScriptedUi ui;
    Session session;
};

void fillAll(const QString& base) {
    ProgramRun r(base);
    ASSERT_TRUE(r.session.acquireInstanceLock());
    r.session.start();
    addProject(r.db, 1, QStringLiteral("Проект"));
    for (Table* t : r.db.dataTables())
        if (t != &r.db.tbProject) addNamed(*t, 1);
    QString err;
    ASSERT_TRUE(r.session.close(&err)) << err.toStdString();
}

} // namespace

TEST(Session, FirstStartWithoutBaseFolderGivesAnEmptyDatabaseSavedAtExit) {
    TempFolder dir;
    {
        ProgramRun r(dir.base());
        ASSERT_TRUE(r.session.acquireInstanceLock());
        r.session.start();
        EXPECT_TRUE(r.ui.shown().empty());
        EXPECT_FALSE(r.db.BaseLoadError);
        addProject(r.db, 1, QStringLiteral("Первый"));
        QString err;
        ASSERT_TRUE(r.session.close(&err)) << err.toStdString();
    }
    struct stat st {};
    ::stat(QFile::encodeName(dir.base()).constData(), &st);
    EXPECT_EQ(st.st_mode & 0777, 0700u);
    for (const QString& f : kDataFiles + QStringList{"sets.adb"})
        EXPECT_TRUE(QFileInfo::exists(dir.file(f))) << f.toStdString();
    ProgramRun again(dir.base());
    ASSERT_TRUE(again.session.acquireInstanceLock());
    again.session.start();
    EXPECT_TRUE(again.ui.shown().empty());
    again.db.tbProject.first();
    EXPECT_EQ(again.db.tbProject.asString("Name"), QStringLiteral("Первый"));
}

TEST(Session, AllTablesLoadAndAPostIsInItsFileWithoutClosing) {
    TempFolder dir;
    fillAll(dir.base());
    ProgramRun r(dir.base());
    ASSERT_TRUE(r.session.acquireInstanceLock());
    r.session.start();
    for (Table* t : r.db.dataTables())
        EXPECT_EQ(t->recordCount(), 1) << t->tableName().toStdString();
    EXPECT_EQ(r.db.tbSite.recNo(), 1);
    addProject(r.db, 2, QStringLiteral("Второй"));
    // The write happens within a tenth of a second, by the event loop.
    EXPECT_TRUE(QTest::qWaitFor([&] { return !r.db.store.hasPending(); }, 1000));
    Database other;
    ASSERT_TRUE(TableFile::load(other.tbProject, dir.file("project.adb"), nullptr));
    EXPECT_EQ(other.tbProject.recordCount(), 2);
    EXPECT_FALSE(r.db.store.hasPending());
}

TEST(Session, ClosingTheStoreWritesWhatWasWaitingForTheEventLoop) {
    TempFolder dir;
    fillAll(dir.base());
    {
        ProgramRun r(dir.base());
        ASSERT_TRUE(r.session.acquireInstanceLock());
        r.session.start();
        addProject(r.db, 2, QStringLiteral("Последний"));
        ASSERT_TRUE(r.db.store.hasPending()); // scheduled, not written yet
        r.db.store.close();
    }
    Database other;
    ASSERT_TRUE(TableFile::load(other.tbProject, dir.file("project.adb"), nullptr));
    EXPECT_EQ(other.tbProject.recordCount(), 2);
}

TEST(Session, AMissingSettingsFileIsReportedOnceWhenTheFolderExists) {
    TempFolder dir;
    fillAll(dir.base());
    QFile::remove(dir.file("sets.adb"));
    ProgramRun r(dir.base());
    ASSERT_TRUE(r.session.acquireInstanceLock());
    r.session.start();
    ASSERT_EQ(r.ui.shown().size(), 1u);
    EXPECT_EQ(r.ui.shown()[0].text, QStringLiteral("Ошибка загрузки ini-файла"));
    EXPECT_EQ(r.ui.shown()[0].caption, QStringLiteral("Ошибка"));
    EXPECT_EQ(r.db.tbProject.recordCount(), 1);
    ASSERT_TRUE(r.session.close(nullptr));
    EXPECT_TRUE(QFileInfo::exists(dir.file("sets.adb")));
}

TEST(Session, ADamagedTableIsReportedAndNoDataFileIsTouchedAtClose) {
    TempFolder dir;
    fillAll(dir.base());
    TempFolder::write(dir.file("link.adb"), "garbage that is not a table");
    QMap<QString, QByteArray> before;
    for (const QString& f : kDataFiles)
        before[f] = TempFolder::read(dir.file(f));

    ProgramRun r(dir.base());
    ASSERT_TRUE(r.session.acquireInstanceLock());
    r.session.start();
    EXPECT_TRUE(r.db.BaseLoadError);
    EXPECT_EQ(r.db.tbProject.recordCount(), 1);
    EXPECT_EQ(r.db.tbSite.recordCount(), 1);
    EXPECT_EQ(r.db.tbLink.recordCount(), 0);
    EXPECT_EQ(r.db.tbAncor.recordCount(), 0); // tables after the failing one stay empty
    EXPECT_EQ(r.db.tbAccount.recordCount(), 0);
    ASSERT_EQ(r.ui.shown().size(), 1u);
    EXPECT_EQ(r.ui.shown()[0].caption, QStringLiteral("Ошибка"));
    EXPECT_TRUE(r.ui.shown()[0].text.contains(QStringLiteral("\"link.adb\"")));
    EXPECT_TRUE(r.ui.shown()[0].text.contains(QStringLiteral("не будут сохранены")));
    EXPECT_TRUE(r.ui.shown()[0].text.contains(QStringLiteral("выгрузка таблиц при выходе не делаются")));

    addProject(r.db, 2, QStringLiteral("Потерянный"));
    // The export at closing would write the tables loaded before the failure over a whole export.
    bool exported = false;
    r.session.exportAll = [&] { exported = true; };
    ASSERT_TRUE(r.session.close(nullptr));
    EXPECT_FALSE(exported);
    for (const QString& f : kDataFiles)
        EXPECT_EQ(TempFolder::read(dir.file(f)), before[f]) << f.toStdString();
    EXPECT_TRUE(QFileInfo::exists(dir.file("sets.adb")));
}

TEST(Session, AMissingTableFileInAnExistingFolderIsALoadFailureAndNothingIsWritten) {
    TempFolder dir;
    fillAll(dir.base());
    QFile::remove(dir.file("link.adb"));
    const QByteArray anchors = TempFolder::read(dir.file("ancor.adb"));
    ProgramRun r(dir.base());
    ASSERT_TRUE(r.session.acquireInstanceLock());
    r.session.start();
    EXPECT_TRUE(r.db.BaseLoadError);
    ASSERT_EQ(r.ui.shown().size(), 1u);
    EXPECT_TRUE(r.ui.shown()[0].text.contains(QStringLiteral("\"link.adb\": файл не найден")));
    EXPECT_EQ(r.db.tbProject.recordCount(), 1);
    addRecord(r.db.tbLink, {{"ID", 1}});
    ASSERT_TRUE(r.session.close(nullptr));
    EXPECT_FALSE(QFileInfo::exists(dir.file("link.adb")));
    EXPECT_EQ(TempFolder::read(dir.file("ancor.adb")), anchors);
}

TEST(Session, AFailedWriteStopsTheClosingWithTheErrorText) {
    TempFolder dir;
    fillAll(dir.base());
    ProgramRun r(dir.base());
    ASSERT_TRUE(r.session.acquireInstanceLock());
    r.session.start();
    r.db.store.setDeferred(false);
    int copies = 0;
    r.session.runReserveCopy = [&] { ++copies; };
    QString err;
    {
        BusyFile busy(dir.file("site.adb"));
        addRecord(r.db.tbSite, {{"ID", 2}});
        EXPECT_TRUE(r.db.store.hasPending());
        EXPECT_FALSE(r.session.close(&err));
        EXPECT_TRUE(err.startsWith(QStringLiteral("Не удалось сохранить изменения: "))) << err.toStdString();
        EXPECT_EQ(copies, 0);
    }
    {
        // The data is written, the copy made; then the settings file cannot be written.
        BusyFile busy(dir.file("sets.adb"));
        r.session.storeSettings = [&] { addRecord(r.db.tbSets, {{"Name", QStringLiteral("Height")}}); };
        EXPECT_FALSE(r.session.close(&err));
        EXPECT_EQ(copies, 1);
    }
    EXPECT_TRUE(r.session.close(&err)) << err.toStdString();
    EXPECT_EQ(copies, 1); // a retried closing copies once
    Database other;
    ASSERT_TRUE(TableFile::load(other.tbSite, dir.file("site.adb"), nullptr));
    EXPECT_EQ(other.tbSite.recordCount(), 2);
}

TEST(Session, AnExistingReadOnlyBaseFolderIsReadAndTheUserIsTold) {
    TempFolder dir;
    fillAll(dir.base());
    // The folder that exists is the data, writable or not; the per-user folder is for a program folder
    // without one.
    EXPECT_EQ(dataFolder(dir.path(), QStringLiteral("/home/u/.local/share/zentaro")), dir.base());
    if (::geteuid() == 0) GTEST_SKIP() << "root writes into read-only folders";
    ::chmod(QFile::encodeName(dir.base()).constData(), 0500);
    ProgramRun r(dir.base());
    r.session.acquireInstanceLock();
    r.session.start();
    ::chmod(QFile::encodeName(dir.base()).constData(), 0700);
    EXPECT_TRUE(r.session.readOnly());
    EXPECT_EQ(r.db.tbProject.recordCount(), 1);
    ASSERT_FALSE(r.ui.shown().empty());
    EXPECT_TRUE(r.ui.shown()[0].text.contains(QStringLiteral("Изменения не будут сохранены.")));
}

TEST(Session, ASecondInstanceOnTheSameFolderEndsAndTouchesNothing) {
    TempFolder dir;
    fillAll(dir.base());
    ProgramRun first(dir.base());
    ASSERT_TRUE(first.session.acquireInstanceLock());
    first.session.start();
    QMap<QString, QByteArray> before;
    const QStringList files = QDir(dir.base()).entryList(QDir::Files);
    for (const QString& f : files)
        before[f] = TempFolder::read(dir.file(f));
    {
        ProgramRun second(dir.base());
        EXPECT_FALSE(second.session.acquireInstanceLock());
    }
    EXPECT_EQ(QDir(dir.base()).entryList(QDir::Files), files);
    for (const QString& f : files)
        EXPECT_EQ(TempFolder::read(dir.file(f)), before[f]) << f.toStdString();
}

TEST(Session, ALockLeftByACrashedRunDoesNotBlockTheNextStart) {
    TempFolder dir;
    QDir().mkpath(dir.base());
    // A lock file naming a process that no longer runs.
    TempFolder::write(dir.file("zentaro.lock"),
                      "999999\nzentaro\n" + QSysInfo::machineHostName().toUtf8() + "\n");
    ProgramRun r(dir.base());
    EXPECT_TRUE(r.session.acquireInstanceLock());
}

TEST(BaseFiles, ProgramFolderEndsWithItsSeparator) {
    EXPECT_EQ(GetRDir(QStringLiteral("/opt/zentaro/bin/zentaro")), QStringLiteral("/opt/zentaro/bin/"));
    EXPECT_EQ(GetRDir(QStringLiteral("zentaro")), QStringLiteral("zentaro/"));
}

TEST(BaseFiles, DataFolderFallsBackToTheUserFolderWhenTheProgramFolderIsReadOnly) {
    TempFolder dir;
    EXPECT_EQ(dataFolder(dir.path(), QStringLiteral("/home/u/.local/share/zentaro")),
              dir.path() + QStringLiteral("base/"));
    EXPECT_EQ(
        dataFolder(QStringLiteral("/nonexistent/zentaro/"), QStringLiteral("/home/u/.local/share/zentaro")),
        QStringLiteral("/home/u/.local/share/zentaro/base/"));
}
