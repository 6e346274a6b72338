#include <memory>

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QRandomGenerator>
#include <QTest>
#include <QTimer>

#include "support/http_server.h"
#include "web/curl_client.h"
#include "web/page_fetcher.h"

using namespace zentaro;
using test::HttpServer;

namespace {

HttpServer::Reply raw(const QByteArray& bytes) {
    HttpServer::Reply r;
    r.raw = bytes;
    r.close = true;
    return r;
}

// A fetcher whose failures and retries cost the test little.
struct QuickFetcher : web::PageFetcher {
    QuickFetcher() {
        readTimeoutMs = 2000;
        retryPauseMs = 10;
    }
};

// Waits for a call started by the test.
bool finishes(web::PageCall& call, int ms = 5000) {
    return QTest::qWaitFor([&] { return call.done(); }, ms);
}

// "/stall" stalls at its first request and answers the later ones.
void serveStallingOnce(HttpServer& server) {
    auto stalls = std::make_shared<int>(0);
    server.on("/stall", [stalls](const HttpServer::Request&) {
        HttpServer::Reply r = test::htmlPage("<a href=x>ok</a>");
        r.stall = (*stalls)++ == 0;
        return r;
    });
}

} // namespace

TEST(CurlBridge, ManySocketsAtOnceOnSeveralHostsAllFinish) {
    std::vector<std::unique_ptr<HttpServer>> servers;
    for (int i = 1; i <= 4; ++i) {
        servers.push_back(std::make_unique<HttpServer>(QStringLiteral("127.0.0.%1").arg(i)));
        ASSERT_TRUE(servers.back()->listening());
        servers.back()->on("/p", test::htmlPage("page " + QByteArray::number(i)));
    }
    QuickFetcher fetcher;
    std::vector<std::unique_ptr<web::PageCall>> calls;
    for (int n = 0; n < 60; ++n) {
        calls.push_back(std::make_unique<web::PageCall>(fetcher, nullptr, servers[n % 4]->url("/p"), true));
        calls.back()->start();
    }
    ASSERT_TRUE(QTest::qWaitFor(
        [&] { return std::all_of(calls.begin(), calls.end(), [](const auto& c) { return c->done(); }); },
        10000));
    for (int n = 0; n < 60; ++n)
        EXPECT_EQ(calls[n]->body().value_or("-"), "page " + QByteArray::number(n % 4 + 1)) << n;
    calls.clear();
    EXPECT_EQ(web::CurlClient::forThread().running(), 0);
}

// Kept connections that the server closes meanwhile are not used again, and their sockets leave the loop.
TEST(CurlBridge, ConnectionsTheServerClosesAfterEachAnswerServeEveryRequest) {
    HttpServer server;
    HttpServer::Reply once = test::htmlPage("once");
    once.close = true;
    server.on("/once", once);
    QuickFetcher fetcher;
    for (int i = 0; i < 5; ++i) {
        EXPECT_EQ(fetcher.FetchPage(server.url("/once"), true).value_or("-"), QStringLiteral("once")) << i;
        // The close may reach the client's kept socket while nobody watches it.
        QCoreApplication::processEvents();
    }
    EXPECT_EQ(web::CurlClient::forThread().running(), 0);
}

TEST(CurlBridge, CancellingFromInsideItsOwnCallbackOrAtStopEndsTheCall) {
    HttpServer server;
    server.on("/big", test::htmlPage(QByteArray(512 * 1024, 'x')));
    HttpServer::Reply drip = test::htmlPage(QByteArray(400, 'y'));
    drip.dripMs = 20;
    server.on("/drip", drip);
    server.on("/after", test::htmlPage("after"));
    QuickFetcher fetcher;

    // Aborted and deleted from the memory question, which libcurl's data callback asks.
    auto* call = new web::PageCall(fetcher, nullptr, server.url("/big"), true);
    call->setReserved(1024);
    bool finished = false;
    QObject::connect(call, &web::PageCall::finished, [&] { finished = true; });
    call->reserve = [call](qint64) {
        call->abort();
        return true;
    };
    call->start();
    ASSERT_TRUE(QTest::qWaitFor([&] { return finished; }, 5000));
    EXPECT_EQ(call->info().failure, web::FetchFailure::Cancelled);
    delete call;
    // The client goes on serving.
    EXPECT_EQ(fetcher.FetchPage(server.url("/after"), true).value_or("-"), QStringLiteral("after"));

    // The user's stop in the middle of a slow body.
    bool stop = false;
    fetcher.stop = &stop;
    QTimer::singleShot(100, [&] { stop = true; });
    QElapsedTimer clock;
    clock.start();
    EXPECT_FALSE(fetcher.FetchPage(server.url("/drip"), true).has_value());
    EXPECT_LT(clock.elapsed(), 3000);
    EXPECT_EQ(fetcher.lastError(), QStringLiteral("Прервано"));
    fetcher.stop = nullptr;
    EXPECT_EQ(web::CurlClient::forThread().running(), 0);
}

// Bodies that do not come whole fail (and are tried again, as connections that break usually pass); a body
// past the cap fails however it is sent.
TEST(CurlBridge, CutBrokenAndOversizedBodiesFail) {
    const struct {
        const char* name;
        QByteArray bytes;
        web::FetchFailure failure;
        int requests;
    } cases[] = {
        {"closed mid-body", "HTTP/1.1 200 OK\r\nContent-Length: 1000\r\n\r\n<a href=x>y</a>",
         web::FetchFailure::Network, 3},
        {"broken second chunk",
         "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n5\r\nhello\r\nzz\r\n<a "
         "href=x>y</a>\r\n0\r\n\r\n",
         web::FetchFailure::Network, 3},
        {"closed before answering", "", web::FetchFailure::Refused, 3},
        {"chunked past the cap",
         "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n" +
             QByteArray("10000\r\n" + QByteArray(0x10000, 'x') + "\r\n").repeated(6) + "0\r\n\r\n",
         web::FetchFailure::TooLarge, 1},
        {"unannounced past the cap", "HTTP/1.1 200 OK\r\n\r\n" + QByteArray(400 * 1024, 'x'),
         web::FetchFailure::TooLarge, 1},
    };
    for (const auto& c : cases) {
        HttpServer server;
        HttpServer::Reply reply = raw(c.bytes);
        if (c.bytes.isEmpty()) reply.reset = true;
        server.on("/p", reply);
        QuickFetcher fetcher;
        fetcher.maxReplyBytes = 256 * 1024;
        EXPECT_FALSE(fetcher.FetchPage(server.url("/p"), true).has_value()) << c.name;
        EXPECT_EQ(fetcher.lastInfo().failure, c.failure)
            << c.name << " " << fetcher.lastError().toStdString();
        EXPECT_EQ(server.requests().size(), c.requests) << c.name;
    }
}

// A run's memory holds for replies that do not say their length: the bytes are counted as they come, and
// the call is given up before it holds more than it was granted.
TEST(CurlBridge, AnUnannouncedReplyIsGivenUpBeforeItPassesItsMemory) {
    HttpServer server;
    server.on("/p", raw("HTTP/1.1 200 OK\r\n\r\n" + QByteArray(2 * 1024 * 1024, 'x')));
    QuickFetcher fetcher;
    web::PageCall call(fetcher, nullptr, server.url("/p"), true);
    call.setReserved(64 * 1024);
    qint64 granted = 64 * 1024, largestAsked = 0;
    call.reserve = [&](qint64 bytes) {
        largestAsked = std::max(largestAsked, bytes);
        if (bytes > 256 * 1024) return false;
        granted = bytes;
        return true;
    };
    call.start();
    ASSERT_TRUE(finishes(call));
    EXPECT_EQ(call.info().failure, web::FetchFailure::Deferred);
    EXPECT_LE(granted, 256 * 1024);
    // Asked before the piece that would pass the grant was kept: at most one piece of libcurl's above it.
    EXPECT_LE(largestAsked, 256 * 1024 + 16 * 1024);
}

TEST(CurlBridge, ARedirectToANameThatLeadsInsideIsRefusedByTheAddressConnectedTo) {
    HttpServer outside; // stands in for a public host
    HttpServer inside(QStringLiteral("127.0.0.2"));
    ASSERT_TRUE(outside.listening() && inside.listening());
    inside.on("/secret", test::htmlPage("secret"));
    outside.on("/in", [&](const HttpServer::Request&) {
        HttpServer::Reply r;
        r.status = 302;
        r.headers = {
            {"Location", "http://inner.zentaro.test:" + QByteArray::number(inside.port()) + "/secret"}};
        return r;
    });
    outside.on("/out", [&](const HttpServer::Request&) {
        HttpServer::Reply r;
        r.status = 302;
        r.headers = {{"Location", "http://www.zentaro.test:" + QByteArray::number(outside.port()) + "/page"}};
        return r;
    });
    outside.on("/page", test::htmlPage("fine"));
    QuickFetcher fetcher;
    fetcher.resolve = {QStringLiteral("public.zentaro.test:%1:127.0.0.1").arg(outside.port()),
                       QStringLiteral("www.zentaro.test:%1:127.0.0.1").arg(outside.port()),
                       QStringLiteral("inner.zentaro.test:%1:127.0.0.2").arg(inside.port())};
    fetcher.internalAddress = [](const QString& a) { return a == QLatin1String("127.0.0.2"); };
    const QString start = QStringLiteral("http://public.zentaro.test:%1").arg(outside.port());
    EXPECT_FALSE(fetcher.FetchPage(start + "/in", true).has_value());
    EXPECT_EQ(fetcher.lastInfo().failure, web::FetchFailure::BadRedirect);
    EXPECT_TRUE(fetcher.lastError().startsWith(QStringLiteral("Перенаправление на внутренний адрес")))
        << fetcher.lastError().toStdString();
    EXPECT_TRUE(inside.requests().isEmpty());
    EXPECT_EQ(fetcher.FetchPage(start + "/out", true).value_or("-"), QStringLiteral("fine"));
    ASSERT_EQ(fetcher.lastInfo().hops.size(), 1);
    EXPECT_EQ(fetcher.lastInfo().hops[0].status, 302);
    EXPECT_TRUE(fetcher.lastInfo().hops[0].target.endsWith(QStringLiteral("/page")));
}

TEST(Cookies, TheCapPerHostHoldsWhateverThePath) {
    HttpServer server;
    HttpServer::Reply set = test::htmlPage("set");
    for (int i = 0; i < 400; ++i)
        set.headers << QPair<QByteArray, QByteArray>{"Set-Cookie", "c" + QByteArray::number(i) + "=" +
                                                                       QByteArray(64, 'v') + "; Path=/p" +
                                                                       QByteArray::number(i)};
    server.on("/set", set);
    for (int i : {0, 49, 50, 399})
        server.on("/p" + QByteArray::number(i), test::htmlPage("p"));
    QuickFetcher fetcher;
    ASSERT_TRUE(fetcher.FetchPage(server.url("/set"), true));
    QStringList sent;
    for (int i : {0, 49, 50, 399}) {
        ASSERT_TRUE(fetcher.FetchPage(server.url(QStringLiteral("/p%1").arg(i)), true));
        sent << QString::fromLatin1(server.requests().last().headers.value("cookie").left(4));
    }
    EXPECT_EQ(sent, (QStringList{"c0=v", "c49=", "", ""}));
}

TEST(AdaptiveFirstTry, AHostsFirstTryTimeoutFollowsItsSlowestAnswer) {
    web::HostBook book(4);
    const QString host = QStringLiteral("a.example:80");
    EXPECT_EQ(book.firstTryTimeoutMs(host, 10000, 2000), 10000) << "nothing known";
    for (int i = 0; i < web::HostBook::kSettleAnswers - 1; ++i)
        book.answered(host, 30);
    EXPECT_EQ(book.firstTryTimeoutMs(host, 10000, 2000), 10000) << "too few answers";
    book.answered(host, 50);
    EXPECT_EQ(book.firstTryTimeoutMs(host, 10000, 2000), 2000) << "the floor";
    book.answered(host, 700);
    EXPECT_EQ(book.firstTryTimeoutMs(host, 10000, 2000), 7000) << "ten times the slowest";
    book.answered(host, 5000);
    EXPECT_EQ(book.firstTryTimeoutMs(host, 10000, 2000), 10000) << "never above the full timeout";
    EXPECT_EQ(book.firstTryTimeoutMs(QStringLiteral("b.example:80"), 10000, 2000), 10000);
}

// Once a host has shown it answers fast, a first try that waits far longer is cut early and sent again at
// once with the full timeout: a slow page is asked twice and found, a stalled one retried soon.
TEST(AdaptiveFirstTry, ASlowPageIsAskedTwiceAndFoundAndAStalledOneRetriedSoon) {
    HttpServer server;
    server.on("/fast", test::htmlPage("fast"));
    HttpServer::Reply slow = test::htmlPage("slow");
    slow.delayMs = 400;
    server.on("/slow", slow);
    serveStallingOnce(server);
    QuickFetcher fetcher;
    fetcher.readTimeoutMs = 5000;
    fetcher.quickTimeoutFloorMs = 100;
    web::HostBook book(4);
    fetcher.hostBook = &book;
    for (int i = 0; i < web::HostBook::kSettleAnswers; ++i)
        ASSERT_TRUE(fetcher.FetchPage(server.url("/fast"), true));
    QElapsedTimer clock;
    clock.start();
    EXPECT_TRUE(fetcher.FetchPage(server.url("/stall"), true).has_value());
    EXPECT_LT(clock.elapsed(), 2500) << "the full read timeout was not waited out";
    EXPECT_EQ(server.targets().count("/stall"), 2);
    EXPECT_EQ(fetcher.FetchPage(server.url("/slow"), true).value_or("-"), QStringLiteral("slow"));
    EXPECT_EQ(server.targets().count("/slow"), 2);
    EXPECT_EQ(fetcher.lastInfo().quickRetries, 1);
    EXPECT_EQ(book.quickRetries(), 2);
    fetcher.hostBook = nullptr;
}

// A first try sent before the host had shown anything is cut as soon as the host's other answers show it
// waits far too long.
TEST(AdaptiveFirstTry, AStallSentFirstIsCutOnceTheHostsOtherAnswersCome) {
    HttpServer server;
    server.on("/fast", test::htmlPage("fast"));
    serveStallingOnce(server);
    QuickFetcher fetcher;
    fetcher.readTimeoutMs = 8000;
    fetcher.quickTimeoutFloorMs = 100;
    web::HostBook book(4);
    fetcher.hostBook = &book;
    QElapsedTimer clock;
    clock.start();
    web::PageCall stalled(fetcher, nullptr, server.url("/stall"), true);
    stalled.start();
    for (int i = 0; i < web::HostBook::kSettleAnswers; ++i)
        ASSERT_TRUE(fetcher.FetchPage(server.url("/fast"), true));
    ASSERT_TRUE(finishes(stalled, 8000));
    EXPECT_TRUE(stalled.body().has_value());
    EXPECT_EQ(stalled.info().quickRetries, 1);
    EXPECT_LT(clock.elapsed(), 4000) << "the full read timeout was not waited out";
    fetcher.hostBook = nullptr;
}

// Damaged answers of every kind end (as a page or a failure) and leave the client serving.
TEST(CurlBridge, DamagedAnswersEndAndLeaveTheClientServing) {
    const QByteArray valid = "HTTP/1.1 200 OK\r\nContent-Type: text/html\r\nSet-Cookie: a=b; Path=/\r\n"
                             "X-Robots-Tag: noindex\r\nTransfer-Encoding: chunked\r\n\r\n"
                             "5\r\nhello\r\n6\r\n world\r\n0\r\n\r\n";
    HttpServer server;
    server.on("/ok", test::htmlPage("ok"));
    QRandomGenerator random(33);
    QuickFetcher fetcher;
    fetcher.retries = 0;
    fetcher.readTimeoutMs = 300;
    for (int round = 0; round < 60; ++round) {
        QByteArray bytes = valid;
        const int edits = 1 + int(random.bounded(4));
        for (int e = 0; e < edits; ++e) {
            const int at = int(random.bounded(bytes.size()));
            switch (random.bounded(3)) {
            case 0:
                bytes[at] = char(random.bounded(256));
                break;
            case 1:
                bytes.remove(at, 1 + int(random.bounded(8)));
                break;
            default:
                bytes.insert(at, QByteArray(1 + int(random.bounded(8)), char(random.bounded(256))));
            }
        }
        server.on("/fuzz", raw(bytes));
        fetcher.FetchPage(server.url("/fuzz"), true);
    }
    EXPECT_EQ(fetcher.FetchPage(server.url("/ok"), true).value_or("-"), QStringLiteral("ok"));
}
