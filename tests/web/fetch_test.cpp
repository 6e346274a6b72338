#include <memory>

#include <gtest/gtest.h>

#include <QElapsedTimer>
#include <QFile>
#include <QNetworkProxy>
#include <QTemporaryDir>

#include "support/http_server.h"
#include "web/page_fetcher.h"

using namespace zentaro;
using test::contentType;
using test::HttpServer;

namespace {

HttpServer::Reply html(const QByteArray& body, const QByteArray& type = "text/html; charset=utf-8") {
    HttpServer::Reply r;
    r.headers = {contentType(type)};
    r.body = body;
    return r;
}

HttpServer::Reply redirect(const QString& to, int status = 302) {
    HttpServer::Reply r;
    r.status = status;
    r.headers = {{"Location", to.toUtf8()}};
    return r;
}

} // namespace

TEST(FetchPage, SendsTheProgramsHeadersAndDecodesDeclaredCharsets) {
    HttpServer server;
    ASSERT_TRUE(server.listening());
    server.on("/utf8", html("Привет"));
    server.on("/cp1251", html("\xcf\xf0\xe8\xe2\xe5\xf2", "text/html; charset=windows-1251"));
    server.on("/koi8", html("\xf0\xd2\xc9\xd7\xc5\xd4", "text/html; charset=KOI8-R"));
    server.on("/meta",
              html("<html><head><meta charset=\"windows-1251\"></head>\xcf\xf0\xe8\xe2\xe5\xf2</html>",
                   "text/html"));
    server.on("/undeclared", html("\xcf\xf0\xe8\xe2\xe5\xf2", "text/html"));
    web::PageFetcher fetcher;
    EXPECT_EQ(fetcher.FetchPage(server.url("/utf8"), true).value_or("-"), QStringLiteral("Привет"));
    EXPECT_EQ(fetcher.FetchPage(server.url("/cp1251"), true).value_or("-"), QStringLiteral("Привет"));
    EXPECT_EQ(fetcher.FetchPage(server.url("/koi8"), true).value_or("-"), QStringLiteral("Привет"));
    EXPECT_TRUE(
        fetcher.FetchPage(server.url("/meta"), true).value_or("-").contains(QStringLiteral("Привет")));
    EXPECT_EQ(fetcher.FetchPage(server.url("/undeclared"), true).value_or("-"), QStringLiteral("Привет"));
    const auto& req = server.requests().first();
    EXPECT_EQ(req.method, QByteArray("GET"));
    EXPECT_EQ(
        req.headers.value("user-agent"),
        QByteArray("Mozilla/5.0 (Windows; I; Windows NT 5.1; ru; rv:1.9.2.13) Gecko/20100101 Firefox/33.0"));
    EXPECT_EQ(req.headers.value("accept"), QByteArray("text/html, */*"));
    EXPECT_FALSE(req.headers.contains("cookie"));
}

TEST(FetchPage, ErrorStatusesUnreachableHostsAndTimeoutsFail) {
    HttpServer server;
    HttpServer::Reply notFound = html("<a href=x>page body</a>zz");
    notFound.status = 404;
    server.on("/missing", notFound);
    HttpServer::Reply slow = html("late");
    slow.stall = true;
    server.on("/stall", slow);
    web::PageFetcher fetcher;
    fetcher.readTimeoutMs = 300;
    EXPECT_FALSE(fetcher.FetchPage(server.url("/missing"), true).has_value());
    EXPECT_FALSE(fetcher.FetchPage(server.url("/stall"), true).has_value());
    EXPECT_FALSE(fetcher.FetchPage(QStringLiteral("http://127.0.0.1:1/"), true).has_value());
    EXPECT_FALSE(fetcher.lastError().isEmpty());
    EXPECT_FALSE(fetcher.FetchPage(QString(), true).has_value());
}

TEST(FetchPage, FollowsRedirectChainsWithinALimit) {
    HttpServer server;
    server.on("/a", redirect(server.url("/b")));
    server.on("/b", redirect("/c", 301));
    server.on("/c", html("done"));
    server.on("/loop", redirect("/loop"));
    web::PageFetcher fetcher;
    EXPECT_EQ(fetcher.FetchPage(server.url("/a"), true).value_or("-"), QStringLiteral("done"));
    const auto looped = fetcher.FetchPage(server.url("/loop"), true);
    EXPECT_FALSE(looped.has_value()) << looped.value_or("").toStdString() << fetcher.lastError().toStdString()
                                     << server.targets().count("/loop");
    EXPECT_EQ(server.targets().count("/loop"), fetcher.maxRedirects + 1);
}

TEST(FetchPage, CookiesComeBackOnTheNextRequestOfTheRunOnly) {
    HttpServer server;
    HttpServer::Reply set = html("set");
    set.headers << QPair<QByteArray, QByteArray>{"Set-Cookie", "yandexuid=42; Path=/"};
    server.on("/set", set);
    server.on("/next", html("next"));
    {
        web::PageFetcher fetcher;
        ASSERT_TRUE(fetcher.FetchPage(server.url("/set"), true));
        ASSERT_TRUE(fetcher.FetchPage(server.url("/next"), true));
        EXPECT_EQ(server.requests().last().headers.value("cookie"), QByteArray("yandexuid=42"));
    }
    web::PageFetcher restarted;
    ASSERT_TRUE(restarted.FetchPage(server.url("/next"), true));
    EXPECT_FALSE(server.requests().last().headers.contains("cookie"));
}

TEST(FetchPage, SelfSignedCertificatesAreAcceptedAndHttpsToHttpRedirectsFollowed) {
    HttpServer plain;
    plain.on("/landing", html("plain landing"));
    HttpServer secure(true);
    ASSERT_TRUE(secure.listening());
    secure.on("/page", html("secret"));
    secure.on("/down", redirect(plain.url("/landing")));
    web::PageFetcher fetcher;
    EXPECT_EQ(fetcher.FetchPage(secure.url("/page"), true).value_or("-"), QStringLiteral("secret"));
    EXPECT_EQ(fetcher.FetchPage(secure.url("/down"), true).value_or("-"), QStringLiteral("plain landing"));
    // The metric services are asked without TLS: https fails there.
    EXPECT_FALSE(fetcher.FetchPage(secure.url("/page"), false).has_value());
}

TEST(FetchPage, BodyCanBeWrittenUnchangedToAFile) {
    HttpServer server;
    HttpServer::Reply gif;
    gif.headers = {contentType("image/gif")};
    gif.body = QByteArray("GIF89a\x01\x00\x01\x00\x00\xff", 12);
    server.on("/image", gif);
    QTemporaryDir dir;
    web::PageFetcher fetcher;
    const QString file = dir.filePath("yandex.gif");
    ASSERT_TRUE(fetcher.fetchPageToFile(server.url("/image"), true, file));
    QFile f(file);
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    EXPECT_EQ(f.readAll(), gif.body);
    EXPECT_FALSE(fetcher.fetchPageToFile(server.url("/nothing"), true, dir.filePath("x.gif")));
}

TEST(ServiceHosts, SettingsReplaceOnlyTheHostsTheyName) {
    web::ServiceHosts hosts;
    const QString google = hosts.googleToolbar;
    web::applyHostSettings(
        hosts, {{"host.yandexToolbar", " 127.0.0.1:8080 "}, {"host.googleToolbar", ""}, {"other", "x"}});
    EXPECT_EQ(hosts.yandexToolbar, QStringLiteral("127.0.0.1:8080"));
    EXPECT_EQ(hosts.googleToolbar, google);
}

TEST(FetchPage, OnlyHttpAndHttpsAreFetchedOrFollowed) {
    HttpServer server;
    server.on("/file", redirect("file:///etc/hostname"));
    server.on("/data", redirect("data:text/html,secret"));
    server.on("/ftp", redirect("ftp://127.0.0.1/x"));
    web::PageFetcher fetcher;
    for (const char* path : {"/file", "/data", "/ftp"}) {
        EXPECT_FALSE(fetcher.FetchPage(server.url(QString::fromLatin1(path)), true).has_value()) << path;
        EXPECT_TRUE(fetcher.lastError().startsWith(QStringLiteral("Недопустимый адрес"))) << path;
    }
    QTemporaryDir dir;
    EXPECT_FALSE(fetcher.fetchPageToFile(server.url("/file"), true, dir.path() + "/copy"));
    EXPECT_FALSE(QFile::exists(dir.path() + "/copy"));
    EXPECT_FALSE(fetcher.FetchPage(QStringLiteral("file:///etc/hostname"), true).has_value());
}

TEST(FetchPage, ACookieForADomainReachesEveryHostOfIt) {
    // The test server stands in for two hosts of one domain as their proxy.
    HttpServer server;
    HttpServer::Reply set = html("set");
    set.headers << QPair<QByteArray, QByteArray>{"Set-Cookie", "spravka=7; Domain=zentaro.test; Path=/"};
    server.on("http://www.zentaro.test/set", set);
    server.on("http://search.zentaro.test/next", html("next"));
    server.on("http://other.test/next", html("other"));
    QNetworkProxy::setApplicationProxy(QNetworkProxy(QNetworkProxy::HttpProxy, "127.0.0.1", server.port()));
    web::PageFetcher fetcher;
    const bool fetched = fetcher.FetchPage(QStringLiteral("http://www.zentaro.test/set"), true) &&
                         fetcher.FetchPage(QStringLiteral("http://search.zentaro.test/next"), true);
    const QByteArray sent = server.requests().last().headers.value("cookie");
    const bool fetchedOther = fetcher.FetchPage(QStringLiteral("http://other.test/next"), true).has_value();
    QNetworkProxy::setApplicationProxy(QNetworkProxy::NoProxy);
    ASSERT_TRUE(fetched && fetchedOther) << fetcher.lastError().toStdString();
    EXPECT_EQ(sent, QByteArray("spravka=7"));
    EXPECT_FALSE(server.requests().last().headers.contains("cookie"));
}

TEST(FetchPage, AReplyOverTheCapFailsAndAcceptLanguageIsFixed) {
    HttpServer server;
    server.on("/big", html(QByteArray(300 * 1024, 'x')));
    server.on("/small", html("ok"));
    web::PageFetcher fetcher;
    fetcher.maxReplyBytes = 256 * 1024;
    EXPECT_FALSE(fetcher.FetchPage(server.url("/big"), true).has_value());
    EXPECT_TRUE(fetcher.lastError().startsWith(QStringLiteral("Ответ больше")))
        << fetcher.lastError().toStdString();
    EXPECT_EQ(fetcher.FetchPage(server.url("/small"), true).value_or("-"), QStringLiteral("ok"));
    EXPECT_EQ(server.requests().last().headers.value("accept-language"), QByteArray("ru-RU,ru;q=0.9"));
}

namespace {

// A fetcher with short pauses, so that the retries cost the test little.
void quick(web::PageFetcher& f) {
    f.readTimeoutMs = 300;
    f.retryPauseMs = 10;
}

// A reply that fails the first `failures` requests in the given way, then answers with the page.
HttpServer::Handler failFirst(int failures, HttpServer::Reply failure) {
    auto count = std::make_shared<int>(0);
    return [count, failures, failure](const HttpServer::Request&) {
        return (*count)++ < failures ? failure : html("<a href=x>ok</a>zz");
    };
}

} // namespace

TEST(FetchRetries, PassingFailuresAreTriedAgainAndOthersAreNot) {
    HttpServer::Reply reset;
    reset.reset = true;
    HttpServer::Reply stall = html("part");
    stall.stall = true;
    const struct {
        const char* name;
        HttpServer::Reply failure;
        int failures;
        bool fetched;
        int requests;
        int attempts; // earlier tries noted; -1: the client itself sends again on a reset connection
    } cases[] = {
        {"429", html("slow down", "text/plain"), 1, true, 2, 1},
        {"502", html("bad gateway"), 2, true, 3, 2},
        {"504", html("gateway timeout"), 3, false, 3, 2},
        {"reset", reset, 1, true, 2, -1},
        {"stall", stall, 1, true, 2, 1},
        {"404", html("gone"), 1, false, 1, 0},
        {"403", html("forbidden"), 1, false, 1, 0},
    };
    for (const auto& c : cases) {
        HttpServer server;
        HttpServer::Reply failure = c.failure;
        if (QByteArray(c.name).toInt() > 0) failure.status = QByteArray(c.name).toInt();
        server.on("/p", failFirst(c.failures, failure));
        web::PageFetcher fetcher;
        quick(fetcher);
        const auto body = fetcher.FetchPage(server.url("/p"), true);
        EXPECT_EQ(body.has_value(), c.fetched) << c.name << " " << fetcher.lastError().toStdString();
        EXPECT_EQ(server.requests().size(), c.requests) << c.name;
        // Each earlier try's reason is kept for the history.
        if (c.attempts >= 0) {
            EXPECT_EQ(fetcher.lastInfo().attempts.size(), c.attempts) << c.name;
        }
    }
}

// After a pause a host takes one new request at a time. Requests sent before it count only against the
// host's limit: one of them stalled cannot hold the host, and one of them refused cannot let a second new
// request go beside the first.
TEST(HostBookPauses, RequestsFromBeforeAPauseNeitherHoldTheHostNorWidenIt) {
    web::HostBook book(4);
    const QString host = QStringLiteral("a.example:80");
    const int before = book.started(host);
    for (int i = 0; i < 3; ++i)
        book.started(host); // four in flight: the limit
    EXPECT_FALSE(book.mayStart(host));
    book.ended(host, before); // the first is refused: pause
    book.pause(host, 0, before);
    const int after = book.started(host); // one new request, beside three old ones
    EXPECT_FALSE(book.mayStart(host)) << "one at a time";
    book.ended(host, before); // an old one is refused too
    book.pause(host, 0, before);
    EXPECT_FALSE(book.mayStart(host)) << "the new one still counts";
    book.ended(host, after, true); // the new one is answered: two at once now
    EXPECT_TRUE(book.mayStart(host)) << "two old ones in flight do not hold the host";
    book.started(host);
    book.started(host);
    EXPECT_FALSE(book.mayStart(host)) << "the limit of four holds";
}

TEST(FetchRetries, RetryAfterIsWaitedOutUpToItsCap) {
    HttpServer server;
    HttpServer::Reply wait = html("busy");
    wait.status = 429;
    wait.headers << QPair<QByteArray, QByteArray>{"Retry-After", "1"};
    server.on("/short", failFirst(1, wait));
    HttpServer::Reply past = wait;
    past.status = 503;
    past.headers.last().second = "Wed, 21 Oct 2015 07:28:00 GMT"; // a date gone by: no wait
    server.on("/date", failFirst(1, past));
    HttpServer::Reply longWait = wait;
    longWait.headers.last().second = "120";
    server.on("/long", failFirst(1, longWait));
    web::PageFetcher fetcher;
    quick(fetcher);
    fetcher.retryPauseMs = 5000; // a Retry-After replaces the pause
    QElapsedTimer clock;
    clock.start();
    EXPECT_TRUE(fetcher.FetchPage(server.url("/short"), true).has_value());
    EXPECT_GE(clock.elapsed(), 900);
    EXPECT_LT(clock.elapsed(), 4000);
    clock.restart();
    EXPECT_TRUE(fetcher.FetchPage(server.url("/date"), true).has_value());
    EXPECT_LT(clock.elapsed(), 1000);
    // Longer than the cap: no second request, and the answer says how long the site asked for.
    fetcher.retryAfterMaxSec = 30;
    EXPECT_FALSE(fetcher.FetchPage(server.url("/long"), true).has_value());
    EXPECT_EQ(fetcher.lastInfo().failure, web::FetchFailure::Throttled);
    EXPECT_EQ(fetcher.lastError(), QStringLiteral("сервер просит подождать 120 с"));
    EXPECT_EQ(server.targets().count("/long"), 1);
}

TEST(FetchRetries, ABotChallengeIsItsOwnOutcomeAndTriedOnceMore) {
    HttpServer server;
    HttpServer::Reply challenge = html("<html><title>Just a moment...</title><div id=cf-chl-widget></div>");
    challenge.status = 403;
    server.on("/p", challenge);
    HttpServer::Reply denied = html("<html>Access denied</html>");
    denied.status = 403;
    server.on("/denied", denied);
    web::PageFetcher fetcher;
    quick(fetcher);
    EXPECT_FALSE(fetcher.FetchPage(server.url("/p"), true).has_value());
    EXPECT_EQ(fetcher.lastInfo().failure, web::FetchFailure::Blocked);
    EXPECT_TRUE(fetcher.lastError().startsWith(QStringLiteral("проверка заблокирована защитой сайта")));
    EXPECT_EQ(server.targets().count("/p"), 2);
    EXPECT_FALSE(fetcher.FetchPage(server.url("/denied"), true).has_value());
    EXPECT_EQ(fetcher.lastInfo().failure, web::FetchFailure::Http);
}

TEST(FetchPage, ADripFeedEndsAtTheDeadlineWithoutRetries) {
    HttpServer server;
    HttpServer::Reply drip = html(QByteArray(200, 'x'));
    drip.dripMs = 50; // ten seconds in all, never idle long enough for the read timeout
    server.on("/drip", drip);
    web::PageFetcher fetcher;
    quick(fetcher);
    fetcher.deadlineMs = 600;
    QElapsedTimer clock;
    clock.start();
    EXPECT_FALSE(fetcher.FetchPage(server.url("/drip"), true).has_value());
    EXPECT_LT(clock.elapsed(), 2000);
    EXPECT_EQ(fetcher.lastInfo().failure, web::FetchFailure::Timeout);
    EXPECT_EQ(server.requests().size(), 1);
}

TEST(FetchPage, AMalformedChunkSizeFails) {
    HttpServer server;
    HttpServer::Reply bad;
    bad.raw = "HTTP/1.1 200 OK\r\nContent-Type: text/html\r\nTransfer-Encoding: chunked\r\n\r\n"
              "ffffffffffffffffff\r\n<a href=x>y</a>zz\r\n0\r\n\r\n";
    server.on("/bad", bad);
    HttpServer::Reply good = bad;
    good.raw = "HTTP/1.1 200 OK\r\nContent-Type: text/html\r\nTransfer-Encoding: chunked\r\n\r\n"
               "5\r\nhello\r\n0\r\n\r\n";
    server.on("/good", good);
    web::PageFetcher fetcher;
    quick(fetcher);
    fetcher.retries = 0;
    EXPECT_FALSE(fetcher.FetchPage(server.url("/bad"), true).has_value());
    EXPECT_EQ(fetcher.FetchPage(server.url("/good"), true).value_or("-"), QStringLiteral("hello"));
}

TEST(FetchPage, RedirectsFromAPublicAddressIntoThisMachineOrAPrivateNetworkAreRefused) {
    // The test server stands in for a public host as its proxy.
    HttpServer server;
    const char* inside[] = {"http://127.0.0.1:9/x", "http://localhost/x", "http://10.1.2.3/x",
                            "http://192.168.0.1/x", "http://[::1]/x",     "http://169.254.169.254/x"};
    for (const char* to : inside)
        server.on(QByteArray("http://public.zentaro.test/") + QByteArray::number(qHash(QByteArray(to))),
                  redirect(QString::fromLatin1(to)));
    server.on("http://public.zentaro.test/out", redirect("http://other.zentaro.test/page"));
    server.on("http://other.zentaro.test/page", html("fine"));
    QNetworkProxy::setApplicationProxy(QNetworkProxy(QNetworkProxy::HttpProxy, "127.0.0.1", server.port()));
    web::PageFetcher fetcher;
    QStringList errors;
    for (const char* to : inside) {
        fetcher.FetchPage(QStringLiteral("http://public.zentaro.test/%1").arg(qHash(QByteArray(to))), true);
        errors << fetcher.lastError();
    }
    const auto outside = fetcher.FetchPage(QStringLiteral("http://public.zentaro.test/out"), true);
    QNetworkProxy::setApplicationProxy(QNetworkProxy::NoProxy);
    for (const QString& e : errors)
        EXPECT_TRUE(e.startsWith(QStringLiteral("Перенаправление на внутренний адрес"))) << e.toStdString();
    EXPECT_EQ(outside.value_or("-"), QStringLiteral("fine"));
    EXPECT_EQ(server.requests().size(), int(std::size(inside)) + 2);
}

TEST(FetchPage, InternalAddressesByTheirForm) {
    const std::pair<const char*, bool> cases[] = {
        {"127.0.0.2", true},    {"localhost", true},       {"a.localhost", true}, {"10.0.0.1", true},
        {"172.16.5.1", true},   {"172.32.0.1", false},     {"192.168.1.1", true}, {"169.254.1.1", true},
        {"0.0.0.0", true},      {"100.64.0.1", true},      {"[::1]", true},       {"fe80::1", true},
        {"fd00::1", true},      {"::ffff:10.0.0.1", true}, {"8.8.8.8", false},    {"example.com", false},
        {"2a00:1450::1", false}};
    for (const auto& [host, internal] : cases)
        EXPECT_EQ(web::isInternalHost(QString::fromLatin1(host)), internal) << host;
}

TEST(Cookies, KeptOnlyWhenTheirDomainCoversTheHostThatSetThemAndWithinCaps) {
    HttpServer server;
    HttpServer::Reply set = html("set");
    set.headers << QPair<QByteArray, QByteArray>{"Set-Cookie", "own=1; Domain=zentaro.test; Path=/"}
                << QPair<QByteArray, QByteArray>{"Set-Cookie", "foreign=1; Domain=other.test; Path=/"}
                << QPair<QByteArray, QByteArray>{"Set-Cookie", "suffix=1; Domain=com; Path=/"}
                << QPair<QByteArray, QByteArray>{"Set-Cookie", "big=" + QByteArray(5000, 'x') + "; Path=/"};
    for (int i = 0; i < 60; ++i)
        set.headers << QPair<QByteArray, QByteArray>{"Set-Cookie",
                                                     "n" + QByteArray::number(i) + "=1; Path=/"};
    server.on("http://www.zentaro.test/set", set);
    server.on("http://www.zentaro.test/next", html("next"));
    server.on("http://other.test/next", html("other"));
    QNetworkProxy::setApplicationProxy(QNetworkProxy(QNetworkProxy::HttpProxy, "127.0.0.1", server.port()));
    web::PageFetcher fetcher;
    QList<QByteArray> sent;
    for (const char* url :
         {"http://www.zentaro.test/set", "http://www.zentaro.test/next", "http://other.test/next"}) {
        EXPECT_TRUE(fetcher.FetchPage(QString::fromLatin1(url), true).has_value()) << url;
        sent << server.requests().last().headers.value("cookie");
    }
    QNetworkProxy::setApplicationProxy(QNetworkProxy::NoProxy);
    // A page on one loopback address cannot plant cookies for another host.
    HttpServer second(QStringLiteral("127.0.0.2"));
    HttpServer::Reply steer = html("steer");
    steer.headers << QPair<QByteArray, QByteArray>{"Set-Cookie", "steer=1; Domain=localhost; Path=/"};
    second.on("/steer", steer);
    server.on("/next", html("local"));
    EXPECT_TRUE(fetcher.FetchPage(second.url("/steer"), true).has_value());
    EXPECT_TRUE(
        fetcher.FetchPage(QStringLiteral("http://localhost:%1/next").arg(server.port()), true).has_value());
    sent << server.requests().last().headers.value("cookie");
    const QList<QByteArray> own = sent[1].split(';');
    EXPECT_TRUE(own.contains("own=1") || own.contains(" own=1"));
    EXPECT_FALSE(sent[1].contains("foreign") || sent[1].contains("suffix") || sent[1].contains("big="));
    EXPECT_LE(own.size(), 50);
    EXPECT_TRUE(sent[2].isEmpty()) << sent[2].toStdString();
    EXPECT_TRUE(sent[3].isEmpty()) << sent[3].toStdString();
}
