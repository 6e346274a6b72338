#include <benchmark/benchmark.h>

#include <random>

#include <QDir>
#include <QTemporaryDir>

#include "db/base_files.h"
#include "db/database.h"
#include "large_base.h"

using namespace zentaro;

namespace {

// The large base written once to a temporary folder and loaded once; benchmarks that only read share it.
struct Fixture {
    Fixture() {
        QDir().mkpath(dir.path() + QStringLiteral("/base"));
        db::Database gen;
        bench::fillLargeBase(gen);
        db::SaveBase(gen, base());
        db::LoadBase(loaded, base());
    }
    QString base() const { return dir.path() + QStringLiteral("/base/"); }
    QTemporaryDir dir;
    db::Database loaded;
};

Fixture& fixture() {
    static Fixture f;
    return f;
}

void BM_LoadBase(benchmark::State& state) {
    const QString base = fixture().base();
    for (auto _ : state) {
        db::Database db;
        const auto r = db::LoadBase(db, base);
        if (!r.ok) state.SkipWithError("load failed");
        benchmark::DoNotOptimize(db.tbLink.recordCount());
    }
}
BENCHMARK(BM_LoadBase)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(3)
    ->Repetitions(3)
    ->ReportAggregatesOnly(true);

void BM_SaveBase(benchmark::State& state) {
    QTemporaryDir out;
    const QString base = out.path() + QStringLiteral("/");
    for (auto _ : state) {
        const auto r = db::SaveBase(fixture().loaded, base);
        if (!r.ok) state.SkipWithError("save failed");
    }
}
BENCHMARK(BM_SaveBase)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(3)
    ->Repetitions(3)
    ->ReportAggregatesOnly(true);

void BM_AnchorFilterSwitch(benchmark::State& state) {
    db::Table& t = fixture().loaded.tbAncor;
    t.setFiltered(true);
    std::mt19937 rng(1);
    for (auto _ : state) {
        t.setFilter(QStringLiteral("LinkID=") + QString::number(rng() % 200000 + 1));
        benchmark::DoNotOptimize(t.recordCount());
    }
    t.setFiltered(false);
}
BENCHMARK(BM_AnchorFilterSwitch)->Unit(benchmark::kMicrosecond)->Repetitions(3)->ReportAggregatesOnly(true);

void BM_ProjectFilterSwitch(benchmark::State& state) {
    db::Table& t = fixture().loaded.tbLink;
    t.setFiltered(true);
    std::mt19937 rng(2);
    for (auto _ : state) {
        t.setFilter(QStringLiteral("ProjectID=") + QString::number(rng() % 1000 + 1));
        benchmark::DoNotOptimize(t.recordCount());
    }
    t.setFiltered(false);
}
BENCHMARK(BM_ProjectFilterSwitch)->Unit(benchmark::kMicrosecond)->Repetitions(3)->ReportAggregatesOnly(true);

void BM_SortLinksByPageURL(benchmark::State& state) {
    db::Table& t = fixture().loaded.tbLink;
    for (auto _ : state) {
        t.setIndexFieldNames(QStringLiteral("PageURL"));
        benchmark::DoNotOptimize(t.recordCount());
        state.PauseTiming();
        t.setIndexFieldNames(QStringLiteral("ID"));
        t.first();
        state.ResumeTiming();
    }
}
BENCHMARK(BM_SortLinksByPageURL)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(3)
    ->Repetitions(3)
    ->ReportAggregatesOnly(true);

void BM_PrefixFindSite(benchmark::State& state) {
    db::Table& t = fixture().loaded.tbSite;
    for (auto _ : state) {
        t.first();
        benchmark::DoNotOptimize(t.findPrefix(QStringLiteral("Site"), QStringLiteral("WWW.PORTAL-499")));
    }
}
BENCHMARK(BM_PrefixFindSite)->Unit(benchmark::kMillisecond)->Repetitions(3)->ReportAggregatesOnly(true);

} // namespace
