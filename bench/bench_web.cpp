#include <benchmark/benchmark.h>

#include <random>

#include "db/database.h"
#include "db/record_rules.h"
#include "support/http_server.h"
#include "bench_ui.h"
#include "web/ext_links.h"
#include "web/link_presence.h"
#include "web/page_fetcher.h"
#include "web/url_forms.h"

using namespace zentaro;

namespace {

// About 2 MB of page text with 10,000 anchors among paragraphs, some nested or unclosed.
QByteArray bigPage() {
    std::mt19937 rng(7);
    QByteArray page = "<html><body>";
    for (int i = 0; i < 10000; ++i) {
        page += "<p>";
        page += QByteArray(120 + int(rng() % 40), 'x');
        page += "<a href=\"http://site" + QByteArray::number(i) + ".example/page\" title=\"t\">Ссылка " +
                QByteArray::number(i) + "</a> ";
        if (i % 500 == 0) page += "<a name=unclosed" + QByteArray::number(i) + "> ";
        page += "</p>\n";
    }
    page += "</body></html>";
    return page;
}

void BM_ExtractElements2MB(benchmark::State& state) {
    const QByteArray bytes = bigPage();
    const QString page = QString::fromUtf8(bytes).toLower();
    qsizetype n = 0;
    for (auto _ : state) {
        const QStringList elements = web::ExtractElements(page, web::ElementKind::Anchor);
        n = elements.size();
        benchmark::DoNotOptimize(n);
    }
    state.counters["page_MB"] = double(bytes.size()) / 1e6;
    state.counters["elements"] = double(n);
}
BENCHMARK(BM_ExtractElements2MB)->Unit(benchmark::kMillisecond)->Repetitions(5)->ReportAggregatesOnly(true);

// A hostile page of 60 KB: one unclosed "<a " before thousands of elements, so that every element runs to
// the same closing marker at the end.
QString hostilePage() {
    QString page = QStringLiteral("<a ");
    while (page.size() < 60 * 1024)
        page += QStringLiteral("<a x");
    page += QStringLiteral("/a> end");
    return page;
}

void BM_HostilePage60KB(benchmark::State& state) {
    const QString page = hostilePage();
    size_t n = 0;
    for (auto _ : state) {
        const std::vector<web::ElementRange> ranges =
            web::ExtractElementRanges(page, web::ElementKind::Anchor);
        n = ranges.size();
        benchmark::DoNotOptimize(
            web::occursInAnElement(page, ranges, QStringLiteral("http://site.example/page")));
        benchmark::DoNotOptimize(web::countExtLinks(page, ranges, QStringLiteral("site.example")));
    }
    state.counters["elements"] = double(n);
    state.counters["ranges_KB"] = double(n * sizeof(web::ElementRange)) / 1024.0;
}
BENCHMARK(BM_HostilePage60KB)->Unit(benchmark::kMillisecond)->Repetitions(5)->ReportAggregatesOnly(true);

void BM_ElementRangesAndQuestions2MB(benchmark::State& state) {
    const QString page = QString::fromUtf8(bigPage()).toLower();
    for (auto _ : state) {
        const std::vector<web::ElementRange> ranges =
            web::ExtractElementRanges(page, web::ElementKind::Anchor);
        benchmark::DoNotOptimize(
            web::occursInAnElement(page, ranges, QStringLiteral("http://site9999.example/page")));
        benchmark::DoNotOptimize(web::countExtLinks(page, ranges, QStringLiteral("site.example")));
    }
}
BENCHMARK(BM_ElementRangesAndQuestions2MB)
    ->Unit(benchmark::kMillisecond)
    ->Repetitions(5)
    ->ReportAggregatesOnly(true);

struct CheckFixture {
    CheckFixture() {
        test::HttpServer::Reply r;
        r.headers = {test::contentType("text/html; charset=utf-8")};
        r.body = bigPage();
        server.on("/page", r);
        db.tbSite.insert();
        db.tbProject.insert();
        db.tbLink.insert();
        db.tbLink.setValue(QStringLiteral("PageURL"), server.url("/page"));
        db.tbLink.post();
        for (int i = 0; i < 100; ++i) {
            db.tbAncor.insert();
            db.tbAncor.setValue(QStringLiteral("URL"),
                                QStringLiteral("http://site%1.example/page").arg(i * 97));
            db.tbAncor.post();
        }
    }
    test::HttpServer server;
    db::Database db;
    bench::BenchUi ui{false};
    db::RecordRules rules{db, ui};
    web::PageFetcher fetcher;
};

CheckFixture& checkFixture() {
    static CheckFixture f;
    return f;
}

// The transfer alone, to subtract from the whole check.
void BM_FetchPage2MB(benchmark::State& state) {
    CheckFixture& f = checkFixture();
    for (auto _ : state)
        benchmark::DoNotOptimize(f.fetcher.FetchPage(f.server.url("/page"), true));
}
BENCHMARK(BM_FetchPage2MB)->Unit(benchmark::kMillisecond)->Repetitions(5)->ReportAggregatesOnly(true);

void BM_CheckPageLink2MB100Anchors(benchmark::State& state) {
    CheckFixture& f = checkFixture();
    for (auto _ : state) {
        web::CheckPageLink(f.db, f.fetcher, f.ui, f.db.tbLink.asString(QStringLiteral("PageURL")), false);
        if (f.db.tbLink.asString(QStringLiteral("PageStatus")) != QLatin1String("1"))
            state.SkipWithError("anchors not found");
    }
}
BENCHMARK(BM_CheckPageLink2MB100Anchors)
    ->Unit(benchmark::kMillisecond)
    ->Repetitions(5)
    ->ReportAggregatesOnly(true);

} // namespace
