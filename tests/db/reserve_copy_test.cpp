#include <csignal>
#include <functional>

#include <gtest/gtest.h>

#include <sys/resource.h>
#include <sys/stat.h>

#include <QDir>
#include <QFileInfo>

#include "db/check_history.h"
#include "db/database.h"
#include "db/history_file.h"
#include "db/record_rules.h"
#include "db/reserve_copy.h"
#include "db/session.h"
#include "db/table_file.h"
#include "db/table_text.h"
#include "support/records.h"
#include "support/scripted_ui.h"
#include "support/temp_folder.h"

using namespace zentaro;
using namespace zentaro::db;

namespace {

class ReserveCopy : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(session.acquireInstanceLock());
        session.start();
        test::addRecord(db.tbProject, {{"Name", QStringLiteral("Первый")}});
    }
    QString folder(const char* day) const {
        return dir.path() + QStringLiteral("RCopy/") + QString::fromLatin1(day);
    }
    int projectsIn(const QString& copy) {
        Database other;
        if (!TableFile::load(other.tbProject, copy + QStringLiteral("/project.adb"), nullptr)) return -1;
        return other.tbProject.recordCount();
    }

    test::TempFolder dir;
    test::ScriptedUi ui;
    Database db;
    RecordRules rules{db, ui};
    Session session{db, dir.base(), ui};
    ReserveCopyState state;
};

const QDate kDec5(2014, 12, 5);

} // namespace

TEST_F(ReserveCopy, AnAutomaticCopyIsDueWhenTheIntervalHasPassed) {
    state.last = kDec5;
    db.isAuto = true;
    EXPECT_EQ(RunRCopy(db, state, dir.base(), ui, QDate(2014, 12, 7)), CopyOutcome::Skipped);
    EXPECT_FALSE(QFileInfo::exists(dir.path() + "RCopy"));
    EXPECT_EQ(RunRCopy(db, state, dir.base(), ui, QDate(2014, 12, 8)), CopyOutcome::Done);
    EXPECT_EQ(projectsIn(folder("2014-12-08")), 1);
    EXPECT_TRUE(ui.shown().empty()); // closing copies silently
    EXPECT_EQ(state.last, QDate(2014, 12, 8));
    state.enabled = false;
    state.last.reset(); // never copied: due, but switched off
    EXPECT_EQ(RunRCopy(db, state, dir.base(), ui, QDate(2014, 12, 9)), CopyOutcome::Skipped);
}

// A copy made by hand is never replaced: a second press the same day goes into a folder of its own, and
// closing after a delete (copying off, or not yet due) makes no copy over it.
TEST_F(ReserveCopy, EachCopyOfADayHasItsOwnFolderAndAManualOneIsNotRepeatedAtClosing) {
    db.StartRCopyNow = true;
    state.enabled = false;
    state.last = kDec5;
    ASSERT_EQ(RunRCopy(db, state, dir.base(), ui, kDec5), CopyOutcome::Done);
    EXPECT_FALSE(db.StartRCopyNow);
    test::addRecord(db.tbProject, {{"Name", QStringLiteral("Второй")}}); // not yet written: the copy flushes
    db.StartRCopyNow = true;
    ASSERT_EQ(RunRCopy(db, state, dir.base(), ui, kDec5), CopyOutcome::Done);
    const QString said = QStringLiteral("Создана резервная копия базы.\r\nКопия находится в папке: ");
    EXPECT_EQ(ui.texts(), (QStringList{said + QDir::toNativeSeparators(folder("2014-12-05")),
                                       said + QDir::toNativeSeparators(folder("2014-12-05-2"))}));
    EXPECT_EQ(projectsIn(folder("2014-12-05")), 1);
    EXPECT_EQ(projectsIn(folder("2014-12-05-2")), 2);
    // Copies are owner-only, as the data files; the lock is no data; short names are skipped.
    struct stat st {};
    ::stat(QFile::encodeName(folder("2014-12-05") + "/account.adb").constData(), &st);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    EXPECT_FALSE(QFileInfo::exists(folder("2014-12-05") + "/zentaro.lock"));

    struct Closing {
        bool enabled;
        int interval;
    };
    for (const Closing c : {Closing{false, 3}, Closing{true, 3}}) {
        state.enabled = c.enabled;
        state.intervalDays = c.interval;
        db.tbProject.last();
        ui.answer(true); // "Удаление": yes
        ASSERT_TRUE(db.tbProject.deleteRecord());
        ASSERT_TRUE(db.store.flush());
        db.isAuto = true;
        EXPECT_EQ(RunRCopy(db, state, dir.base(), ui, kDec5), CopyOutcome::Skipped);
        db.isAuto = false;
        EXPECT_EQ(projectsIn(folder("2014-12-05-2")), 2);
        EXPECT_FALSE(QFileInfo::exists(folder("2014-12-05-3")));
        test::addRecord(db.tbProject, {{"Name", QStringLiteral("Снова")}});
    }
}

TEST_F(ReserveCopy, ShortNamesAreSkippedOtherFilesCopiedAndAFailureStops) {
    test::TempFolder::write(dir.file("a.db"), "x");
    test::TempFolder::write(dir.file("notes.txt"), "заметки");
    db.StartRCopyNow = true;
    ASSERT_EQ(RunRCopy(db, state, dir.base(), ui, kDec5), CopyOutcome::Done);
    EXPECT_FALSE(QFileInfo::exists(folder("2014-12-05") + "/a.db"));
    EXPECT_EQ(test::TempFolder::read(folder("2014-12-05") + "/notes.txt"), QByteArray("заметки"));
    // A file where the copies' folder should be: nothing can be copied.
    QDir(dir.path() + "RCopy").removeRecursively();
    test::TempFolder::write(dir.path() + "RCopy", "in the way");
    ui.clear();
    db.StartRCopyNow = true;
    EXPECT_EQ(RunRCopy(db, state, dir.base(), ui, kDec5), CopyOutcome::Failed);
    EXPECT_TRUE(db.StartRCopyNow); // a copy asked for and not made is tried again at closing
    ASSERT_EQ(ui.shown().size(), 1u);
    // The reason follows the message: here the folder that could not be made.
    EXPECT_TRUE(ui.shown()[0].text.startsWith(QStringLiteral("Не удалось создать резервную копию базы!\r\n"
                                                             "Не удалось создать папку \"")))
        << ui.shown()[0].text.toStdString();
    EXPECT_EQ(ui.shown()[0].caption, QStringLiteral("Ошибка"));
}

TEST(CopyRoot, BesideTheDataFolderWhetherItExistsOrNot) {
    EXPECT_EQ(copyRoot(QStringLiteral("/nowhere/zentaro/base/")), QStringLiteral("/nowhere/zentaro/RCopy"));
    EXPECT_EQ(copyRoot(QStringLiteral("/nowhere/zentaro/base")), QStringLiteral("/nowhere/zentaro/RCopy"));
    EXPECT_EQ(dayFolderName(QDate(2014, 12, 8)), QStringLiteral("2014-12-08"));
}

TEST_F(ReserveCopy, NoCopyAfterALoadFailure) {
    db.BaseLoadError = true;
    db.StartRCopyNow = true;
    EXPECT_EQ(RunRCopy(db, state, dir.base(), ui, kDec5), CopyOutcome::Skipped);
    EXPECT_FALSE(QFileInfo::exists(dir.path() + "RCopy"));
}

TEST(CopyFile, AShortWriteIsAFailureAndLeavesNoCopy) {
    test::TempFolder dir;
    const QString from = dir.path() + "big", to = dir.path() + "copy";
    test::TempFolder::write(from, QByteArray(300000, 'z'));
    // A file size limit makes the disk take fewer bytes than were read, as a full disk does.
    ::signal(SIGXFSZ, SIG_IGN);
    rlimit old{};
    ::getrlimit(RLIMIT_FSIZE, &old);
    rlimit small = old;
    small.rlim_cur = 100000;
    ::setrlimit(RLIMIT_FSIZE, &small);
    const bool copied = CopyFile(from, to);
    ::setrlimit(RLIMIT_FSIZE, &old);
    EXPECT_FALSE(copied);
    EXPECT_FALSE(QFileInfo::exists(to));
    EXPECT_FALSE(QFileInfo::exists(to + ".tmp"));
    EXPECT_TRUE(CopyFile(from, to));
    EXPECT_EQ(QFileInfo(to).size(), 300000);
}

TEST_F(ReserveCopy, ARestoreBringsBackTheCopyAndARefusedOneChangesNothing) {
    db.StartRCopyNow = true;
    ASSERT_EQ(RunRCopy(db, state, dir.base(), ui, kDec5), CopyOutcome::Done);
    test::addRecord(db.tbProject, {{"Name", QStringLiteral("После копии")}});
    ASSERT_TRUE(db.store.flush());
    // A damaged copy is refused whole.
    const QString damaged = dir.path() + "damaged";
    QDir().mkpath(damaged);
    for (const QString& f : QDir(folder("2014-12-05")).entryList(QDir::Files))
        QFile::copy(folder("2014-12-05") + u'/' + f, damaged + u'/' + f);
    test::TempFolder::write(damaged + "/ancor.adb", "not a table");
    QString error;
    EXPECT_FALSE(restoreFrom(db, damaged, &error));
    EXPECT_TRUE(error.contains(QStringLiteral("\"ancor.adb\""))) << error.toStdString();
    EXPECT_EQ(projectsIn(dir.path() + "base"), 2);
    EXPECT_EQ(db.tbProject.recordCount(), 2);

    ASSERT_TRUE(restoreFrom(db, folder("2014-12-05"), &error)) << error.toStdString();
    ASSERT_TRUE(db.store.flush());
    EXPECT_EQ(db.tbProject.recordCount(), 1);
    EXPECT_EQ(projectsIn(dir.path() + "base"), 1);
    // New records go on from the restored IDs, and are written.
    test::addRecord(db.tbProject, {{"Name", QStringLiteral("Новый")}});
    EXPECT_EQ(db.tbProject.asInteger("ID"), 2);
    ASSERT_TRUE(db.store.flush());
    EXPECT_EQ(projectsIn(dir.path() + "base"), 2);
}

// A restore or a text import replaces every record, and the check history with them: a copy brings back
// the outcomes it was made with (copied by SQLite, with no log beside it), a copy without any and a text
// import leave none, and the history in use is set aside as checks.adb.previous. So does a start that finds
// the tables marked for another history (a crash after the tables were written); a history prepared for them
// takes its place.
TEST_F(ReserveCopy, ImportAndRestoreReplaceTheHistoryWithTheirTables) {
    ASSERT_TRUE(db.checks.isOpen());
    test::addRecord(db.tbSite, {{"Site", "trust.ru"}});
    const int id = test::addRecord(db.tbLink, {{"PageURL", "http://a.ru/"}});
    const CheckSubject page = CheckSubject::LinkPage;
    auto check = [&](CheckReason r) {
        db.checks.record(page, id, {QDateTime::currentDateTime(), CheckKind::Presence, r, {}});
        ASSERT_TRUE(db.store.flush());
    };
    check(CheckReason::Found);
    db.StartRCopyNow = true;
    ASSERT_EQ(RunRCopy(db, state, dir.base(), ui, kDec5), CopyOutcome::Done);
    const QString withHistory = folder("2014-12-05");
    for (const char* f : {"checks.adb-wal", "checks.adb-shm", "checks.adb.previous"})
        EXPECT_FALSE(QFileInfo::exists(withHistory + u'/' + QString::fromLatin1(f))) << f;
    ASSERT_TRUE(QFileInfo::exists(withHistory + "/checks.adb"));
    const QString without = dir.path() + "without";
    QDir().mkpath(without);
    for (const QString& f : QDir(withHistory).entryList({"*.adb"}, QDir::Files))
        if (f != QLatin1String("checks.adb")) QFile::copy(withHistory + u'/' + f, without + u'/' + f);
    for (int i = 0; i < 7; ++i)
        ui.answer(true);
    QString error;
    ASSERT_TRUE(AllTbExport(db, dir.path() + "export", ui, &error)) << error.toStdString();

    struct Case {
        const char* what;
        std::function<bool()> replace;
        size_t kept; // outcomes of the page afterwards
    };
    // A history in the copy that does not read never keeps the tables from coming back.
    const QString damaged = dir.path() + "damaged";
    QDir().mkpath(damaged);
    for (const QString& f : QDir(without).entryList(QDir::Files))
        QFile::copy(without + u'/' + f, damaged + u'/' + f);
    test::TempFolder::write(damaged + "/checks.adb", "not a database, not even close to one");
    const Case cases[] = {
        {"restore of a copy with its history", [&] { return restoreFrom(db, withHistory, &error); }, 1},
        {"restore of a copy with a damaged one", [&] { return restoreFrom(db, damaged, &error); }, 0},
        {"restore of a copy without one", [&] { return restoreFrom(db, without, &error); }, 0},
        {"text import", [&] { return AllTbImport(db, dir.path() + "export", &error); }, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        QFile::remove(dir.base() + "checks.adb.previous");
        check(CheckReason::Missing);
        ASSERT_TRUE(c.replace()) << error.toStdString();
        EXPECT_EQ(db.checks.history(page, id).size(), c.kept);
        EXPECT_EQ(db.checks.withLast(page, {CheckReason::Missing}).empty(), true);
        EXPECT_TRUE(QFileInfo::exists(dir.base() + "checks.adb.previous"));
        EXPECT_FALSE(QFileInfo::exists(dir.base() + "checks.adb.next"));
        // The same after the next start.
        db.checks.close();
        ASSERT_TRUE(openHistoryFor(db, dir.base(), &error)) << error.toStdString();
        EXPECT_EQ(db.checks.history(page, id).size(), c.kept);
    }

    // Tables written with a new mark while the history kept the old one: the next start sets it aside, or
    // puts the history prepared for them in its place.
    for (const bool prepared : {false, true}) {
        SCOPED_TRACE(prepared ? "prepared" : "none prepared");
        check(CheckReason::Missing);
        const int mark = newHistoryMark();
        if (prepared) {
            ASSERT_TRUE(
                prepareHistory(withHistory + "/checks.adb", nextHistoryPath(dir.base()), mark, &error));
        }
        markTables(db, mark);
        ASSERT_TRUE(db.store.flush());
        db.checks.close();
        ASSERT_TRUE(openHistoryFor(db, dir.base(), &error)) << error.toStdString();
        EXPECT_EQ(db.checks.history(page, id).size(), prepared ? 1u : 0u);
        EXPECT_FALSE(db.checks.last(page, id).has_value() &&
                     db.checks.last(page, id)->outcome.reason == CheckReason::Missing);
    }
}

// The last copy's day is kept with four digits whatever the regional format; one that is missing, cannot
// be read or lies after today leaves the copy due rather than putting it off.
TEST(ReserveCopyState, TheLastCopyDateReadsBackOrLeavesTheCopyDue) {
    const QLocale old;
    const QDate today(2014, 12, 8);
    for (const QLocale& l : {QLocale(QLocale::English, QLocale::UnitedStates), QLocale(QLocale::German),
                             QLocale(QStringLiteral("bg_BG")), QLocale(QStringLiteral("sk_SK")),
                             QLocale(QStringLiteral("ar_SA")), QLocale(QLocale::Russian)}) {
        QLocale::setDefault(l);
        ReserveCopyState state;
        state.last = today;
        ReserveCopyState read;
        read.setLastText(state.lastText(), today);
        EXPECT_EQ(read.last, today) << state.lastText().toStdString();
        EXPECT_FALSE(read.due(today));
        for (const char* bad : {"", "никогда", "12/8/0014", "31.12.2099"}) {
            read.setLastText(QString::fromUtf8(bad), today);
            EXPECT_TRUE(read.due(today)) << bad;
        }
    }
    QLocale::setDefault(old);
}
