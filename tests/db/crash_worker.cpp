// A child process for the crash and signal tests: works on a data folder through the real core and prints
// one line per action once the action is in the files.
//   crash_worker <base> work   endless actions, each written at its end; killed by the test
//   crash_worker <base> serve  twenty actions through the event loop, then waits for a signal to close
//   crash_worker <base> replace <copy> <export> [die-restore|die-import]  endless restores of the copy and
//                              text imports of the export, one after the other, killed by the test; or one of
//                              them that kills itself the moment the tables' transaction is committed
#include <csignal>
#include <cstdio>

#include <QCoreApplication>
#include <QScopeGuard>
#include <QTimer>

#include "db/database.h"
#include "db/record_rules.h"
#include "db/reserve_copy.h"
#include "db/table_text.h"
#include "db/session.h"
#include "util/termination.h"
#include "util/user_interface.h"

using namespace zentaro;

namespace {

// Ends the process by SIGKILL at the first write of the store after it is armed: the extras are written after
// the tables' transaction commits, and this one comes before any other.
class KillAfterTables final : public db::StoreExtra {
public:
    bool armed = false;
    bool pending() const override { return armed; }
    bool write(sqlite3*, QString*) override {
        std::raise(SIGKILL);
        return false;
    }
    void written() override {}
    void failed(int, const QString&) override {}
};

class YesUi final : public UserInterface {
public:
    void showMessage(const QString&, const QString&) override {}
    void showError(const QString& text, const QString&) override {
        std::fprintf(stderr, "error: %s\n", text.toUtf8().constData());
    }
    bool askYesNo(const QString&, const QString&) override { return true; }
    bool inputQuery(const QString&, const QString&, QString&) override { return false; }
    bool chooseOpenFile(const QString&, QString&) override { return false; }
    bool chooseFolder(const QString&, QString&) override { return false; }
    bool chooseSaveFile(const QString&, QString&) override { return false; }
    QString ShowCaptcha(const QString&, bool&) override { return {}; }
};

void ack(const char* fmt, int a, int b = 0) {
    std::printf(fmt, a, b);
    std::putchar('\n');
    std::fflush(stdout);
}

int add(db::Table& t, const QString& field, const QVariant& v) {
    if (!t.insert()) return -1;
    t.setValue(field, v);
    t.post();
    return t.asInteger(QStringLiteral("ID"));
}

// One round of work: a project with three link pages of two anchors each, an edit, and every third round the
// oldest project deleted with its cascade; every fifth round a batch of 1,000 stores.
void round(db::Database& db, int n) {
    const int p = add(db.tbProject, QStringLiteral("Name"), QStringLiteral("P%1").arg(n));
    ack("P %d", p);
    for (int j = 0; j < 3; ++j) {
        const int l =
            add(db.tbLink, QStringLiteral("PageURL"), QStringLiteral("http://s%1.ru/%2").arg(n).arg(j));
        ack("L %d %d", l, p);
        for (int k = 0; k < 2; ++k)
            ack("A %d %d", add(db.tbAncor, QStringLiteral("URL"), QStringLiteral("http://p.ru/%1").arg(k)),
                l);
    }
    db.tbProject.edit();
    db.tbProject.setValue(QStringLiteral("Name"), QStringLiteral("E%1").arg(p));
    db.tbProject.post();
    ack("E %d", p);
    if (n % 3 == 2) {
        db.tbProject.first();
        const int victim = db.tbProject.asInteger(QStringLiteral("ID"));
        ack("d %d", victim); // about to delete: a kill may come before or after the delete is written
        if (db.tbProject.deleteRecord()) ack("D %d", victim);
        db.tbProject.last();
    }
    if (n % 5 == 4) {
        // The shape of a batch run: one store per record, each its own change.
        db.isAuto = true;
        for (int k = 0; k < 1000; ++k) {
            if (db.tbLink.eof() || db.tbLink.currentPos() < 0) db.tbLink.first();
            const int id = db.tbLink.asInteger(QStringLiteral("ID"));
            db.tbLink.edit();
            db.tbLink.setValue(QStringLiteral("UrlCount"), p * 1000 + k);
            db.tbLink.post();
            ack("S %d %d", id, p * 1000 + k);
            db.tbLink.next();
        }
        db.isAuto = false;
    }
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    if (argc < 3) return 2;
    const QString base = QString::fromLocal8Bit(argv[1]);
    const bool serve = qstrcmp(argv[2], "serve") == 0;
    YesUi ui;
    db::Database db;
    db::RecordRules rules(db, ui);
    db::Session session(db, base, ui);
    KillAfterTables killer;
    db.store.addExtra(&killer);
    // Taken off the store before it goes: the session's and the store's own ending may still ask the extras.
    const auto unhook = qScopeGuard([&] { db.store.removeExtra(&killer); });
    if (!session.acquireInstanceLock()) return 4;
    session.start();
    if (db.BaseLoadError) return 5;
    if (qstrcmp(argv[2], "replace") == 0 && argc >= 5) {
        const QString copy = QString::fromLocal8Bit(argv[3]), exported = QString::fromLocal8Bit(argv[4]);
        std::printf("ready\n");
        std::fflush(stdout);
        if (argc == 6) {
            QString err;
            killer.armed = true;
            if (qstrcmp(argv[5], "die-restore") == 0)
                db::restoreFrom(db, copy, &err);
            else
                db::AllTbImport(db, exported, &err);
            std::fprintf(stderr, "error: still alive: %s\n", err.toUtf8().constData());
            return 6;
        }
        for (int n = 0;; ++n) {
            QString err;
            const bool ok =
                n % 2 == 0 ? db::restoreFrom(db, copy, &err) : db::AllTbImport(db, exported, &err);
            if (!ok) std::fprintf(stderr, "error: %s\n", err.toUtf8().constData());
            ack("R %d", ok ? n : -1);
        }
    }
    // Link pages need a trust site.
    if (db.tbSite.recordCount() == 0) add(db.tbSite, QStringLiteral("Site"), QStringLiteral("trust.ru"));
    db.tbSite.first();
    db.tbProject.last();
    if (!serve) {
        db.store.setDeferred(false);
        for (int n = db.tbProject.recordCount();; ++n)
            round(db, n);
    }
    TerminationWatcher watcher;
    QObject::connect(&watcher, &TerminationWatcher::terminationRequested, &app, [&] {
        session.storeSettings = [&] {
            db.tbSets.insert();
            db.tbSets.setValue(QStringLiteral("Name"), QStringLiteral("closed"));
            db.tbSets.post();
        };
        QString err;
        app.exit(session.close(&err) ? 0 : 3);
    });
    int done = 0;
    QTimer step;
    step.setInterval(0);
    QObject::connect(&step, &QTimer::timeout, &app, [&] {
        if (db.store.hasPending()) return; // the last action is not in the files yet
        if (done > 0) ack("P %d", db.tbProject.asInteger(QStringLiteral("ID")));
        if (done == 20) {
            step.stop();
            // An edit the user has not finished: the closing stores it.
            db.tbProject.edit();
            db.tbProject.setValue(QStringLiteral("Name"), QStringLiteral("unfinished"));
            std::printf("ready\n");
            std::fflush(stdout);
            return;
        }
        add(db.tbProject, QStringLiteral("Name"), QStringLiteral("S%1").arg(done));
        ++done;
    });
    step.start();
    return app.exec();
}
