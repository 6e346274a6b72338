#include "web/page_fetcher.h"

#include <QEventLoop>
#include <QFile>
#include <QNetworkAccessManager>
#include <QNetworkCookie>
#include <QNetworkCookieJar>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QRegularExpression>
#include <QSslConfiguration>
#include <QStringDecoder>

#include "web/url_forms.h"

namespace zentaro::web {

namespace {

// Every cookie offered by a reply is accepted and kept in memory for the run.
class AcceptAllCookieJar : public QNetworkCookieJar {
public:
    using QNetworkCookieJar::QNetworkCookieJar;
    bool setCookiesFromUrl(const QList<QNetworkCookie>& cookies, const QUrl& url) override {
        bool any = false;
        for (const QNetworkCookie& c : cookies) {
            QNetworkCookie cookie = c;
            // A cookie for a domain reaches every host of that domain, as in a browser.
            if (cookie.domain().isEmpty())
                cookie.setDomain(url.host());
            else if (!cookie.domain().startsWith(u'.'))
                cookie.setDomain(u'.' + cookie.domain());
            if (cookie.path().isEmpty()) cookie.setPath(QStringLiteral("/"));
            any |= insertCookie(cookie) || updateCookie(cookie);
        }
        return any;
    }
};

QByteArray charsetOf(const QByteArray& contentType) {
    static const QRegularExpression re(QStringLiteral("charset\\s*=\\s*[\"']?([A-Za-z0-9_\\-:.]+)"),
                                       QRegularExpression::CaseInsensitiveOption);
    const auto m = re.match(QString::fromLatin1(contentType));
    return m.hasMatch() ? m.captured(1).toLatin1() : QByteArray();
}

} // namespace

QString decodeReply(const QByteArray& body, const QByteArray& contentType) {
    QByteArray charset = charsetOf(contentType);
    if (charset.isEmpty()) {
        // <meta charset="..."> or <meta http-equiv="Content-Type" content="text/html; charset=...">
        const QByteArray head = body.left(4096);
        static const QRegularExpression meta(
            QStringLiteral("<meta[^>]*charset\\s*=\\s*[\"']?([A-Za-z0-9_\\-:.]+)"),
            QRegularExpression::CaseInsensitiveOption);
        const auto m = meta.match(QString::fromLatin1(head));
        if (m.hasMatch()) charset = m.captured(1).toLatin1();
    }
    QString text;
    if (!charset.isEmpty() && decodeCharset(body, charset, text)) return text;
    QStringDecoder utf8(QStringDecoder::Utf8);
    text = utf8.decode(body);
    if (!utf8.hasError()) return text;
    if (decodeCharset(body, "CP1251", text)) return text;
    return QString::fromLatin1(body);
}

void applyHostSettings(ServiceHosts& hosts, const QList<QPair<QString, QString>>& settings) {
    const QList<QPair<QString, QString*>> keys = {
        {QStringLiteral("host.yandexToolbar"), &hosts.yandexToolbar},
        {QStringLiteral("host.googleToolbar"), &hosts.googleToolbar},
        {QStringLiteral("host.yandexSearch"), &hosts.yandexSearch},
        {QStringLiteral("host.yandexCaptcha"), &hosts.yandexCaptcha},
        {QStringLiteral("host.googleSearch"), &hosts.googleSearch},
        {QStringLiteral("host.mailSearch"), &hosts.mailSearch}};
    for (const auto& [name, value] : settings)
        for (const auto& [key, target] : keys)
            if (name == key && !value.trimmed().isEmpty()) *target = value.trimmed();
}

void applyFetchSettings(PageFetcher& fetcher, const QList<QPair<QString, QString>>& settings) {
    applyHostSettings(fetcher.hosts, settings);
    for (const auto& [name, value] : settings) {
        bool ok = false;
        const qint64 mb = value.trimmed().toLongLong(&ok);
        if (name == QLatin1String("net.maxReplyMB") && ok && mb > 0 && mb <= 4096)
            fetcher.maxReplyBytes = mb * 1024 * 1024;
    }
}

PageFetcher::PageFetcher(QObject* parent) : QObject(parent), m_jar(new AcceptAllCookieJar(this)) {}

PageFetcher::~PageFetcher() = default;

std::optional<QByteArray> PageFetcher::fetch(const QString& url, bool tls, QByteArray* contentType) {
    m_lastError.clear();
    QUrl target = QUrl::fromUserInput(url);
    if (!target.isValid() || target.host().isEmpty()) {
        m_lastError = QStringLiteral("Неверный адрес: %1").arg(url);
        return std::nullopt;
    }
    // Redirects are followed here, one request each: also from https to http, up to the limit; never to
    // another scheme (a local file, data), which a page could use to make the program read local files.
    for (int hop = 0; hop <= maxRedirects; ++hop) {
        const QString scheme = target.scheme().toLower();
        if (scheme != QLatin1String("http") && scheme != QLatin1String("https")) {
            m_lastError = QStringLiteral("Недопустимый адрес: %1").arg(target.toString().left(200));
            return std::nullopt;
        }
        if (!tls && target.scheme() == QLatin1String("https")) {
            m_lastError = QStringLiteral("Адрес https без TLS");
            return std::nullopt;
        }
        int status = 0;
        QUrl location;
        std::optional<QByteArray> body = request(target, tls, contentType, &status, &location);
        if (!body) return std::nullopt;
        if (status < 300 || status >= 400) return body;
        if (!location.isValid() || location.isEmpty()) {
            m_lastError = QStringLiteral("Перенаправление без адреса");
            return std::nullopt;
        }
        target = target.resolved(location);
    }
    m_lastError = QStringLiteral("Слишком много перенаправлений");
    return std::nullopt;
}

std::optional<QByteArray> PageFetcher::request(const QUrl& target, bool tls, QByteArray* contentType,
                                               int* status, QUrl* location) {
    // A client for this request only, on the shared cookie store.
    QNetworkAccessManager client;
    client.setCookieJar(m_jar);
    m_jar->setParent(this);
    client.setRedirectPolicy(QNetworkRequest::ManualRedirectPolicy);

    QNetworkRequest request(target);
    request.setHeader(QNetworkRequest::UserAgentHeader, kUserAgent);
    request.setRawHeader("Accept", kAccept);
    // A fixed language, so that the search engines answer (and their markers read) alike on every system.
    request.setRawHeader("Accept-Language", kAcceptLanguage);
    request.setTransferTimeout(readTimeoutMs);
    request.setAttribute(QNetworkRequest::Http2AllowedAttribute, false);
    if (tls) {
        QSslConfiguration ssl = QSslConfiguration::defaultConfiguration();
        ssl.setPeerVerifyMode(QSslSocket::VerifyNone);
        ssl.setPeerVerifyDepth(0);
        request.setSslConfiguration(ssl);
    }
    QNetworkReply* reply = client.get(request);
    if (tls)
        connect(reply, &QNetworkReply::sslErrors, reply,
                [reply](const QList<QSslError>&) { reply->ignoreSslErrors(); });
    // A reply beyond the cap (as announced, or as buffered so far, decompressed) is cut off and fails.
    bool tooLarge = false;
    auto checkSize = [&](qint64 size) {
        if (tooLarge || size <= maxReplyBytes) return;
        tooLarge = true;
        reply->abort();
    };
    connect(reply, &QNetworkReply::downloadProgress, reply,
            [&](qint64, qint64) { checkSize(reply->bytesAvailable()); });
    connect(reply, &QNetworkReply::metaDataChanged, reply, [&] {
        const QVariant length = reply->header(QNetworkRequest::ContentLengthHeader);
        if (length.isValid()) checkSize(length.toLongLong());
    });
    QEventLoop loop;
    connect(reply, &QNetworkReply::finished, &loop, &QEventLoop::quit);
    if (!reply->isFinished()) loop.exec(QEventLoop::ExcludeUserInputEvents);
    if (!tooLarge) checkSize(reply->bytesAvailable());
    *status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    std::optional<QByteArray> body;
    if (tooLarge) {
        m_lastError = QStringLiteral("Ответ больше %1 МБ").arg(maxReplyBytes / (1024 * 1024));
    } else if (*status >= 400) {
        m_lastError = QStringLiteral("ответ сервера %1").arg(*status);
    } else if (reply->error() != QNetworkReply::NoError && !(*status >= 300 && *status < 400)) {
        m_lastError = reply->errorString();
    } else {
        body = reply->readAll();
        *location = reply->attribute(QNetworkRequest::RedirectionTargetAttribute).toUrl();
        if (contentType) *contentType = reply->header(QNetworkRequest::ContentTypeHeader).toByteArray();
    }
    delete reply;
    return body;
}

std::optional<QString> PageFetcher::FetchPage(const QString& url, bool tls) {
    QByteArray contentType;
    const std::optional<QByteArray> body = fetch(url, tls, &contentType);
    if (!body) return std::nullopt;
    return decodeReply(*body, contentType);
}

bool PageFetcher::FetchPageToFile(const QString& url, bool tls, const QString& fileName) {
    const std::optional<QByteArray> body = fetch(url, tls, nullptr);
    if (!body) return false;
    QFile f(fileName);
    if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate)) return false;
    return f.write(*body) == body->size();
}

} // namespace zentaro::web
