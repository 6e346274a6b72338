#include <csignal>
#include <sys/resource.h>
#include <map>
#include <random>
#include <set>

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QProcess>
#include <QTest>
#include <QThread>

#include "db/database.h"
#include "db/record_rules.h"
#include "db/reserve_copy.h"
#include "db/session.h"
#include "db/table_text.h"
#include "support/records.h"
#include "support/scripted_ui.h"
#include "support/temp_folder.h"

using namespace zentaro;

namespace {

QString workerPath() {
    return QCoreApplication::applicationDirPath() + QStringLiteral("/crash_worker");
}

// What the worker said was in the files.
struct Acks {
    std::map<int, bool> projects; // ID -> deleted
    std::map<int, int> linkProject;
    std::map<int, int> anchorLink;
    std::set<int> edited;
    std::set<int> deleting;       // a delete begun, perhaps not acknowledged
    std::map<int, int> lastStore; // link ID -> last stored counter
    int lastProject = 0;
    bool idsIncrease = true;

    void read(const QByteArray& out) {
        for (const QByteArray& line : out.split('\n')) {
            const QList<QByteArray> w = line.split(' ');
            if (w.size() < 2) continue;
            const int a = w[1].toInt(), b = w.size() > 2 ? w[2].toInt() : 0;
            if (w[0].isEmpty()) continue;
            switch (w[0][0]) {
            case 'P':
                if (!projects.count(a) && a <= lastProject) idsIncrease = false;
                lastProject = std::max(lastProject, a);
                projects[a] = false;
                break;
            case 'L':
                linkProject[a] = b;
                break;
            case 'A':
                anchorLink[a] = b;
                break;
            case 'E':
                edited.insert(a);
                break;
            case 'D':
                projects[a] = true;
                break;
            case 'd':
                deleting.insert(a);
                break;
            case 'S':
                lastStore[a] = b;
                break;
            default:
                break;
            }
        }
    }
};

// Every value of the field among all records of the table, by ID.
std::map<int, QVariant> column(db::Table& t, const char* field) {
    std::map<int, QVariant> out;
    const int id = t.fieldIndex(QStringLiteral("ID")), f = t.fieldIndex(QString::fromLatin1(field));
    for (int row = 0; row < t.rowCapacity(); ++row)
        if (t.rowAlive(row)) out[t.rowValue(row, id).toInt()] = t.rowValue(row, f);
    return out;
}

// Loads the folder as the next start would and checks it against what was acknowledged.
void verify(const QString& base, const Acks& acks, int round) {
    SCOPED_TRACE(round);
    test::ScriptedUi ui;
    db::Database db;
    db::Session session(db, base, ui);
    ASSERT_TRUE(session.acquireInstanceLock());
    session.start();
    ASSERT_FALSE(db.BaseLoadError) << ui.texts().join(u'\n').toStdString();
    const auto projects = column(db.tbProject, "Name");
    const auto linkProject = column(db.tbLink, "ProjectID");
    const auto linkCount = column(db.tbLink, "UrlCount");
    const auto anchorLink = column(db.tbAncor, "LinkID");
    for (const auto& [id, deleted] : acks.projects) {
        if (deleted) {
            EXPECT_EQ(projects.count(id), 0u) << "project " << id;
        } else if (!acks.deleting.count(id)) {
            EXPECT_EQ(projects.count(id), 1u) << "project " << id;
        }
        if (!deleted && acks.edited.count(id) && projects.count(id)) {
            EXPECT_EQ(projects.at(id).toString(), QStringLiteral("E%1").arg(id));
        }
    }
    for (const auto& [link, project] : acks.linkProject)
        if (projects.count(project)) {
            EXPECT_EQ(linkProject.count(link), 1u) << "link " << link;
        }
    for (const auto& [anchor, link] : acks.anchorLink)
        if (linkProject.count(link)) {
            EXPECT_EQ(anchorLink.count(anchor), 1u) << "anchor " << anchor;
        }
    // No action half applied: no link page without its project, no anchor without its link page.
    for (const auto& [link, project] : linkProject)
        EXPECT_EQ(projects.count(project.toInt()), 1u) << "orphan link " << link;
    for (const auto& [anchor, link] : anchorLink)
        EXPECT_EQ(linkProject.count(link.toInt()), 1u) << "orphan anchor " << anchor;
    for (const auto& [link, value] : acks.lastStore)
        if (linkCount.count(link)) {
            EXPECT_GE(linkCount.at(link).toInt(), value) << "store on link " << link;
        }
    EXPECT_TRUE(acks.idsIncrease);
    ASSERT_TRUE(session.close(nullptr));
}

} // namespace

TEST(Durability, KilledAtRandomMomentsTheFilesHoldEveryAcknowledgedActionAndNoHalfOne) {
    test::TempFolder dir;
    Acks acks;
    std::mt19937 random(20261209);
    std::uniform_int_distribution<int> delay(30, 600);
    const int rounds = 50;
    int acknowledged = 0;
    for (int round = 0; round < rounds; ++round) {
        QProcess worker;
        worker.start(workerPath(), {dir.base(), QStringLiteral("work")});
        ASSERT_TRUE(worker.waitForStarted());
        // Wait for the first acknowledged action, then let it work a random while and kill it.
        QByteArray out;
        QElapsedTimer t;
        t.start();
        while (!out.contains('\n') && t.elapsed() < 20000 && worker.state() == QProcess::Running) {
            worker.waitForReadyRead(100);
            out += worker.readAllStandardOutput();
        }
        ASSERT_TRUE(out.contains('\n')) << worker.readAllStandardError().toStdString();
        QThread::msleep(ulong(delay(random)));
        ::kill(pid_t(worker.processId()), SIGKILL);
        worker.waitForFinished(5000);
        out += worker.readAllStandardOutput();
        // A line cut by the kill is not an acknowledgement.
        out.truncate(out.lastIndexOf('\n') + 1);
        acknowledged += int(out.count('\n'));
        acks.read(out);
        verify(dir.base(), acks, round);
        if (HasFatalFailure() || HasFailure()) break;
    }
    RecordProperty("acknowledged", acknowledged);
    EXPECT_GT(acknowledged, rounds * 10);
}

namespace {

constexpr int kPages = 2000, kOutcomesPerPage = 20;

// A base of one project named after its set, kPages link pages and, unless it is to be exported, a history of
// kOutcomesPerPage outcomes on each page whose detail names the set too. Returns the folder it was copied to
// or exported to, when asked.
void makeSet(const QString& base, const QString& name, const QString& copyTo, const QString& exportTo) {
    test::ScriptedUi ui;
    db::Database db;
    db::RecordRules rules(db, ui);
    db::Session session(db, base, ui);
    ASSERT_TRUE(session.acquireInstanceLock());
    session.start();
    ASSERT_TRUE(db.checks.isOpen());
    test::addRecord(db.tbSite, {{"Site", "trust.ru"}});
    test::addRecord(db.tbProject, {{"Name", name}});
    for (int i = 0; i < kPages; ++i) {
        const int id =
            test::addRecord(db.tbLink, {{"PageURL", QStringLiteral("http://%1.ru/%2").arg(name).arg(i)}});
        if (!exportTo.isEmpty()) continue;
        for (int k = 0; k < kOutcomesPerPage; ++k)
            db.checks.record(
                db::CheckSubject::LinkPage, id,
                {QDateTime::currentDateTime(), db::CheckKind::Presence, db::CheckReason::Missing, name});
    }
    ASSERT_TRUE(db.store.flush());
    if (!copyTo.isEmpty()) {
        db::ReserveCopyState state;
        db.StartRCopyNow = true;
        db.isAuto = true;
        ASSERT_EQ(db::RunRCopy(db, state, base, ui, QDate(2014, 12, 8), copyTo), db::CopyOutcome::Done);
    }
    if (!exportTo.isEmpty()) {
        for (int i = 0; i < 7; ++i)
            ui.answer(true);
        ASSERT_TRUE(db::AllTbExport(db, exportTo, ui, nullptr));
    }
    ASSERT_TRUE(session.close(nullptr));
}

} // namespace

// A restore and a text import replace the tables and their check history as one: killed at any moment, the
// next start finds one set of tables with its own outcomes (or none), never outcomes of another set kept
// under the numbers of its pages.
TEST(Durability, KilledDuringRestoresAndImportsTheHistoryAlwaysBelongsToTheTables) {
    test::TempFolder dir, source, exported;
    makeSet(source.base(), QStringLiteral("C"), QStringLiteral("copy"), QString());
    makeSet(exported.base(), QStringLiteral("E"), QString(), exported.path() + QStringLiteral("export"));
    makeSet(dir.base(), QStringLiteral("O"), QString(), QString());
    if (HasFatalFailure()) return;
    const QString copy = source.path() + QStringLiteral("RCopy/copy");
    std::mt19937 random(20261210);
    std::uniform_int_distribution<int> delay(0, 1500);
    std::map<QString, int> seen;
    // Four kills the moment the tables are committed and the history not yet touched (the window a large
    // history keeps open), the first over the base's own history; then twelve at random moments.
    const QStringList dies{QStringLiteral("die-restore"), QStringLiteral("die-import")};
    for (int round = 0; round < 16; ++round) {
        SCOPED_TRACE(round);
        const QString die = round < 4 ? dies[round % 2] : QString();
        QStringList args{dir.base(), QStringLiteral("replace"), copy, exported.path() + "export"};
        if (!die.isEmpty()) args << die;
        QProcess worker;
        worker.start(workerPath(), args);
        ASSERT_TRUE(worker.waitForStarted());
        QByteArray out;
        QElapsedTimer t;
        t.start();
        while (!out.contains("ready") && t.elapsed() < 30000 && worker.state() == QProcess::Running) {
            worker.waitForReadyRead(100);
            out += worker.readAllStandardOutput();
        }
        ASSERT_TRUE(out.contains("ready")) << worker.readAllStandardError().toStdString();
        if (die.isEmpty()) {
            QThread::msleep(ulong(delay(random)));
            ::kill(pid_t(worker.processId()), SIGKILL);
        }
        ASSERT_TRUE(worker.waitForFinished(30000));
        EXPECT_EQ(worker.exitStatus(), QProcess::CrashExit) << worker.readAllStandardError().toStdString();
        EXPECT_FALSE(worker.readAllStandardOutput().contains("R -1"))
            << worker.readAllStandardError().toStdString();

        test::ScriptedUi ui;
        db::Database db;
        db::Session session(db, dir.base(), ui);
        ASSERT_TRUE(session.acquireInstanceLock());
        session.start();
        ASSERT_FALSE(db.BaseLoadError) << ui.texts().join(u'\n').toStdString();
        ASSERT_TRUE(db.checks.isOpen()) << ui.texts().join(u'\n').toStdString();
        ASSERT_EQ(db.tbProject.recordCount(), 1);
        db.tbProject.first();
        const QString set = db.tbProject.asString("Name");
        ++seen[set];
        db.tbLink.setFiltered(false);
        ASSERT_EQ(db.tbLink.recordCount(), kPages);
        int outcomes = 0;
        for (db.tbLink.first(); !db.tbLink.eof(); db.tbLink.next()) {
            for (const db::CheckOutcome& o :
                 db.checks.history(db::CheckSubject::LinkPage, db.tbLink.asInteger("ID"))) {
                ++outcomes;
                ASSERT_EQ(o.detail, set) << "page " << db.tbLink.asInteger("ID");
            }
        }
        EXPECT_EQ(outcomes, set == QLatin1String("E") ? 0 : kPages * kOutcomesPerPage) << set.toStdString();
        ASSERT_TRUE(session.close(nullptr));
    }
    for (const auto& [set, n] : seen)
        RecordProperty(set.toStdString(), n);
}

TEST(Durability, TerminationClosesCleanlyWithEverythingStored) {
    test::TempFolder dir;
    QProcess worker;
    worker.start(workerPath(), {dir.base(), QStringLiteral("serve")});
    ASSERT_TRUE(worker.waitForStarted());
    QByteArray out;
    QElapsedTimer t;
    t.start();
    while (!out.contains("ready") && t.elapsed() < 20000 && worker.state() == QProcess::Running) {
        worker.waitForReadyRead(100);
        out += worker.readAllStandardOutput();
    }
    ASSERT_TRUE(out.contains("ready")) << worker.readAllStandardError().toStdString();
    ::kill(pid_t(worker.processId()), SIGTERM);
    ::kill(pid_t(worker.processId()), SIGTERM); // a second signal during the closing changes nothing
    ASSERT_TRUE(worker.waitForFinished(10000));
    EXPECT_EQ(worker.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(worker.exitCode(), 0) << worker.readAllStandardError().toStdString();
    Acks acks;
    acks.read(out);
    EXPECT_EQ(acks.projects.size(), 20u);

    test::ScriptedUi ui;
    db::Database db;
    db::Session session(db, dir.base(), ui);
    ASSERT_TRUE(session.acquireInstanceLock());
    session.start();
    const auto projects = column(db.tbProject, "Name");
    for (const auto& [id, deleted] : acks.projects)
        EXPECT_EQ(projects.count(id), 1u) << id;
    EXPECT_EQ(projects.rbegin()->second.toString(), QStringLiteral("unfinished"));
    bool closed = false;
    for (int pos = 0; pos < db.tbSets.recordCount(); ++pos)
        closed |=
            db.tbSets.valueAt(pos, db.tbSets.fieldIndex(QStringLiteral("Name"))) == QStringLiteral("closed");
    EXPECT_TRUE(closed);
}

TEST(Durability, ASignalClosingThatCannotWriteSaysSoAndExitsWithOne) {
    test::TempFolder dir;
    {
        // A base whose closing skips the reserve copy, so that the settings are the first write.
        test::ScriptedUi ui;
        db::Database db;
        db::Session session(db, dir.base(), ui);
        ASSERT_TRUE(session.acquireInstanceLock());
        session.start();
        ASSERT_TRUE(db.tbSets.insert());
        db.tbSets.setValue(QStringLiteral("Name"), QStringLiteral("cbRCopy.Checked"));
        db.tbSets.setValue(QStringLiteral("ParamI"), 0);
        db.tbSets.post();
        ASSERT_TRUE(session.close(nullptr));
    }
    // The program's data folder is base/ beside its executable.
    const QString program = dir.path() + QStringLiteral("zentaro");
    ASSERT_TRUE(QFile::copy(QStringLiteral(ZENTARO_EXECUTABLE), program));
    QProcess app;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    app.setProcessEnvironment(env);
    // A file that may not grow any more stands for a full disk; its signal would end the program instead.
    app.setChildProcessModifier([] { ::signal(SIGXFSZ, SIG_IGN); });
    app.start(program, {});
    ASSERT_TRUE(app.waitForStarted());
    const pid_t pid = pid_t(app.processId());
    // Ready once it catches SIGTERM: from then on the signal closes it as the user would.
    auto catchesTerm = [pid] {
        QFile status(QStringLiteral("/proc/%1/status").arg(pid));
        if (!status.open(QIODevice::ReadOnly)) return false;
        for (const QByteArray& line : status.readAll().split('\n'))
            if (line.startsWith("SigCgt:"))
                return ((line.mid(7).trimmed().toULongLong(nullptr, 16) >> (SIGTERM - 1)) & 1) != 0;
        return false;
    };
    ASSERT_TRUE(QTest::qWaitFor(catchesTerm, 20000)) << app.readAllStandardError().toStdString();
    const rlimit none{0, 0};
    ASSERT_EQ(::prlimit(pid, RLIMIT_FSIZE, &none, nullptr), 0);
    ::kill(pid, SIGTERM);
    ASSERT_TRUE(app.waitForFinished(20000));
    const QString err = QString::fromUtf8(app.readAllStandardError());
    EXPECT_EQ(app.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(app.exitCode(), 1) << err.toStdString();
    EXPECT_TRUE(err.contains(QStringLiteral("Не удалось сохранить изменения: "))) << err.toStdString();
}
