#include <benchmark/benchmark.h>

#include <random>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>

#include "db/database.h"
#include "db/record_rules.h"
#include "db/session.h"
#include "support/http_server.h"
#include "bench_ui.h"
#include "web/batch_run.h"
#include "web/ext_links.h"
#include "web/link_presence.h"
#include "web/html_tokenizer.h"
#include "web/page_fetcher.h"
#include "web/page_reader.h"
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

// A hostile page of 60 KB: one unclosed "<a " before thousands of tags, then the page read and asked.
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
        const web::PageScan scan = web::readPage(page, QStringLiteral("http://site.example/"));
        n = scan.links.size();
        benchmark::DoNotOptimize(web::anchorPresence(scan, QStringLiteral("http://site.example/page"), {}));
        benchmark::DoNotOptimize(web::countExternalLinks(scan));
    }
    state.counters["links"] = double(n);
}
BENCHMARK(BM_HostilePage60KB)->Unit(benchmark::kMillisecond)->Repetitions(5)->ReportAggregatesOnly(true);

void BM_ReadPageAndAsk2MB(benchmark::State& state) {
    const QByteArray bytes = bigPage();
    const QString page = QString::fromUtf8(bytes);
    for (auto _ : state) {
        const web::PageScan scan = web::readPage(page, QStringLiteral("http://site.example/"));
        benchmark::DoNotOptimize(
            web::anchorPresence(scan, QStringLiteral("http://site9999.example/page"), {}));
        benchmark::DoNotOptimize(web::countExternalLinks(scan));
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * bytes.size());
}
BENCHMARK(BM_ReadPageAndAsk2MB)->Unit(benchmark::kMillisecond)->Repetitions(5)->ReportAggregatesOnly(true);

// An ordinary Russian page of about the given size: a head with style and a large script, then posts of
// Cyrillic text with entities, links and more inline scripts.
QByteArray ordinaryPage(int size) {
    std::mt19937 rng(size);
    static const char* const words[] = {"новости", "сегодня", "компания", "рынок", "продажи", "город",
                                        "погода",  "россия",  "проект",   "сайт",  "ссылка",  "текст"};
    auto text = [&](int n) {
        QByteArray t;
        for (int i = 0; i < n; ++i) {
            t += words[rng() % 12];
            t += i % 9 == 8 ? ". " : " ";
        }
        return t;
    };
    QByteArray page = "<!DOCTYPE html>\n<html lang=\"ru\"><head><meta charset=\"utf-8\">"
                      "<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\">"
                      "<title>Новости дня &mdash; Городской портал</title>"
                      "<style>body{font:14px/1.4 Arial,sans-serif}.post>h2{margin:0 0 8px}a:hover{color:#c00}"
                      "</style><script>window.dataLayer=window.dataLayer||[];function gtag(){dataLayer.push("
                      "arguments)}var tpl='<div class=\"ad\"><a href=\"/ad\">реклама</a></div>';"
                      "for(var i=0;i<10&&i>-1;i++){if(a<b){x='</div>'}}</script></head><body>\n";
    int n = 0;
    while (page.size() < size) {
        ++n;
        page += "<div class=\"post\" id=\"p" + QByteArray::number(n) + "\"><h2>" + text(5) + "</h2>\n<p>" +
                text(30) + " &laquo;" + text(3) + "&raquo; <a href=\"/news/" + QByteArray::number(n) +
                "?from=main&amp;utm=1\" class=\"more\">" + text(2) + "</a> " + text(20) +
                " <a href=\"https://partner" + QByteArray::number(n % 7) +
                ".example/page\" rel=\"nofollow\" target=\"_blank\">" + text(2) + "</a></p>\n";
        if (n % 3 == 0)
            page += "<script>(function(){var el=document.getElementById('p" + QByteArray::number(n) +
                    "');if(el&&el.offsetTop<300){el.innerHTML+='<span class=\"new\">новое</span>';}})();"
                    "</script>\n";
        page += "</div>\n";
    }
    page += "<footer><p>&copy; 2026 Портал</p></footer></body></html>\n";
    return page;
}

struct NoSink final : web::HtmlSink {
    void tag(const web::HtmlTag& t) override { benchmark::DoNotOptimize(t.name.size()); }
};

// The tokenizer alone, then the whole reading of a page (links resolved, robots read), on ordinary pages
// of 10 KB and 200 KB; bytes are the page's UTF-8 size.
void BM_Tokenizer(benchmark::State& state) {
    const QByteArray bytes = ordinaryPage(int(state.range(0)));
    const QString page = QString::fromUtf8(bytes);
    for (auto _ : state) {
        NoSink sink;
        web::HtmlTokenizer t(page, sink);
        t.setWantText(false);
        t.run();
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * bytes.size());
}
BENCHMARK(BM_Tokenizer)->Arg(10 * 1024)->Arg(200 * 1024)->Repetitions(5)->ReportAggregatesOnly(true);

void BM_ReadPage(benchmark::State& state) {
    const QByteArray bytes = ordinaryPage(int(state.range(0)));
    const QString page = QString::fromUtf8(bytes);
    for (auto _ : state) {
        const web::PageScan scan = web::readPage(page, QStringLiteral("https://donor.example/news/"));
        benchmark::DoNotOptimize(web::anchorPresence(scan, QStringLiteral("partner3.example/page"), {}));
        benchmark::DoNotOptimize(web::countExternalLinks(scan));
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * bytes.size());
}
BENCHMARK(BM_ReadPage)->Arg(10 * 1024)->Arg(200 * 1024)->Repetitions(5)->ReportAggregatesOnly(true);

// Decoding as fetched (sniffing, then UTF-8) and reading, as a run does for each page.
void BM_DecodeAndReadPage(benchmark::State& state) {
    const QByteArray bytes = ordinaryPage(int(state.range(0)));
    for (auto _ : state) {
        web::FetchedPage f;
        f.requested = true;
        web::setPageBody(f, bytes, "text/html; charset=utf-8");
        f.info.finalUrl = QStringLiteral("https://donor.example/news/");
        web::scanFetchedPage(f);
        benchmark::DoNotOptimize(f.scan->links.size());
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * bytes.size());
}
BENCHMARK(BM_DecodeAndReadPage)->Arg(10 * 1024)->Arg(200 * 1024)->Repetitions(5)->ReportAggregatesOnly(true);

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

// A batch link-presence run over 1,000 link pages of 10 KB with 2 anchors each, served locally, with the
// store writing every result and its outcome (argument 0), the results kept in memory only (1), or written
// without the check history (2); compared with the 1,000 fetches alone. One request at a time: the cost of
// the work beside the fetches is what is measured.
struct RunFixture {
    explicit RunFixture(bool history = true) {
        test::HttpServer::Reply r;
        r.headers = {test::contentType("text/html; charset=utf-8")};
        QByteArray body = "<html><body>";
        while (body.size() < 10 * 1024)
            body += "<p>" + QByteArray(200, 'x') + " <a href=\"http://other.example/\">o</a></p>\n";
        body += "<a href=\"http://mine.example/a\">a</a> <a href=\"http://mine.example/b\">b</a> end";
        r.body = body;
        server.on("/page", r);
        bench::startWithASiteAndAProject(session, db);
        for (int i = 0; i < 1000; ++i) {
            db.tbLink.insert();
            db.tbLink.setValue(QStringLiteral("PageURL"), server.url(QStringLiteral("/page")));
            db.tbLink.post();
            for (const char* a : {"http://mine.example/a", "http://mine.example/b"}) {
                db.tbAncor.insert();
                db.tbAncor.setValue(QStringLiteral("URL"), QString::fromLatin1(a));
                db.tbAncor.post();
            }
        }
        db.store.flush();
        if (!history) db.checks.close();
        fetcher.maxInFlight = 1;
    }
    struct Panel final : web::RunPanel {
        void showRun(bool) override {}
        void setProgress(int) override {}
        void processEvents() override { QCoreApplication::processEvents(); }
    };
    QTemporaryDir dir;
    test::HttpServer server;
    db::Database db;
    bench::BenchUi ui{true};
    db::RecordRules rules{db, ui};
    db::Session session{db, dir.path() + QStringLiteral("/base/"), ui};
    web::PageFetcher fetcher;
    Panel panel;
};

RunFixture& runFixture() {
    static RunFixture f;
    return f;
}

RunFixture& runFixtureWithoutHistory() {
    static RunFixture f(false);
    return f;
}

void BM_BatchPresenceRun1000Pages(benchmark::State& state) {
    RunFixture& f = state.range(0) == 2 ? runFixtureWithoutHistory() : runFixture();
    for (auto _ : state) {
        if (state.range(0) == 1) f.db.tbLink.setObserver(nullptr);
        web::CheckAllPageLink(f.db, f.fetcher, f.ui, f.panel);
        f.db.tbLink.setObserver(&f.db.store);
        state.PauseTiming();
        f.db.store.flush();
        state.ResumeTiming();
    }
    state.counters["pages_per_s"] = benchmark::Counter(1000, benchmark::Counter::kIsIterationInvariantRate);
}
BENCHMARK(BM_BatchPresenceRun1000Pages)
    ->Arg(0)
    ->Arg(1)
    ->Arg(2)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(1)
    ->Repetitions(3)
    ->ReportAggregatesOnly(true);

void BM_Fetch1000Pages10KB(benchmark::State& state) {
    RunFixture& f = runFixture();
    const QString url = f.server.url(QStringLiteral("/page"));
    for (auto _ : state)
        for (int i = 0; i < 1000; ++i)
            benchmark::DoNotOptimize(f.fetcher.FetchPage(url, true));
}
BENCHMARK(BM_Fetch1000Pages10KB)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(1)
    ->Repetitions(3)
    ->ReportAggregatesOnly(true);

// The run fetching ahead: 1,000 link pages of about 10 KB with two anchors each, spread over 20 loopback
// addresses (127.0.0.2 to 127.0.0.21) served from their own thread, each page answering after 50 ms.
// range(0) is the requests in flight in all (1: one at a time). Counters: the longest the window's event
// loop waited to turn during the run, and whether the tables came out equal to the one-at-a-time run's.
struct FarFixture {
    FarFixture() {
        context.moveToThread(&serverThread);
        serverThread.start();
        QMetaObject::invokeMethod(
            &context,
            [this] {
                test::HttpServer::Reply r;
                r.headers = {test::contentType("text/html; charset=utf-8")};
                QByteArray body = "<html><body>";
                while (body.size() < 10 * 1024)
                    body += "<p>" + QByteArray(200, 'x') + " <a href=\"http://other.example/\">o</a></p>\n";
                r.body = body + "<a href=\"http://mine.example/a\">a</a> end";
                r.delayMs = 50;
                for (int i = 2; i <= 21; ++i) {
                    servers.push_back(new test::HttpServer(QStringLiteral("127.0.0.%1").arg(i)));
                    servers.back()->on("/page", r);
                }
            },
            Qt::BlockingQueuedConnection);
        bench::startWithASiteAndAProject(session, db);
        db.store.setDeferred(true);
        for (int i = 0; i < 1000; ++i) {
            db.tbLink.insert();
            db.tbLink.setValue(QStringLiteral("PageURL"),
                               servers[size_t(i % 20)]->url(QStringLiteral("/page?n=%1").arg(i)));
            db.tbLink.post();
            // Every third page misses its second anchor.
            for (const char* a :
                 {"http://mine.example/a", i % 3 ? "http://mine.example/" : "http://gone.example/"}) {
                db.tbAncor.insert();
                db.tbAncor.setValue(QStringLiteral("URL"), QString::fromLatin1(a));
                db.tbAncor.post();
            }
        }
        db.store.flush();
        db.store.setDeferred(false);
    }
    ~FarFixture() {
        QMetaObject::invokeMethod(
            &context, [this] { qDeleteAll(servers); }, Qt::BlockingQueuedConnection);
        serverThread.quit();
        serverThread.wait();
    }
    QStringList statuses() {
        QStringList out;
        for (int pos = 0; pos < db.tbLink.recordCount(); ++pos)
            out << db.tbLink.valueAt(pos, db.tbLink.fieldIndex(QStringLiteral("PageStatus"))).toString();
        return out;
    }
    QThread serverThread;
    QObject context;
    std::vector<test::HttpServer*> servers;
    QTemporaryDir dir;
    db::Database db;
    bench::BenchUi ui{true};
    db::RecordRules rules{db, ui};
    db::Session session{db, dir.path() + QStringLiteral("/base/"), ui};
    web::PageFetcher fetcher;
    RunFixture::Panel panel;
    QStringList oneAtATime;
};

FarFixture& farFixture() {
    static FarFixture f;
    return f;
}

void BM_PresenceRun1000PagesOn20Hosts(benchmark::State& state) {
    FarFixture& f = farFixture();
    f.fetcher.maxInFlight = int(state.range(0));
    double worstDelayMs = 0;
    bool equal = true;
    int found = 0, missing = 0;
    for (auto _ : state) {
        state.PauseTiming();
        f.db.tbLink.first();
        while (!f.db.tbLink.eof()) {
            f.db.tbLink.edit();
            f.db.tbLink.setValue(QStringLiteral("PageStatus"), QStringLiteral("0"));
            f.db.tbLink.post();
            f.db.tbLink.next();
        }
        f.db.store.flush();
        // The window's event loop: a tick every 5 ms, its lateness recorded.
        QElapsedTimer clock;
        qint64 last = 0;
        QTimer tick;
        tick.setTimerType(Qt::PreciseTimer);
        QObject::connect(&tick, &QTimer::timeout, [&] {
            const qint64 now = clock.nsecsElapsed();
            worstDelayMs = std::max(worstDelayMs, double(now - last) / 1e6 - 5.0);
            last = now;
        });
        state.ResumeTiming();
        clock.start();
        tick.start(5);
        web::CheckAllPageLink(f.db, f.fetcher, f.ui, f.panel);
        f.db.store.flush();
        tick.stop();
        state.PauseTiming();
        const QStringList now = f.statuses();
        if (state.range(0) == 1) f.oneAtATime = now;
        equal = equal && !f.oneAtATime.isEmpty() && now == f.oneAtATime;
        found = int(now.count(QStringLiteral("1")));
        missing = int(now.count(QStringLiteral("2")));
        state.ResumeTiming();
    }
    if (found != 666 || missing != 334) state.SkipWithError("unexpected statuses");
    state.counters["worst_loop_delay_ms"] = worstDelayMs;
    state.counters["equal_to_one_at_a_time"] = equal ? 1 : 0;
    state.counters["found"] = found;
    state.counters["missing"] = missing;
}
// One at a time first (about 50 s): its tables are what the run fetching ahead must give.
BENCHMARK(BM_PresenceRun1000PagesOn20Hosts)->Arg(1)->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PresenceRun1000PagesOn20Hosts)
    ->Arg(64)
    ->Iterations(1)
    ->Repetitions(5)
    ->ReportAggregatesOnly(false)
    ->Unit(benchmark::kMillisecond);

} // namespace
