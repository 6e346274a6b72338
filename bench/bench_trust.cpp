// Runs against sites that fail the way real ones do: the false alarms counted, the wall time beside them.
#include <benchmark/benchmark.h>

#include <sys/resource.h>

#include <memory>
#include <set>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QLocale>
#include <QNetworkAccessManager>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>

#include "bench_ui.h"
#include "db/database.h"
#include "db/record_rules.h"
#include "db/session.h"
#include "db/settings.h"
#include "support/http_server.h"
#include "web/batch_run.h"
#include "web/page_fetcher.h"

using namespace zentaro;

namespace {

QByteArray pageBody(qsizetype size) {
    QByteArray body = "<html><body>";
    while (body.size() < size)
        body += "<p>" + QByteArray(200, 'x') + " <a href=\"http://other.example/\">o</a></p>\n";
    return body + "<a href=\"http://mine.example/a\">a</a> end";
}

// Servers on loopback addresses 127.0.0.2 and up, answered from a thread of their own so that the run's
// thread measures only the run.
struct Site {
    explicit Site(int hosts, test::HttpServer::Handler handler) {
        context.moveToThread(&thread);
        thread.start();
        QMetaObject::invokeMethod(
            &context,
            [&] {
                for (int i = 0; i < hosts; ++i) {
                    servers.push_back(new test::HttpServer(QStringLiteral("127.0.0.%1").arg(i + 2)));
                    servers.back()->on("/page", handler);
                }
            },
            Qt::BlockingQueuedConnection);
    }
    ~Site() {
        QMetaObject::invokeMethod(
            &context, [this] { qDeleteAll(servers); }, Qt::BlockingQueuedConnection);
        thread.quit();
        thread.wait();
    }
    QString url(int host, int n) const {
        return servers[size_t(host)]->url(QStringLiteral("/page?n=%1").arg(n));
    }
    QThread thread;
    QObject context;
    std::vector<test::HttpServer*> servers;
};

struct Panel final : web::RunPanel {
    void showRun(bool) override {}
    void setProgress(int) override {}
    void processEvents() override { QCoreApplication::processEvents(); }
};

// A base of link pages, each with the anchor that every page carries.
struct Run {
    // The base goes into root when given (to outlive the run), else into a folder of the run's own.
    explicit Run(const QStringList& urls, const QString& root = QString())
        : session{db, (root.isEmpty() ? dir.path() : root) + QStringLiteral("/base/"), ui} {
        session.acquireInstanceLock();
        session.start();
        db.tbSite.insert();
        db.tbSite.setValue(QStringLiteral("Site"), QStringLiteral("trust.ru"));
        db.tbSite.post();
        db.tbProject.insert();
        db.tbProject.post();
        db.store.setDeferred(true);
        for (const QString& url : urls) {
            db.tbLink.insert();
            db.tbLink.setValue(QStringLiteral("PageURL"), url);
            db.tbLink.setValue(QStringLiteral("PageStatus"), QStringLiteral("1"));
            db.tbLink.post();
            db.tbAncor.insert();
            db.tbAncor.setValue(QStringLiteral("URL"), QStringLiteral("http://mine.example/a"));
            db.tbAncor.post();
        }
        db.store.flush();
        db.store.setDeferred(false);
    }
    // Wall time of one run in ms; the tally says what it reported.
    double go(web::RunTally& tally) {
        QElapsedTimer clock;
        clock.start();
        web::CheckAllPageLink(db, fetcher, ui, panel, &tally);
        db.store.flush();
        return double(clock.elapsed());
    }
    QTemporaryDir dir;
    db::Database db;
    bench::BenchUi ui{true};
    db::RecordRules rules{db, ui};
    db::Session session;
    web::PageFetcher fetcher;
    Panel panel;
};

void report(benchmark::State& state, const web::RunTally& t, double wallMs) {
    state.counters["wall_s"] = wallMs / 1000.0;
    state.counters["found"] = t.found;
    state.counters["false_missing"] = t.missing;
    state.counters["false_not_fetched"] = t.notFetched;
}

QStringList spread(const Site& site, int pages, int hosts) {
    QStringList urls;
    for (int i = 0; i < pages; ++i)
        urls << site.url(i % hosts, i);
    return urls;
}

// 1,000 pages of about 10 KB on 20 hosts answering after 50 ms; range(0) 1: one page in ten fails on its
// first request only (429 with Retry-After 1, 503, a reset connection, or a stall of 40 s), 0: none fails.
// range(1): requests in flight (1: one at a time).
void BM_FlakySite1000Pages(benchmark::State& state) {
    const bool flaky = state.range(0) == 1;
    test::HttpServer::Reply ok;
    ok.headers = {test::contentType("text/html; charset=utf-8")};
    ok.body = pageBody(10 * 1024);
    ok.delayMs = 50;
    auto seen = std::make_shared<std::set<QByteArray>>();
    Site site(20, [=](const test::HttpServer::Request& r) {
        const int n = r.target.mid(r.target.indexOf("n=") + 2).toInt();
        // One page in ten, five on each host, of every kind.
        if (!flaky || (n / 20) % 10 != 3 || !seen->insert(r.target).second) return ok;
        test::HttpServer::Reply bad = ok;
        switch ((n / 200 + n % 20) % 4) {
        case 0:
            bad.status = 429;
            bad.headers << QPair<QByteArray, QByteArray>{"Retry-After", "1"};
            break;
        case 1:
            bad.status = 503;
            break;
        case 2:
            bad.reset = true;
            break;
        default:
            bad.stall = true;
            bad.delayMs = 0;
        }
        return bad;
    });
    Run run(spread(site, 1000, 20));
    run.fetcher.maxInFlight = int(state.range(1));
    web::RunTally tally;
    double wall = 0;
    for (auto _ : state)
        wall = run.go(tally);
    report(state, tally, wall);
}
BENCHMARK(BM_FlakySite1000Pages)
    ->Args({1, 64})
    ->Args({0, 64})
    ->Args({0, 1})
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond);

// The fetches alone, as many at once as the run allows (64 in all, 4 per host): the floor of a run.
void BM_FetchOnly1000PagesOn20Hosts(benchmark::State& state) {
    test::HttpServer::Reply ok;
    ok.headers = {test::contentType("text/html; charset=utf-8")};
    ok.body = pageBody(10 * 1024);
    ok.delayMs = 50;
    Site site(20, [=](const test::HttpServer::Request&) { return ok; });
    const QStringList urls = spread(site, 1000, 20);
    web::PageFetcher settings;
    QNetworkAccessManager client;
    for (auto _ : state) {
        web::HostBook book(settings.perHost);
        settings.hostBook = &book;
        int next = 0, done = 0, inFlight = 0;
        std::function<void()> more = [&] {
            while (inFlight < settings.maxInFlight && next < urls.size()) {
                auto* call = new web::PageCall(settings, nullptr, &client, urls[next++], true);
                ++inFlight;
                QObject::connect(call, &web::PageCall::finished, call, [&, call] {
                    ++done;
                    --inFlight;
                    call->deleteLater();
                    more();
                });
                call->start();
            }
        };
        more();
        while (done < urls.size())
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
        settings.hostBook = nullptr;
    }
}
BENCHMARK(BM_FetchOnly1000PagesOn20Hosts)->Iterations(1)->Repetitions(3)->Unit(benchmark::kMillisecond);

// 1,000 pages, 100 of them on a host that is down: range(0) 0 refuses connections, 1 never answers.
void BM_DownHost100Of1000Pages(benchmark::State& state) {
    test::HttpServer::Reply ok;
    ok.headers = {test::contentType("text/html; charset=utf-8")};
    ok.body = pageBody(10 * 1024);
    ok.delayMs = 50;
    Site site(20, [=](const test::HttpServer::Request&) { return ok; });
    test::HttpServer::Reply never;
    never.delayMs = 3600 * 1000;
    Site silent(1, [=](const test::HttpServer::Request&) { return never; });
    QStringList urls = spread(site, 900, 20);
    const QString down = state.range(0) == 0
                             ? QStringLiteral("http://127.0.0.1:9/page?n=%1")
                             : silent.url(0, 0).replace(QStringLiteral("n=0"), QStringLiteral("n=%1"));
    for (int i = 0; i < 100; ++i)
        urls.insert(i * 10 + 5, down.arg(i));
    Run run(urls);
    web::RunTally tally;
    double wall = 0;
    for (auto _ : state)
        wall = run.go(tally);
    report(state, tally, wall);
}
BENCHMARK(BM_DownHost100Of1000Pages)->Arg(0)->Arg(1)->Iterations(1)->Unit(benchmark::kMillisecond);

// A page that sends a byte every 100 ms, never idle long enough for the read timeout: the run ends at the
// request deadline (range(0) seconds), its retries not tried.
void BM_DripPageEndsAtTheDeadline(benchmark::State& state) {
    test::HttpServer::Reply drip;
    drip.body = pageBody(100 * 1024);
    drip.dripMs = 100;
    Site site(1, [=](const test::HttpServer::Request&) { return drip; });
    Run run({site.url(0, 0)});
    run.fetcher.deadlineMs = int(state.range(0)) * 1000;
    web::RunTally tally;
    double wall = 0;
    for (auto _ : state)
        wall = run.go(tally);
    report(state, tally, wall);
}
BENCHMARK(BM_DripPageEndsAtTheDeadline)->Arg(5)->Iterations(1)->Unit(benchmark::kMillisecond);

// SIGTERM to the real command line in the middle of a run whose page drips: the time from the signal to
// the process's exit, and whether the next run finds the data free.
void BM_SigtermEndsTheCheckCommand(benchmark::State& state) {
    test::HttpServer::Reply drip;
    drip.body = pageBody(100 * 1024);
    drip.dripMs = 100;
    Site site(1, [=](const test::HttpServer::Request&) { return drip; });
    // The program finds its base beside itself.
    QTemporaryDir root;
    QFile::copy(QStringLiteral(ZENTARO_BINARY), root.filePath(QStringLiteral("zentaro")));
    QFile::setPermissions(root.filePath(QStringLiteral("zentaro")), QFile::ExeOwner | QFile::ReadOwner);
    { Run(QStringList{site.url(0, 0), site.url(0, 1)}, root.path()); }
    double exitMs = 0;
    for (auto _ : state) {
        QProcess check;
        check.start(root.filePath(QStringLiteral("zentaro")),
                    {QStringLiteral("--check"), QStringLiteral("links")});
        if (!check.waitForStarted(10000)) return state.SkipWithError("did not start");
        QThread::msleep(1500);
        QElapsedTimer clock;
        clock.start();
        check.terminate();
        if (!check.waitForFinished(30000)) return state.SkipWithError("did not end");
        exitMs = double(clock.elapsed());
        state.counters["exit_code"] = check.exitCode();
    }
    state.counters["exit_after_sigterm_s"] = exitMs / 1000.0;
    QProcess again;
    again.start(root.filePath(QStringLiteral("zentaro")),
                {QStringLiteral("--check"), QStringLiteral("links")});
    QThread::msleep(1000);
    again.terminate();
    again.waitForFinished(30000);
    // 1: the run was cut short; another status would mean the data was still held or the run failed.
    state.counters["next_run_exit_code"] = again.exitCode();
}
BENCHMARK(BM_SigtermEndsTheCheckCommand)->Iterations(1)->Unit(benchmark::kMillisecond);

// The real command line checking 10,000 pages of about 10 KB on 100 hosts answering after 50 ms, 100 in
// flight (the politeness limit gives 5.0 s), served by a child process so that the run's CPU is its own.
// range(0): the pages (0: the start-up alone, to take from the CPU per page). ZENTARO_BENCH_BINARY names
// another build of the program to compare with. Run alone
// (--benchmark_filter=CheckCommand): the peak resident memory is the largest of the children waited for.
void BM_CheckCommand10000PagesOn100Hosts(benchmark::State& state) {
    const int pages = int(state.range(0));
    QProcess server;
    server.start(QCoreApplication::applicationFilePath(), {QStringLiteral("--serve-pages")});
    if (!server.waitForReadyRead(20000)) return state.SkipWithError("no server");
    const QList<QByteArray> ports = server.readLine().trimmed().split(' ');
    if (ports.size() != 100) return state.SkipWithError("bad server");
    QStringList urls;
    for (int i = 0; i < pages; ++i)
        urls << QStringLiteral("http://127.0.0.%1:%2/page?n=%3")
                    .arg(2 + i % 100)
                    .arg(QString::fromLatin1(ports[i % 100]))
                    .arg(i);
    QTemporaryDir root;
    QFile::copy(qEnvironmentVariable("ZENTARO_BENCH_BINARY", QStringLiteral(ZENTARO_BINARY)),
                root.filePath(QStringLiteral("zentaro")));
    QFile::setPermissions(root.filePath(QStringLiteral("zentaro")), QFile::ExeOwner | QFile::ReadOwner);
    {
        Run run(urls, root.path());
        db::SetOption(run.db.tbSets, QStringLiteral("net.maxInFlight"), QStringLiteral("100"), -1);
        run.db.store.flush();
    }
    rusage before{}, after{};
    double wallMs = 0;
    int exitCode = -1;
    for (auto _ : state) {
        getrusage(RUSAGE_CHILDREN, &before);
        QElapsedTimer clock;
        clock.start();
        QProcess check;
        check.start(root.filePath(QStringLiteral("zentaro")),
                    {QStringLiteral("--check"), QStringLiteral("links")});
        if (!check.waitForFinished(120000)) return state.SkipWithError("did not end");
        wallMs = double(clock.elapsed());
        exitCode = check.exitCode();
        getrusage(RUSAGE_CHILDREN, &after);
    }
    const auto seconds = [](const timeval& t) { return double(t.tv_sec) + double(t.tv_usec) / 1e6; };
    const double cpu = seconds(after.ru_utime) - seconds(before.ru_utime) + seconds(after.ru_stime) -
                       seconds(before.ru_stime);
    state.counters["wall_s"] = wallMs / 1000.0;
    state.counters["cpu_s"] = cpu;
    state.counters["exit_code"] = exitCode;
    state.counters["peak_rss_MB"] = double(after.ru_maxrss) / 1024.0;
    server.kill();
    server.waitForFinished();
}
BENCHMARK(BM_CheckCommand10000PagesOn100Hosts)
    ->Arg(0)
    ->Arg(10000)
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond);

// The child of the command line benchmark: 100 hosts answering after 50 ms; prints their ports.
int servePages() {
    std::vector<std::unique_ptr<test::HttpServer>> servers;
    test::HttpServer::Reply ok;
    ok.headers = {test::contentType("text/html; charset=utf-8")};
    ok.body = pageBody(10 * 1024);
    ok.delayMs = 50;
    QByteArray ports;
    for (int i = 0; i < 100; ++i) {
        servers.push_back(std::make_unique<test::HttpServer>(QStringLiteral("127.0.0.%1").arg(i + 2)));
        servers.back()->on("/page", ok);
        ports += QByteArray::number(servers.back()->port()) + (i < 99 ? " " : "\n");
    }
    std::fputs(ports.constData(), stdout);
    std::fflush(stdout);
    // Ends with its parent.
    QTimer::singleShot(300 * 1000, qApp, &QCoreApplication::quit);
    return QCoreApplication::exec();
}

// The first page stalls, then 99 pages of 7 MB on 16 hosts: the peak resident memory of the process (run
// alone: --benchmark_filter=StalledFirst). The pages come from a child process, so that only the run's
// memory is counted; the stalled page is not retried, to keep the run short.
void BM_StalledFirstThen99PagesOf7MB(benchmark::State& state) {
    QProcess server;
    server.start(QCoreApplication::applicationFilePath(), {QStringLiteral("--serve-7mb")});
    if (!server.waitForReadyRead(20000)) return state.SkipWithError("no server");
    const QList<QByteArray> ports = server.readLine().trimmed().split(' ');
    if (ports.size() != 17) return state.SkipWithError("bad server");
    QStringList urls{QStringLiteral("http://127.0.0.2:%1/stall").arg(QString::fromLatin1(ports[0]))};
    for (int i = 0; i < 99; ++i)
        urls << QStringLiteral("http://127.0.0.%1:%2/big?n=%3")
                    .arg(3 + i % 16)
                    .arg(QString::fromLatin1(ports[1 + i % 16]))
                    .arg(i);
    Run run(urls);
    run.fetcher.retries = 0;
    web::RunTally tally;
    double wall = 0;
    for (auto _ : state)
        wall = run.go(tally);
    report(state, tally, wall);
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    state.counters["peak_rss_MB"] = double(usage.ru_maxrss) / 1024.0;
    server.kill();
    server.waitForFinished();
}
BENCHMARK(BM_StalledFirstThen99PagesOf7MB)->Iterations(1)->Unit(benchmark::kMillisecond);

// The child of the memory benchmark: a stalling page and 7 MB pages on 16 more addresses; prints the ports.
int serve7mb() {
    std::vector<std::unique_ptr<test::HttpServer>> servers;
    test::HttpServer::Reply stall;
    stall.stall = true;
    stall.body = "<a href=";
    test::HttpServer::Reply big;
    big.headers = {test::contentType("text/html; charset=utf-8")};
    big.body = pageBody(7 * 1024 * 1024);
    QByteArray ports;
    for (int i = 0; i < 17; ++i) {
        servers.push_back(std::make_unique<test::HttpServer>(QStringLiteral("127.0.0.%1").arg(i + 2)));
        servers.back()->on(i == 0 ? "/stall" : "/big", i == 0 ? stall : big);
        ports += QByteArray::number(servers.back()->port()) + (i < 16 ? " " : "\n");
    }
    std::fputs(ports.constData(), stdout);
    std::fflush(stdout);
    // Ends with its parent.
    QTimer::singleShot(300 * 1000, qApp, &QCoreApplication::quit);
    return QCoreApplication::exec();
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    QLocale::setDefault(QLocale(QLocale::Russian, QLocale::Russia));
    if (argc > 1 && QByteArray(argv[1]) == "--serve-7mb") return serve7mb();
    if (argc > 1 && QByteArray(argv[1]) == "--serve-pages") return servePages();
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
