#include <gtest/gtest.h>

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
    ASSERT_TRUE(fetcher.FetchPageToFile(server.url("/image"), true, file));
    QFile f(file);
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    EXPECT_EQ(f.readAll(), gif.body);
    EXPECT_FALSE(fetcher.FetchPageToFile(server.url("/nothing"), true, dir.filePath("x.gif")));
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
    EXPECT_FALSE(fetcher.FetchPageToFile(server.url("/file"), true, dir.path() + "/copy"));
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
