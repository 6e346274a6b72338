// The reports of money and time on the large base with a check history of 2 million outcomes.
#include <benchmark/benchmark.h>

#include <QDateTime>
#include <QFile>
#include <QTemporaryDir>

#include "db/check_history.h"
#include "db/database.h"
#include "db/sqlite_util.h"
#include "large_base.h"
#include "reports/money_reports.h"

using namespace zentaro;

namespace {

// The large base in memory and its history file: 10 presence outcomes for each of the 200,000 link pages,
// a month or so apart, found twice then missing once in turn: 3 losses per page, a third of the pages lost.
struct Fixture {
    Fixture() {
        bench::fillLargeBase(db);
        QString err;
        if (!db.store.open(QString(), &err) ||
            !db.checks.open(dir.path() + QStringLiteral("/checks.adb"), &err))
            return;
        sqlite3* c = db.store.connection();
        db::sql::exec(c, "BEGIN", nullptr);
        db::sql::StmtPtr add = db::sql::prepare(
            c, QStringLiteral(
                   "INSERT INTO checks.outcomes(subject, rid, at, kind, reason, detail) "
                   "VALUES(0, ?1, ?2, 0, ?3, 'HTTP 200, http://page.example/; [Есть] mine.example')"));
        db::sql::StmtPtr loss = db::sql::prepare(
            c, QStringLiteral("INSERT INTO checks.losses(subject, rid, day) VALUES(0, ?1, ?2)"));
        db::sql::StmtPtr last = db::sql::prepare(
            c, QStringLiteral("INSERT INTO checks.last VALUES(0, ?1, 0, ?2, ?3, 'HTTP 200', ?4)"));
        const int links = db.tbLink.rowCapacity();
        for (int id = 1; id <= links; ++id)
            for (int k = 0; k < 10; ++k) {
                const QDate day = QDate(2025, 1, 1).addDays(id % 30 + k * 35);
                const QByteArray at = QDateTime(day, QTime(3, 0)).toString(Qt::ISODate).toUtf8();
                const bool missing = k % 3 == id % 3;
                const int reason = missing ? int(db::CheckReason::Missing) : int(db::CheckReason::Found);
                if (missing && k > 0) { // found before: a loss, as recording it keeps it
                    sqlite3_bind_int(loss.get(), 1, id);
                    sqlite3_bind_int64(loss.get(), 2, day.toJulianDay());
                    sqlite3_step(loss.get());
                    sqlite3_reset(loss.get());
                }
                for (sqlite3_stmt* s : {add.get(), last.get()}) {
                    if (s == last.get() && k < 9) continue;
                    sqlite3_bind_int(s, 1, id);
                    sqlite3_bind_text(s, 2, at.constData(), int(at.size()), SQLITE_TRANSIENT);
                    sqlite3_bind_int(s, 3, reason);
                    sqlite3_bind_null(s, 4);
                    sqlite3_step(s);
                    sqlite3_reset(s);
                }
            }
        ok = db::sql::exec(c, "COMMIT", nullptr);
    }
    QTemporaryDir dir;
    db::Database db;
    bool ok = false;
};

Fixture& fixture() {
    static Fixture f;
    return f;
}

// One report built from the tables and the history (range 0 to 3: the four reports; range 1 with all time,
// the others with 24 months).
void BM_MoneyReport(benchmark::State& state) {
    Fixture& f = fixture();
    if (!f.ok) {
        state.SkipWithError("no history");
        return;
    }
    const auto kind = reports::MoneyKind(state.range(0));
    const reports::MoneyOptions options{kind == reports::MoneyKind::PlacedLost ? reports::Period::All
                                                                               : reports::Period::Months24,
                                        false, QDate(2026, 12, 9)};
    size_t categories = 0;
    for (auto _ : state) {
        const reports::MoneyReport r = reports::buildMoneyReport(f.db, kind, options);
        categories = size_t(r.categories.size());
        benchmark::DoNotOptimize(r.series.data());
    }
    state.counters["categories"] = double(categories);
}
BENCHMARK(BM_MoneyReport)
    ->DenseRange(0, 3)
    ->Unit(benchmark::kMillisecond)
    ->Repetitions(5)
    ->ReportAggregatesOnly(true);

// The losses alone, as kept beside the history.
void BM_LossesFromTheHistory(benchmark::State& state) {
    Fixture& f = fixture();
    if (!f.ok) {
        state.SkipWithError("no history");
        return;
    }
    size_t n = 0;
    for (auto _ : state)
        n = f.db.checks.losses(db::CheckSubject::LinkPage).size();
    state.counters["losses"] = double(n);
}
BENCHMARK(BM_LossesFromTheHistory)->Unit(benchmark::kMillisecond)->Repetitions(5)->ReportAggregatesOnly(true);

// Opening a history file written before losses were kept apart: they are found once from the 2 million
// outcomes.
void BM_LossesFoundOnceInAnOlderFile(benchmark::State& state) {
    Fixture& f = fixture();
    if (!f.ok) {
        state.SkipWithError("no history");
        return;
    }
    const QString file = f.dir.path() + QStringLiteral("/checks.adb");
    for (auto _ : state) {
        state.PauseTiming();
        f.db.checks.close();
        sqlite3* c = nullptr;
        sqlite3_open(QFile::encodeName(file).constData(), &c);
        sqlite3_exec(c, "DROP TABLE losses", nullptr, nullptr, nullptr);
        sqlite3_close(c);
        state.ResumeTiming();
        QString err;
        if (!f.db.checks.open(file, &err)) state.SkipWithError("not opened");
    }
    state.counters["losses"] = double(f.db.checks.losses(db::CheckSubject::LinkPage).size());
}
BENCHMARK(BM_LossesFoundOnceInAnOlderFile)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(1)
    ->Repetitions(3)
    ->ReportAggregatesOnly(true);

} // namespace
