// Runs against sites that fail the way real ones do: the false alarms counted, the wall time beside them.
#include <benchmark/benchmark.h>

#include <signal.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <functional>
#include <memory>
#include <set>

#include <QCoreApplication>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QFile>
#include <QLocale>
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
    // The base goes into root when given (to outlive the run), else into a folder of the run's own. The
    // pages were found at their last check, unless fresh (never checked: each first find keeps the page).
    explicit Run(const QStringList& urls, const QString& root = QString(), bool fresh = false)
        : session{db, (root.isEmpty() ? dir.path() : root) + QStringLiteral("/base/"), ui} {
        bench::startWithASiteAndAProject(session, db);
        db.store.setDeferred(true);
        for (const QString& url : urls) {
            db.tbLink.insert();
            db.tbLink.setValue(QStringLiteral("PageURL"), url);
            if (!fresh) db.tbLink.setValue(QStringLiteral("PageStatus"), QStringLiteral("1"));
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
    state.counters["quick_retries"] = t.quickRetries;
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
    auto requests = std::make_shared<std::atomic<int>>(0);
    Site site(20, [=](const test::HttpServer::Request& r) {
        ++*requests;
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
    // Requests beyond one a page: the retries of the failing pages and the pages asked twice.
    state.counters["extra_requests"] = *requests - 1000;
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
    for (auto _ : state) {
        web::HostBook book(settings.perHost);
        settings.hostBook = &book;
        int next = 0, done = 0, inFlight = 0;
        std::function<void()> more = [&] {
            while (inFlight < settings.maxInFlight && next < urls.size()) {
                auto* call = new web::PageCall(settings, nullptr, urls[next++], true);
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

// The real program beside a base of its own in root (it finds its base beside itself): another build when
// ZENTARO_BENCH_BINARY names one, to compare with.
QString placeProgram(const QString& root) {
    const QString program = root + QStringLiteral("/zentaro");
    if (!QFile::copy(qEnvironmentVariable("ZENTARO_BENCH_BINARY", QStringLiteral(ZENTARO_BINARY)), program))
        return QString();
    QFile::setPermissions(program, QFile::ExeOwner | QFile::ReadOwner);
    return program;
}

// One run of the command line, its own resources only (the test servers are other processes).
struct CommandRun {
    int exitCode = -1; // -1: ended by a signal
    int signal = 0;
    double cpuS = 0; // user and system
    double peakRssMB = 0;
    double afterSignalMs = 0; // from the SIGTERM sent at signalAfterMs to the exit
};

CommandRun runCheckCommand(const QString& program, int signalAfterMs = -1,
                           const QStringList& args = {QStringLiteral("--check"), QStringLiteral("links")}) {
    CommandRun out;
    const QByteArray path = program.toLocal8Bit();
    QByteArrayList argBytes;
    for (const QString& a : args)
        argBytes << a.toLocal8Bit();
    std::vector<char*> argv{const_cast<char*>(path.constData())};
    for (QByteArray& a : argBytes)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    pid_t pid = 0;
    if (posix_spawn(&pid, path.constData(), nullptr, nullptr, argv.data(), environ) != 0) return out;
    QElapsedTimer clock;
    if (signalAfterMs >= 0) {
        QThread::msleep(unsigned(signalAfterMs));
        clock.start();
        ::kill(pid, SIGTERM);
    }
    // The peak memory is read from the process itself while it runs: the one wait4 gives counts this
    // benchmark's memory too, which the child shared until it started the program.
    const QString statusFile = QStringLiteral("/proc/%1/status").arg(pid);
    int status = 0;
    rusage usage{};
    while (true) {
        const pid_t ended = wait4(pid, &status, WNOHANG, &usage);
        if (ended == pid) break;
        if (ended < 0) return out;
        QFile proc(statusFile);
        if (proc.open(QIODevice::ReadOnly))
            for (const QByteArray& line : proc.readAll().split('\n'))
                if (line.startsWith("VmHWM:"))
                    out.peakRssMB = std::max(out.peakRssMB,
                                             line.mid(6).trimmed().split(' ').value(0).toDouble() / 1024.0);
        QThread::msleep(20);
    }
    if (signalAfterMs >= 0) out.afterSignalMs = double(clock.nsecsElapsed()) / 1e6;
    if (WIFEXITED(status)) out.exitCode = WEXITSTATUS(status);
    if (WIFSIGNALED(status)) out.signal = WTERMSIG(status);
    const auto seconds = [](const timeval& t) { return double(t.tv_sec) + double(t.tv_usec) / 1e6; };
    out.cpuS = seconds(usage.ru_utime) + seconds(usage.ru_stime);
    return out;
}

// The link pages of the base in root that the last run found.
int foundPages(const QString& root) {
    db::Database db;
    bench::BenchUi ui{true};
    db::Session session{db, root + QStringLiteral("/base/"), ui};
    if (!session.acquireInstanceLock()) return -1;
    session.start();
    int found = 0;
    const int status = db.tbLink.fieldIndex(QStringLiteral("PageStatus"));
    for (int pos = 0; pos < db.tbLink.recordCount(); ++pos)
        found += db.tbLink.valueAt(pos, status).toString() == QLatin1String("1");
    return found;
}

// The bytes of the files under a folder.
qint64 folderBytes(const QString& path) {
    qint64 n = 0;
    QDirIterator it(path, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
    while (it.hasNext())
        n += it.nextFileInfo().size();
    return n;
}

// Test servers in a child process, so that a run's CPU and memory are its own: hosts on 127.0.0.2 and up,
// each given its reply by the index of the host; the child prints their ports on one line.
int serve(int hosts, const std::function<void(test::HttpServer&, int)>& routes) {
    std::vector<std::unique_ptr<test::HttpServer>> servers;
    QByteArray ports;
    for (int i = 0; i < hosts; ++i) {
        servers.push_back(std::make_unique<test::HttpServer>(QStringLiteral("127.0.0.%1").arg(i + 2)));
        routes(*servers.back(), i);
        ports += QByteArray::number(servers.back()->port()) + (i + 1 < hosts ? " " : "\n");
    }
    std::fputs(ports.constData(), stdout);
    std::fflush(stdout);
    // Ends with its parent.
    QTimer::singleShot(300 * 1000, qApp, &QCoreApplication::quit);
    return QCoreApplication::exec();
}

// Starts this benchmark program as a server child (serveArg) and reads the ports of its hosts.
QList<QByteArray> startServers(QProcess& server, const QString& serveArg) {
    server.start(QCoreApplication::applicationFilePath(), {serveArg});
    if (!server.waitForReadyRead(20000)) return {};
    return server.readLine().trimmed().split(' ');
}

// SIGTERM to the real command line in the middle of a run whose page drips: the time from the signal to
// the process's exit, and whether the next run finds the data free.
void BM_SigtermEndsTheCheckCommand(benchmark::State& state) {
    test::HttpServer::Reply drip;
    drip.body = pageBody(100 * 1024);
    drip.dripMs = 100;
    Site site(1, [=](const test::HttpServer::Request&) { return drip; });
    QTemporaryDir root;
    const QString program = placeProgram(root.path());
    if (program.isEmpty()) return state.SkipWithError("no program");
    { Run(QStringList{site.url(0, 0), site.url(0, 1)}, root.path()); }
    CommandRun first;
    for (auto _ : state)
        first = runCheckCommand(program, 1500);
    // Exit status 1 (the run was cut short) for both; another status, or a signal, means the data was still
    // held or the process did not end by itself.
    const CommandRun next = runCheckCommand(program, 1000);
    state.counters["exit_after_sigterm_s"] = first.afterSignalMs / 1000.0;
    state.counters["exit_code"] = first.exitCode;
    state.counters["killed_by_signal"] = first.signal;
    state.counters["next_run_exit_code"] = next.exitCode;
}
BENCHMARK(BM_SigtermEndsTheCheckCommand)->Iterations(1)->Unit(benchmark::kMillisecond);

// The real command line checking 10,000 pages of about 10 KB on 100 hosts answering after 50 ms, 100 in
// flight (the politeness limit gives 5.0 s). range(0): the pages (0: the start-up alone, to take from the
// CPU per page); range(1): 1 when the answers carry about 850 header bytes, as real sites send; range(2): 1
// for pages never checked before (the first find of each keeps its page).
void BM_CheckCommand10000PagesOn100Hosts(benchmark::State& state) {
    const int pages = int(state.range(0));
    QProcess server;
    const QList<QByteArray> ports = startServers(
        server, state.range(1) == 1 ? QStringLiteral("--serve-pages-850") : QStringLiteral("--serve-pages"));
    if (ports.size() != 100) return state.SkipWithError("no server");
    QStringList urls;
    for (int i = 0; i < pages; ++i)
        urls << QStringLiteral("http://127.0.0.%1:%2/page?n=%3")
                    .arg(2 + i % 100)
                    .arg(QString::fromLatin1(ports[i % 100]))
                    .arg(i);
    QTemporaryDir root;
    const QString program = placeProgram(root.path());
    if (program.isEmpty()) return state.SkipWithError("no program");
    {
        Run run(urls, root.path(), state.range(2) == 1);
        db::SetOption(run.db.tbSets, QStringLiteral("net.maxInFlight"), QStringLiteral("100"), -1);
        run.db.store.flush();
    }
    CommandRun check;
    double wallMs = 0;
    for (auto _ : state) {
        QElapsedTimer clock;
        clock.start();
        check = runCheckCommand(program);
        wallMs = double(clock.elapsed());
    }
    state.counters["wall_s"] = wallMs / 1000.0;
    state.counters["cpu_s"] = check.cpuS;
    state.counters["exit_code"] = check.exitCode;
    state.counters["peak_rss_MB"] = check.peakRssMB;
    state.counters["found"] = foundPages(root.path());
    if (pages > 0) {
        // The floor beside it: the same pages through the same client and limits in a process that only
        // fetches them.
        QStringList args{QStringLiteral("--fetch-floor"), QString::number(pages)};
        for (const QByteArray& p : ports)
            args << QString::fromLatin1(p);
        const CommandRun floor = runCheckCommand(QCoreApplication::applicationFilePath(), -1, args);
        state.counters["floor_cpu_s"] = floor.cpuS;
        state.counters["floor_exit_code"] = floor.exitCode;
        // A second run over pages that did not change: what the data (base and check history) grows by.
        const qint64 before = folderBytes(root.path() + QStringLiteral("/base"));
        const CommandRun again = runCheckCommand(program);
        state.counters["rerun_growth_KB"] =
            double(folderBytes(root.path() + QStringLiteral("/base")) - before) / 1024.0;
        state.counters["rerun_cpu_s"] = again.cpuS;
    }
    server.kill();
    server.waitForFinished();
}
BENCHMARK(BM_CheckCommand10000PagesOn100Hosts)
    ->Args({0, 0, 0})
    ->Args({10000, 0, 0})
    ->Args({10000, 1, 0})
    ->Args({10000, 0, 1})
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond);

// The first page stalls, then 99 pages of 7 MB on 16 hosts: the peak resident memory of the process (run
// alone: --benchmark_filter=StalledFirst). The pages come from a child process, so that only the run's
// memory is counted; the stalled page is not retried, to keep the run short.
// range(0) 1: the pages do not say their length (sent until the connection closes), so the run's memory is
// counted as they come.
void BM_StalledFirstThen99PagesOf7MB(benchmark::State& state) {
    QProcess server;
    const QList<QByteArray> ports =
        startServers(server, state.range(0) == 1 ? QStringLiteral("--serve-7mb-unannounced")
                                                 : QStringLiteral("--serve-7mb"));
    if (ports.size() != 17) return state.SkipWithError("no server");
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
BENCHMARK(BM_StalledFirstThen99PagesOf7MB)->Arg(0)->Arg(1)->Iterations(1)->Unit(benchmark::kMillisecond);

// The child of the floor measure: the pages of the command-line run fetched with its limits (100 in flight,
// the default per host) through the page calls, nothing scanned or stored. Exit status 0 when every page
// came.
int fetchFloor(int pages, const QList<QByteArray>& ports) {
    web::PageFetcher settings;
    settings.maxInFlight = 100;
    web::HostBook book(settings.perHost);
    settings.hostBook = &book;
    int next = 0, done = 0, fetched = 0, inFlight = 0;
    const auto urlOf = [&](int i) {
        return QStringLiteral("http://127.0.0.%1:%2/page?n=%3")
            .arg(2 + i % 100)
            .arg(QString::fromLatin1(ports[i % 100]))
            .arg(i);
    };
    std::function<void()> more = [&] {
        while (inFlight < settings.maxInFlight && next < pages) {
            auto* call = new web::PageCall(settings, nullptr, urlOf(next++), true);
            ++inFlight;
            QObject::connect(call, &web::PageCall::finished, call, [&, call] {
                ++done;
                fetched += call->body().has_value();
                --inFlight;
                call->deleteLater();
                more();
            });
            call->start();
        }
    };
    more();
    while (done < pages)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    return fetched == pages ? 0 : 1;
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    QLocale::setDefault(QLocale(QLocale::Russian, QLocale::Russia));
    // The children of the command line and memory benchmarks: 100 hosts answering after 50 ms; a stalling
    // page and 7 MB pages on 16 more hosts.
    if (argc > 1 && (QByteArray(argv[1]) == "--serve-pages" || QByteArray(argv[1]) == "--serve-pages-850")) {
        test::HttpServer::Reply ok;
        ok.headers = {test::contentType("text/html; charset=utf-8")};
        if (QByteArray(argv[1]).endsWith("-850"))
            // Headers as a real site's answer carries them: about 850 bytes in all.
            ok.headers
                << QPair<QByteArray, QByteArray>{"Date", "Thu, 10 Dec 2026 02:00:00 GMT"}
                << QPair<QByteArray, QByteArray>{"Server", "nginx/1.22.1"}
                << QPair<QByteArray, QByteArray>{"Cache-Control",
                                                 "private, no-cache, no-store, must-revalidate"}
                << QPair<QByteArray, QByteArray>{"Set-Cookie", "session=" + QByteArray(48, 'a') +
                                                                   "; Path=/; HttpOnly; SameSite=Lax"}
                << QPair<QByteArray, QByteArray>{"Strict-Transport-Security",
                                                 "max-age=31536000; includeSubDomains"}
                << QPair<QByteArray, QByteArray>{"Content-Security-Policy",
                                                 "default-src 'self'; img-src * data:; script-src 'self' "
                                                 "'unsafe-inline' https://counter.example; style-src "
                                                 "'self' 'unsafe-inline'"}
                << QPair<QByteArray, QByteArray>{"X-Frame-Options", "SAMEORIGIN"}
                << QPair<QByteArray, QByteArray>{"X-Content-Type-Options", "nosniff"}
                << QPair<QByteArray, QByteArray>{"Referrer-Policy", "strict-origin-when-cross-origin"}
                << QPair<QByteArray, QByteArray>{"Vary", "Accept-Encoding, Cookie, User-Agent"}
                << QPair<QByteArray, QByteArray>{"Last-Modified", "Wed, 09 Dec 2026 18:00:00 GMT"}
                << QPair<QByteArray, QByteArray>{"ETag", "\"" + QByteArray(32, 'e') + "\""}
                << QPair<QByteArray, QByteArray>{"X-Request-Id", QByteArray(36, 'r')}
                << QPair<QByteArray, QByteArray>{"Link", "<https://site.example/wp-json/>; "
                                                         "rel=\"https://api.w.org/\""};
        ok.body = pageBody(10 * 1024);
        ok.delayMs = 50;
        return serve(100, [&](test::HttpServer& s, int) { s.on("/page", ok); });
    }
    if (argc > 1 && QByteArray(argv[1]).startsWith("--serve-7mb")) {
        test::HttpServer::Reply stall;
        stall.stall = true;
        stall.body = "<a href=";
        test::HttpServer::Reply big;
        big.headers = {test::contentType("text/html; charset=utf-8")};
        big.body = pageBody(7 * 1024 * 1024);
        if (QByteArray(argv[1]).endsWith("-unannounced")) {
            big.raw =
                "HTTP/1.1 200 OK\r\nContent-Type: text/html; charset=utf-8\r\nConnection: close\r\n\r\n" +
                big.body;
            big.close = true;
        }
        return serve(
            17, [&](test::HttpServer& s, int i) { s.on(i == 0 ? "/stall" : "/big", i == 0 ? stall : big); });
    }
    if (argc > 2 && QByteArray(argv[1]) == "--fetch-floor") {
        QList<QByteArray> ports;
        for (int i = 3; i < argc; ++i)
            ports << QByteArray(argv[i]);
        if (ports.size() != 100) return 2;
        return fetchFloor(QByteArray(argv[2]).toInt(), ports);
    }
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
