// What durability costs: every change written into the table files as it happens, on the large base.
#include <benchmark/benchmark.h>

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include "bench_ui.h"
#include "db/base_files.h"
#include "db/check_history.h"
#include "db/sqlite_util.h"
#include "db/database.h"
#include "db/record_rules.h"
#include "db/session.h"
#include "db/table_text.h"
#include "exchange/list_import.h"
#include "large_base.h"
#include "web/batch_run.h"

using namespace zentaro;

namespace {

// The large base written to files once, then opened by a session as the program does.
struct Fixture {
    Fixture() {
        QDir().mkpath(base());
        {
            db::Database gen;
            bench::fillLargeBase(gen);
            db::SaveBase(gen, base());
        }
        session.acquireInstanceLock();
        session.start();
        db.store.setDeferred(false);
    }
    QString base() const { return dir.path() + QStringLiteral("/base/"); }
    QTemporaryDir dir;
    db::Database db;
    bench::BenchUi ui{true};
    db::RecordRules rules{db, ui};
    db::Session session{db, base(), ui};
};

Fixture& fixture() {
    static Fixture f;
    return f;
}

// A check history of 10 outcomes for each of the large base's link pages (2 million rows), made once.
QString bigHistory() {
    static const QString path = [] {
        const QString file = fixture().dir.path() + QStringLiteral("/history/checks.adb");
        QDir().mkpath(fixture().dir.path() + QStringLiteral("/history"));
        // Made through a copy of the base's settings file: the history takes the base's text encoding.
        const QString main = fixture().dir.path() + QStringLiteral("/history/sets.adb");
        QFile::copy(fixture().base() + QStringLiteral("sets.adb"), main);
        db::Store store;
        db::CheckHistory history(store);
        QString err;
        if (!store.open(main, &err) || !history.open(file, &err)) return QString();
        sqlite3* c = store.connection();
        db::sql::exec(c, "BEGIN", nullptr);
        db::sql::StmtPtr add = db::sql::prepare(
            c, QStringLiteral(
                   "INSERT INTO checks.outcomes(subject, rid, at, kind, reason, detail) "
                   "VALUES(0, ?1, ?2, 0, ?3, 'HTTP 200, http://page.example/; [Есть] mine.example')"));
        db::sql::StmtPtr last = db::sql::prepare(
            c, QStringLiteral("INSERT INTO checks.last VALUES(0, ?1, 0, ?2, ?3, 'HTTP 200', NULL)"));
        const int links = fixture().db.tbLink.rowCapacity();
        for (int id = 1; id <= links; ++id)
            for (int k = 0; k < 10; ++k) {
                const QByteArray at =
                    QDateTime(QDate(2026, 1, 1).addDays(k), QTime(3, 0)).toString(Qt::ISODate).toUtf8();
                for (sqlite3_stmt* s : {add.get(), last.get()}) {
                    if (s == last.get() && k < 9) continue;
                    sqlite3_bind_int(s, 1, id);
                    sqlite3_bind_text(s, 2, at.constData(), int(at.size()), SQLITE_TRANSIENT);
                    sqlite3_bind_int(s, 3, k % 3 ? 0 : 3);
                    sqlite3_step(s);
                    sqlite3_reset(s);
                }
            }
        db::sql::exec(c, "COMMIT", nullptr);
        return file;
    }();
    return path;
}

qint64 residentBytes() {
    QFile statm(QStringLiteral("/proc/self/statm"));
    if (!statm.open(QIODevice::ReadOnly)) return 0;
    const QList<QByteArray> fields = statm.readAll().split(' ');
    return fields.value(1).toLongLong() * 4096;
}

// Start on the large base (range 0: no check history; 1: 10 outcomes per link page); the counter is the
// memory the start added.
void BM_StartOnTheLargeBase(benchmark::State& state) {
    fixture();
    const QString history = state.range(0) ? bigHistory() : QString();
    if (state.range(0) && history.isEmpty()) {
        state.SkipWithError("no history");
        return;
    }
    double grownMB = 0;
    for (auto _ : state) {
        QTemporaryDir copy;
        state.PauseTiming();
        QDir().mkpath(copy.path() + QStringLiteral("/base"));
        for (const QString& f : QDir(fixture().base()).entryList({QStringLiteral("*.adb")}, QDir::Files))
            if (f != QLatin1String("checks.adb"))
                QFile::copy(fixture().base() + f, copy.path() + QStringLiteral("/base/") + f);
        if (!history.isEmpty()) QFile::copy(history, copy.path() + QStringLiteral("/base/checks.adb"));
        const qint64 before = residentBytes();
        state.ResumeTiming();
        db::Database db;
        bench::BenchUi ui{true};
        db::Session session(db, copy.path() + QStringLiteral("/base/"), ui);
        session.acquireInstanceLock();
        session.start();
        if (db.BaseLoadError || !db.checks.isOpen()) {
            state.SkipWithError("load failed");
            break;
        }
        benchmark::DoNotOptimize(db.tbLink.recordCount());
        state.PauseTiming();
        grownMB = double(residentBytes() - before) / 1e6;
        state.ResumeTiming();
    }
    state.counters["resident_MB_added"] = grownMB;
}
BENCHMARK(BM_StartOnTheLargeBase)
    ->Arg(0)
    ->Arg(1)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(1)
    ->Repetitions(3)
    ->ReportAggregatesOnly(true);

// One link page's history read from the 2-million-row file, as its properties page shows it.
void BM_HistoryOfOneLinkPage(benchmark::State& state) {
    db::Store store;
    db::CheckHistory history(store);
    QString err;
    if (bigHistory().isEmpty() ||
        !store.open(fixture().dir.path() + QStringLiteral("/history/sets.adb"), &err) ||
        !history.open(bigHistory(), &err)) {
        state.SkipWithError("no history");
        return;
    }
    int id = 0;
    for (auto _ : state) {
        id = id * 7919 % 199999 + 1;
        if (history.history(db::CheckSubject::LinkPage, id).size() != 10) state.SkipWithError("not read");
    }
}
BENCHMARK(BM_HistoryOfOneLinkPage)->Unit(benchmark::kMillisecond)->Repetitions(3)->ReportAggregatesOnly(true);

// One link record edited and posted; the post writes it into link.adb before it returns.
void BM_PostOneLinkDurably(benchmark::State& state) {
    db::Database& db = fixture().db;
    db.tbProject.first();
    db.tbLink.first();
    int n = 0;
    for (auto _ : state) {
        db.tbLink.edit();
        db.tbLink.setValue(QStringLiteral("Name"), QStringLiteral("Примечание %1").arg(++n));
        db.tbLink.post();
        if (db.store.hasPending()) state.SkipWithError("not written");
    }
}
BENCHMARK(BM_PostOneLinkDurably)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(100)
    ->Repetitions(5)
    ->ReportAggregatesOnly(true);

void BM_DeleteProjectWith1000LinksAnd2000AnchorsDurably(benchmark::State& state) {
    db::Database& db = fixture().db;
    for (auto _ : state) {
        state.PauseTiming();
        db.store.setDeferred(true); // the big project is written in one go, outside the timing
        bench::addBigProject(db);
        db.store.flush();
        db.store.setDeferred(false);
        state.ResumeTiming();
        db.tbProject.deleteRecord();
        if (db.store.hasPending()) state.SkipWithError("not written");
    }
}
BENCHMARK(BM_DeleteProjectWith1000LinksAnd2000AnchorsDurably)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(1)
    ->Repetitions(5)
    ->ReportAggregatesOnly(true);

// The shape of a batch run: 1,000 stores, one per record. range(0): 0 in memory only, 1 written together
// at the end of the run of the loop (as writes deferred to the event loop do when records come quicker than
// it turns), 2 each written at once.
void BM_Store1000Records(benchmark::State& state) {
    db::Database& db = fixture().db;
    const int mode = int(state.range(0));
    int n = 0;
    for (auto _ : state) {
        for (db::Table* t : {&db.tbLink})
            t->setObserver(mode == 0 ? nullptr : &db.store);
        db.store.setDeferred(mode == 1);
        db.isAuto = true;
        db.tbLink.first();
        for (int i = 0; i < 1000; ++i) {
            db.tbLink.edit();
            db.tbLink.setValue(QStringLiteral("UrlCount"), ++n % 500);
            db.tbLink.post();
            db.tbLink.next();
        }
        db.isAuto = false;
        if (mode == 1) db.store.flush();
        db.tbLink.setObserver(&db.store);
        db.store.setDeferred(false);
    }
}
BENCHMARK(BM_Store1000Records)
    ->Arg(0)
    ->Arg(1)
    ->Arg(2)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(3)
    ->Repetitions(3)
    ->ReportAggregatesOnly(true);

// A list of 50,000 new link pages (address, price, date) imported into the large base as one change of the
// files, written before the import returns. Runs before the closing benchmark: a closed base takes no
// records.
void BM_ImportLinkList(benchmark::State& state) {
    db::Database& db = fixture().db;
    struct QuietPanel final : web::RunPanel {
        void showRun(bool) override {}
        void setProgress(int) override {}
        void processEvents() override {}
    } panel;
    static int round = 0; // each repetition imports other addresses
    for (auto _ : state) {
        state.PauseTiming();
        QStringList lines;
        ++round;
        for (int i = 0; i < 50000; ++i)
            lines << QStringLiteral("http://import%1-%2.example.ru/page.html\t%3,50\t0%4.02.2025")
                         .arg(round)
                         .arg(i)
                         .arg(i % 1000)
                         .arg(1 + i % 9);
        const int before = db.tbLink.rowCapacity();
        state.ResumeTiming();
        const int added = exchange::ImportLinks(db, lines, exchange::ImportChoice{}, panel);
        db.store.flush();
        if (added != 50000 || db.tbLink.rowCapacity() != before + 50000) {
            state.SkipWithError("not added");
            break;
        }
    }
}
BENCHMARK(BM_ImportLinkList)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(1)
    ->Repetitions(3)
    ->ReportAggregatesOnly(true);

// Closing with nothing left to write but the settings.
void BM_CloseOnTheLargeBase(benchmark::State& state) {
    db::Database& db = fixture().db;
    for (auto _ : state) {
        state.PauseTiming();
        db.tbSets.insert();
        db.tbSets.setValue(QStringLiteral("Name"), QStringLiteral("Height"));
        state.ResumeTiming();
        QString err;
        if (!fixture().session.close(&err)) state.SkipWithError("close failed");
    }
}
BENCHMARK(BM_CloseOnTheLargeBase)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(1)
    ->Repetitions(5)
    ->ReportAggregatesOnly(true);

// All seven tables of the large base to text files and back (range 0: export, 1: import).
void BM_TablesAsText(benchmark::State& state) {
    db::Database& db = fixture().db;
    const QString folder = fixture().dir.path() + QStringLiteral("/export/");
    bench::BenchUi ui{true};
    db::AllTbExport(db, folder, ui, nullptr);
    for (auto _ : state) {
        const bool ok = state.range(0) == 0 ? db::AllTbExport(db, folder, ui, nullptr)
                                            : db::AllTbImport(db, folder, nullptr) && db.store.flush();
        if (!ok) state.SkipWithError("failed");
    }
}
BENCHMARK(BM_TablesAsText)
    ->Arg(0)
    ->Arg(1)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(1)
    ->Repetitions(3)
    ->ReportAggregatesOnly(true);

} // namespace
