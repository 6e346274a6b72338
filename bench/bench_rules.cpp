#include <benchmark/benchmark.h>

#include "db/database.h"
#include "db/record_rules.h"
#include "db/site_view.h"
#include "large_base.h"
#include "reports/report_builders.h"
#include "bench_ui.h"

using namespace zentaro;

namespace {

struct Fixture {
    Fixture() {
        bench::fillLargeBase(db);
        db.tbSite.first();
        db.tbProject.first();
    }
    db::Database db;
    bench::BenchUi ui{true};
    db::RecordRules rules{db, ui};
};

Fixture& fixture() {
    static Fixture f;
    return f;
}

void BM_MoveCurrentProject(benchmark::State& state) {
    db::Database& db = fixture().db;
    db.tbProject.first();
    for (auto _ : state) {
        db.tbProject.next();
        if (db.tbProject.eof()) db.tbProject.first();
        benchmark::DoNotOptimize(db.tbLink.recordCount());
    }
}
BENCHMARK(BM_MoveCurrentProject)
    ->Unit(benchmark::kMicrosecond)
    ->Iterations(1000)
    ->Repetitions(5)
    ->ReportAggregatesOnly(true);

void BM_DeleteProjectWith1000LinksAnd2000Anchors(benchmark::State& state) {
    db::Database& db = fixture().db;
    for (auto _ : state) {
        state.PauseTiming();
        bench::addBigProject(db);
        state.ResumeTiming();
        db.tbProject.deleteRecord();
        state.PauseTiming();
        if (db.tbProject.recordCount() != 1000 ||
            db.tbLink.findRow(QStringLiteral("PageURL"), QStringLiteral("http://big.ru/0")) >= 0)
            state.SkipWithError("project not deleted");
        state.ResumeTiming();
    }
}
BENCHMARK(BM_DeleteProjectWith1000LinksAnd2000Anchors)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(1)
    ->Repetitions(5)
    ->ReportAggregatesOnly(true);

void BM_ShowTrustSite(benchmark::State& state) {
    Fixture& f = fixture();
    for (auto _ : state) {
        state.PauseTiming();
        db::SpeedButton5Click(f.db, f.rules);
        f.db.tbSite.first();
        state.ResumeTiming();
        if (!db::ShowTrustSite(f.db)) state.SkipWithError("nothing computed");
    }
    state.counters["sites_without_links"] = f.db.tbSite.recordCount();
}
BENCHMARK(BM_ShowTrustSite)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(1)
    ->Repetitions(5)
    ->ReportAggregatesOnly(true);

// Every report on the large base (1,000 projects, 200,000 links).
void BM_Report(benchmark::State& state) {
    Fixture& f = fixture();
    const QString name = reports::reportNames()[int(state.range(0))];
    for (auto _ : state)
        benchmark::DoNotOptimize(reports::bGetReportClick(f.db, name));
}
BENCHMARK(BM_Report)
    ->DenseRange(0, 6)
    ->Unit(benchmark::kMillisecond)
    ->Repetitions(5)
    ->ReportAggregatesOnly(true);

} // namespace
