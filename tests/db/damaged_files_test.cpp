#include <functional>
#include <memory>

#include <gtest/gtest.h>

#include <sched.h>
#include <sqlite3.h>
#include <sys/mount.h>
#include <grp.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>

#include "db/check_history.h"
#include "db/database.h"
#include "db/reserve_copy.h"
#include "db/session.h"
#include "db/table_file.h"
#include "db/table_text.h"
#include "support/records.h"
#include "support/scripted_ui.h"
#include "support/temp_folder.h"

using namespace zentaro::db;
using zentaro::test::addRecord;
using zentaro::test::ScriptedUi;
using zentaro::test::TempFolder;

namespace {

const QStringList kDataFiles = {"project.adb", "cat.adb",   "cat2.adb",   "site.adb",
                                "link.adb",    "ancor.adb", "account.adb"};

struct ProgramRun {
    explicit ProgramRun(const QString& base) : session(db, base, ui) {}
    Database db;
    ScriptedUi ui;
    Session session;
};

// A base of n projects with one record in every other data table.
void makeBase(const QString& base, int projects) {
    ProgramRun r(base);
    ASSERT_TRUE(r.session.acquireInstanceLock());
    r.session.start();
    for (int i = 1; i <= projects; ++i)
        addRecord(r.db.tbProject, {{"ID", i}, {"Name", QStringLiteral("П%1").arg(i)}});
    for (Table* t : r.db.dataTables())
        if (t != &r.db.tbProject) addRecord(*t, {{"ID", 1}});
    ASSERT_TRUE(r.session.close(nullptr));
}

int projectsIn(const QString& path) {
    Database d;
    return TableFile::load(d.tbProject, path, nullptr) ? d.tbProject.recordCount() : -1;
}

bool sqlExec(const QString& path, const char* sql) {
    sqlite3* db = nullptr;
    sqlite3_open(QFile::encodeName(path).constData(), &db);
    const bool ok = sqlite3_exec(db, sql, nullptr, nullptr, nullptr) == SQLITE_OK;
    sqlite3_close(db);
    return ok;
}

QByteArray checksum(const QString& path) {
    return QCryptographicHash::hash(TempFolder::read(path), QCryptographicHash::Sha256);
}

// Runs fn in a child process and returns its exit status (fn's result); -1 when the child died.
int inChild(const std::function<int()>& fn) {
    std::fflush(nullptr);
    const pid_t pid = ::fork();
    if (pid == 0) ::_exit(fn());
    int status = 0;
    if (pid < 0 || ::waitpid(pid, &status, 0) != pid || !WIFEXITED(status)) return -1;
    return WEXITSTATUS(status);
}

constexpr int kSkip = 77;

// In a child: a mount namespace of its own with a small tmpfs on the folder, so the mount goes with the
// child. False when the machine does not allow it.
bool mountSmallDisk(const QString& folder) {
    const uid_t uid = ::geteuid();
    const gid_t gid = ::getegid();
    if (::unshare(CLONE_NEWNS) != 0) {
        if (::unshare(CLONE_NEWUSER | CLONE_NEWNS) != 0) return false;
        TempFolder::write(QStringLiteral("/proc/self/setgroups"), "deny");
        TempFolder::write(QStringLiteral("/proc/self/uid_map"),
                          QByteArray("0 ") + QByteArray::number(uid) + " 1");
        TempFolder::write(QStringLiteral("/proc/self/gid_map"),
                          QByteArray("0 ") + QByteArray::number(gid) + " 1");
    }
    if (::mount("none", "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0) return false;
    QDir().mkpath(folder);
    return ::mount("tmpfs", QFile::encodeName(folder).constData(), "tmpfs", 0, "size=1m,mode=0700") == 0;
}

// Fills the file system that holds the folder until not one more byte fits.
void fillDisk(const QString& folder) {
    QFile filler(folder + QStringLiteral("filler"));
    if (!filler.open(QIODevice::WriteOnly)) return;
    const QByteArray block(4096, 'x');
    while (filler.write(block) == block.size() && filler.flush()) {
    }
    filler.close();
}

} // namespace

TEST(DamagedFiles, FieldsThatDoNotDescribeTheRecordsAreALoadFailureAndTheFileStaysUnchanged) {
    const struct {
        const char* name;
        const char* damage;
    } cases[] = {
        {"rows missing from the end", "DELETE FROM fields WHERE pos >= 5"},
        {"every row gone", "DELETE FROM fields"},
        {"a row too many", "INSERT INTO fields VALUES(100, 'Extra', 'String', 10)"},
        {"a gap in the positions", "DELETE FROM fields WHERE pos = 2"},
        {"a repeated name", "UPDATE fields SET name = (SELECT name FROM fields WHERE pos = 1) WHERE pos = 2"},
        {"a column of another type", "UPDATE fields SET type = 'Float' WHERE pos = 1"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TempFolder dir;
        makeBase(dir.base(), 3);
        {
            ProgramRun fill(dir.base());
            ASSERT_TRUE(fill.session.acquireInstanceLock());
            fill.session.start();
            for (int i = 0; i < 20; ++i)
                addRecord(fill.db.tbLink, {{"PageURL", QStringLiteral("http://s.ru/%1").arg(i)}});
            ASSERT_TRUE(fill.session.close(nullptr));
        }
        ASSERT_TRUE(sqlExec(dir.file("link.adb"), c.damage));
        const QByteArray before = checksum(dir.file("link.adb"));

        ProgramRun r(dir.base());
        ASSERT_TRUE(r.session.acquireInstanceLock());
        r.session.start();
        EXPECT_TRUE(r.db.BaseLoadError);
        ASSERT_FALSE(r.ui.shown().empty());
        EXPECT_TRUE(r.ui.shown()[0].text.contains(QStringLiteral("\"link.adb\"")))
            << r.ui.texts().join("|").toStdString();
        addRecord(r.db.tbLink, {{"PageURL", QStringLiteral("http://new.ru/")}});
        EXPECT_TRUE(r.session.close(nullptr));
        EXPECT_EQ(checksum(dir.file("link.adb")), before);
    }
}

// A table file rewritten in the table's own layout (a field name in other letter case, an older layout) keeps
// the mark that ties the check history to the tables: without it the next start would set the history aside.
TEST(DamagedFiles, ALayoutRewriteKeepsTheHistoryWithItsTables) {
    TempFolder dir;
    makeBase(dir.base(), 2);
    const CheckSubject page = CheckSubject::LinkPage;
    {
        ProgramRun r(dir.base());
        ASSERT_TRUE(r.session.acquireInstanceLock());
        r.session.start();
        for (int i = 0; i < 7; ++i)
            r.ui.answer(true);
        QString error;
        ASSERT_TRUE(AllTbExport(r.db, dir.path() + "export", r.ui, &error)) << error.toStdString();
        ASSERT_TRUE(AllTbImport(r.db, dir.path() + "export", &error)) << error.toStdString();
        r.db.checks.record(page, 1,
                           {QDateTime::currentDateTime(), CheckKind::Presence, CheckReason::Found, {}});
        ASSERT_TRUE(r.session.close(nullptr));
    }
    ASSERT_TRUE(QFile::remove(dir.file("checks.adb.previous"))); // the one the import set aside
    ASSERT_TRUE(sqlExec(dir.file("link.adb"), "UPDATE fields SET name = lower(name) WHERE pos = 1"));
    ProgramRun r(dir.base());
    ASSERT_TRUE(r.session.acquireInstanceLock());
    r.session.start();
    ASSERT_FALSE(r.db.BaseLoadError) << r.ui.texts().join("|").toStdString();
    EXPECT_EQ(r.db.checks.history(page, 1).size(), 1u);
    EXPECT_FALSE(QFileInfo::exists(dir.file("checks.adb.previous")));
}

TEST(DamagedFiles, ADamagedOrForeignHistoryNeverStopsATableWrite) {
    const struct {
        const char* name;
        std::function<void(const QString&)> damage;
        bool setAsideAtStart;
    } cases[] = {
        {"zeroed pages",
         [](const QString& path) {
             QFile f(path);
             ASSERT_TRUE(f.open(QIODevice::ReadWrite));
             ASSERT_GT(f.size(), 4 * 4096);
             f.seek(4096);
             f.write(QByteArray(2 * 4096, '\0'));
         },
         false},
        {"a foreign schema",
         [](const QString& path) {
             QFile::remove(path);
             ASSERT_TRUE(sqlExec(path, "CREATE TABLE outcomes(x); INSERT INTO outcomes VALUES(1);"));
         },
         true},
        {"not a database", [](const QString& path) { TempFolder::write(path, QByteArray(8192, 'z')); }, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TempFolder dir;
        makeBase(dir.base(), 1);
        {
            // A history large enough to span several pages.
            ProgramRun r(dir.base());
            ASSERT_TRUE(r.session.acquireInstanceLock());
            r.session.start();
            ASSERT_TRUE(r.db.checks.isOpen());
            for (int id = 1; id <= 400; ++id)
                r.db.checks.record(CheckSubject::LinkPage, id,
                                   {QDateTime::currentDateTime(), CheckKind::Presence, CheckReason::Found,
                                    QString(200, u'd')});
            ASSERT_TRUE(r.session.close(nullptr));
            r.db.checks.close();
        }
        c.damage(dir.file("checks.adb"));
        QFile::remove(dir.file("checks.adb-wal"));
        QFile::remove(dir.file("checks.adb-shm"));

        ProgramRun r(dir.base());
        ASSERT_TRUE(r.session.acquireInstanceLock());
        r.session.start();
        ASSERT_FALSE(r.db.BaseLoadError);
        r.db.store.setDeferred(false);
        for (int i = 0; i < 50; ++i) {
            r.db.checks.record(CheckSubject::LinkPage, i + 1,
                               {QDateTime::currentDateTime(), CheckKind::Presence, CheckReason::Missing, {}});
            addRecord(r.db.tbProject, {{"Name", QStringLiteral("Н%1").arg(i)}});
        }
        EXPECT_FALSE(r.db.store.hasPending());
        EXPECT_EQ(projectsIn(dir.file("project.adb")), 51);
        // One message at most, however many writes failed, and it names what happened.
        const QStringList said = r.ui.texts();
        ASSERT_EQ(said.size(), 1) << said.join("|").toStdString();
        EXPECT_TRUE(said[0].contains(QStringLiteral("истори"))) << said[0].toStdString();
        if (c.setAsideAtStart) {
            EXPECT_TRUE(said[0].contains(QStringLiteral("checks.adb.damaged-"))) << said[0].toStdString();
            EXPECT_TRUE(QFileInfo::exists(r.db.checks.setAsidePath()));
            // The fresh file takes the new outcomes.
            EXPECT_EQ(r.db.checks.history(CheckSubject::LinkPage, 1).size(), 1u);
        }
        ASSERT_TRUE(r.session.close(nullptr));
    }
}

// The check history goes with the tables: the copy's comes back when it has one; otherwise the current one is
// set aside (and kept with the other files), so that old outcomes never land on the restored records.
TEST(DamagedFiles, RestoreAfterALoadFailureKeepsEveryFileRemovesStaleJournalsAndLoads) {
    for (const bool copyHasHistory : {false, true}) {
        SCOPED_TRACE(copyHasHistory ? "the copy has a history" : "the copy has none");
        TempFolder dir;
        makeBase(dir.base(), 7);
        const QString copy = dir.path() + "copy";
        {
            // The copy to restore from holds 3 projects.
            TempFolder other;
            makeBase(other.base(), 3);
            QDir().mkpath(copy);
            for (const QString& f : kDataFiles)
                ASSERT_TRUE(QFile::copy(other.file(f), copy + "/" + f));
        }
        const QByteArray oldHistory = "the current outcomes";
        TempFolder::write(dir.file("checks.adb"), oldHistory);
        // The copy's history is a database; one that does not read is left out like none.
        TempFolder::write(copy + "/checks.adb", "the copy's damaged outcomes");
        if (copyHasHistory) {
            QFile::remove(copy + "/checks.adb");
            ASSERT_TRUE(sqlExec(copy + "/checks.adb", "CREATE TABLE outcomes(x); PRAGMA application_id = 5"));
        }
        const QByteArray copiedHistory = TempFolder::read(copy + "/checks.adb");
        // cat2.adb is damaged; link.adb, after it, has a journal left by a crash, which the failed load
        // never played back.
        const QByteArray damaged = "damaged bytes";
        TempFolder::write(dir.file("cat2.adb"), damaged);
        const QByteArray journal = QByteArray("\xd9\xd5\x05\xf9\x20\xa1\x63\xd7", 8) + QByteArray(1016, '\1');
        TempFolder::write(dir.file("link.adb-journal"), journal);

        auto r = std::make_unique<ProgramRun>(dir.base());
        ASSERT_TRUE(r->session.acquireInstanceLock());
        r->session.start();
        ASSERT_TRUE(r->db.BaseLoadError);
        // Nothing of a table text import can be stored now: it is refused with the damaged table's name.
        QString error;
        EXPECT_FALSE(AllTbImport(r->db, dir.path() + "nowhere", &error));
        EXPECT_TRUE(error.contains(QStringLiteral("\"cat2.adb\""))) << error.toStdString();
        EXPECT_TRUE(error.contains(QStringLiteral("Импорт невозможен"))) << error.toStdString();
        // Nor is an export made by hand: it would put the loaded part over an earlier whole export. Nothing
        // is written.
        const QString exported = dir.path() + "export/project.txt";
        QDir().mkpath(dir.path() + "export");
        TempFolder::write(exported, "an earlier whole export");
        EXPECT_FALSE(AllTbExport(r->db, dir.path() + "export", r->ui, &error));
        EXPECT_TRUE(error.contains(QStringLiteral("Экспорт невозможен"))) << error.toStdString();
        EXPECT_EQ(TempFolder::read(exported), "an earlier whole export");

        const QString keep = dir.path() + "RCopy/kept";
        ASSERT_TRUE(restoreFilesAfterLoadFailure(dir.base(), copy, keep, &error)) << error.toStdString();
        // Every current file is kept as it was, the journal with it.
        EXPECT_EQ(projectsIn(keep + "/project.adb"), 7);
        EXPECT_EQ(TempFolder::read(keep + "/cat2.adb"), damaged);
        EXPECT_EQ(TempFolder::read(keep + "/link.adb-journal"), journal);
        EXPECT_FALSE(QFileInfo::exists(dir.file("link.adb-journal")));
        EXPECT_EQ(TempFolder::read(keep + "/checks.adb"), oldHistory);
        EXPECT_EQ(TempFolder::read(dir.file("checks.adb.previous")), oldHistory);
        EXPECT_EQ(QFileInfo::exists(dir.file("checks.adb")), copyHasHistory);
        if (copyHasHistory) {
            EXPECT_EQ(TempFolder::read(dir.file("checks.adb")), copiedHistory);
            QFile::remove(dir.file("checks.adb")); // not a history file: the next start would set it aside
        }
        r->session.close(nullptr);
        r.reset();

        ProgramRun next(dir.base());
        ASSERT_TRUE(next.session.acquireInstanceLock());
        next.session.start();
        EXPECT_FALSE(next.db.BaseLoadError) << next.ui.texts().join("|").toStdString();
        EXPECT_EQ(next.db.tbProject.recordCount(), 3);
        EXPECT_EQ(next.db.tbLink.recordCount(), 1);
    }
}

TEST(DamagedFiles, ARestoreThatCannotKeepTheCurrentFilesChangesNothing) {
    TempFolder dir;
    makeBase(dir.base(), 7);
    const QString copy = dir.path() + "copy";
    TempFolder other;
    makeBase(other.base(), 3);
    QDir().mkpath(copy);
    for (const QString& f : kDataFiles)
        ASSERT_TRUE(QFile::copy(other.file(f), copy + "/" + f));
    // The place for the kept files is taken by a file.
    TempFolder::write(dir.path() + "kept", "x");
    QString error;
    EXPECT_FALSE(restoreFilesAfterLoadFailure(dir.base(), copy, dir.path() + "kept", &error));
    EXPECT_FALSE(error.isEmpty());
    EXPECT_EQ(projectsIn(dir.file("project.adb")), 7);
}

TEST(DamagedFiles, LockOnAReadOnlyFolderReadsTheDataAndSaysSo) {
    TempFolder dir;
    makeBase(dir.base(), 2);
    const QByteArray base = QFile::encodeName(dir.base());
    auto check = [&]() -> int {
        ProgramRun r(dir.base());
        if (!r.session.acquireInstanceLock()) return 10;
        if (r.session.lockState() != Session::LockState::ReadOnly) return 11;
        r.session.start();
        if (!r.session.readOnly()) return 12;
        if (r.db.tbProject.recordCount() != 2) return 13;
        if (r.ui.shown().empty() ||
            !r.ui.shown()[0].text.contains(QStringLiteral("Изменения не будут сохранены.")))
            return 14;
        return 0;
    };
    if (::geteuid() != 0) {
        ::chmod(base.constData(), 0500);
        const int rc = check();
        ::chmod(base.constData(), 0700);
        EXPECT_EQ(rc, 0);
        return;
    }
    // Root writes anywhere: the folder stays root's and the check runs as nobody, who may read the files.
    const uid_t nobody = 65534;
    ::chmod(QFile::encodeName(dir.path()).constData(), 0755);
    ::chmod(base.constData(), 0755);
    for (const QString& f : QDir(dir.base()).entryList(QDir::Files))
        if (::chown(QFile::encodeName(dir.file(f)).constData(), nobody, nobody) != 0)
            GTEST_SKIP() << "cannot hand the files to nobody";
    const int rc = inChild([&] {
        if (::setgroups(0, nullptr) != 0 || ::setresgid(nobody, nobody, nobody) != 0 ||
            ::setresuid(nobody, nobody, nobody) != 0)
            return kSkip;
        return check();
    });
    if (rc == kSkip) GTEST_SKIP() << "cannot run as nobody";
    EXPECT_EQ(rc, 0);
}

TEST(DamagedFiles, ALockOnAFullDiskIsAnErrorWithItsCauseNotAnotherInstance) {
    TempFolder dir;
    const QString base = dir.base();
    const int rc = inChild([&] {
        if (!mountSmallDisk(base)) return kSkip;
        fillDisk(base);
        ProgramRun r(base);
        if (r.session.acquireInstanceLock()) return 10;
        if (r.session.lockState() != Session::LockState::Failed) return 11;
        if (!r.session.lockError().contains(QString::fromLocal8Bit(strerror(ENOSPC)))) return 12;
        return 0;
    });
    if (rc == kSkip) GTEST_SKIP() << "this machine allows no small file system to be mounted";
    EXPECT_EQ(rc, 0);
}

TEST(DamagedFiles, AFirstStartThatCannotMakeTheTableFilesIsALoadFailure) {
    TempFolder dir;
    const QString base = dir.base();
    const int rc = inChild([&] {
        if (!mountSmallDisk(base)) return kSkip;
        ProgramRun r(base);
        if (!r.session.acquireInstanceLock()) return 10;
        fillDisk(base);
        r.session.start();
        if (!r.db.BaseLoadError) return 11;
        const QString said = r.ui.texts().join(u'|');
        if (!said.contains(QStringLiteral("Не удалось сохранить таблицу \"project.adb\""))) return 12;
        // No table takes changes as if it were stored; nothing half made stays for the next start.
        addRecord(r.db.tbSite, {{"Site", QStringLiteral("a.ru")}});
        if (r.db.store.hasPending()) return 13;
        r.session.close(nullptr);
        for (const QString& f : kDataFiles)
            if (QFileInfo::exists(base + f)) return 14;
        return 0;
    });
    if (rc == kSkip) GTEST_SKIP() << "this machine allows no small file system to be mounted";
    EXPECT_EQ(rc, 0);
}
