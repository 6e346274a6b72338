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
#include <QTimer>

#include "db/table.h"
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
        const qint64 n = value.trimmed().toLongLong(&ok);
        if (!ok) continue;
        if (name == QLatin1String("net.maxReplyMB") && n > 0 && n <= 4096)
            fetcher.maxReplyBytes = n * 1024 * 1024;
        else if (name == QLatin1String("net.maxInFlight") && n > 0 && n <= 256)
            fetcher.maxInFlight = int(n);
        else if (name == QLatin1String("net.perHost") && n > 0 && n <= 16)
            fetcher.perHost = int(n);
    }
}

void applyFetchSettings(PageFetcher& fetcher, const db::Table& sets) {
    QList<QPair<QString, QString>> settings;
    for (int pos = 0; pos < sets.recordCount(); ++pos)
        settings.append({sets.valueAt(pos, 0).toString(), sets.valueAt(pos, 1).toString()});
    applyFetchSettings(fetcher, settings);
}

void scanFetchedPage(FetchedPage& page) {
    if (!page.body || page.scan) return;
    PageScan scan;
    scan.lower = lowerText(*page.body);
    scan.elements = ExtractElementRanges(scan.lower, ElementKind::Anchor);
    page.scan = std::move(scan);
    page.body = QString();
}

PageScan pageScanOf(const FetchedPage& page) {
    if (page.scan) return *page.scan;
    PageScan scan;
    if (!page.body) return scan;
    scan.lower = lowerText(*page.body);
    scan.elements = ExtractElementRanges(scan.lower, ElementKind::Anchor);
    return scan;
}

void PageFetcher::copySettings(const PageFetcher& other) {
    readTimeoutMs = other.readTimeoutMs;
    maxRedirects = other.maxRedirects;
    maxReplyBytes = other.maxReplyBytes;
    hosts = other.hosts;
    maxInFlight = other.maxInFlight;
    perHost = other.perHost;
}

PageFetcher::PageFetcher(QObject* parent) : QObject(parent), m_jar(new AcceptAllCookieJar(this)) {}

PageFetcher::~PageFetcher() = default;

PageCall::PageCall(const PageFetcher& settings, QNetworkCookieJar* jar, QNetworkAccessManager* client,
                   const QString& url, bool tls, QObject* parent)
    : QObject(parent), m_jar(jar), m_client(client), m_tls(tls), m_timeoutMs(settings.readTimeoutMs),
      m_hopsLeft(settings.maxRedirects + 1), m_cap(settings.maxReplyBytes), m_url(url) {}

PageCall::~PageCall() {
    if (m_reply) {
        disconnect(m_reply, nullptr, this, nullptr);
        m_reply->abort();
        if (m_client) m_reply->deleteLater(); // an own client takes its replies along
    }
}

void PageCall::start() {
    m_target = QUrl::fromUserInput(m_url);
    if (!m_target.isValid() || m_target.host().isEmpty())
        return fail(QStringLiteral("Неверный адрес: %1").arg(m_url), FetchFailure::BadAddress);
    hop();
}

void PageCall::abort() {
    if (!m_reply) return;
    m_aborted = true;
    m_reply->abort(); // finishes the hop at once, as failed
}

void PageCall::fail(const QString& error, FetchFailure why) {
    m_error = error;
    m_info.failure = why;
    m_done = true;
    emit finished();
}

// Redirects are followed here, one request each: also from https to http, up to the limit; never to another
// scheme (a local file, data), which a page could use to make the program read local files.
void PageCall::hop() {
    if (m_hopsLeft-- <= 0)
        return fail(QStringLiteral("Слишком много перенаправлений"), FetchFailure::BadRedirect);
    const QString scheme = m_target.scheme().toLower();
    if (scheme != QLatin1String("http") && scheme != QLatin1String("https"))
        return fail(QStringLiteral("Недопустимый адрес: %1").arg(m_target.toString().left(200)),
                    m_info.status ? FetchFailure::BadRedirect : FetchFailure::BadAddress);
    if (!m_tls && m_target.scheme() == QLatin1String("https"))
        return fail(QStringLiteral("Адрес https без TLS"), FetchFailure::BadAddress);

    // A client for this request only (unless the call was given one), on the fetcher's cookie store.
    QNetworkAccessManager* client = m_client;
    if (!client) {
        // The clients of earlier hops stay until the call goes: this may run inside their reply's signal.
        m_ownClients.push_back(std::make_unique<QNetworkAccessManager>());
        client = m_ownClients.back().get();
    }
    if (m_jar) {
        QObject* owner = m_jar->parent();
        client->setCookieJar(m_jar);
        m_jar->setParent(owner);
    }
    client->setRedirectPolicy(QNetworkRequest::ManualRedirectPolicy);

    QNetworkRequest request(m_target);
    request.setHeader(QNetworkRequest::UserAgentHeader, PageFetcher::kUserAgent);
    request.setRawHeader("Accept", PageFetcher::kAccept);
    // A fixed language, so that the search engines answer (and their markers read) alike on every system.
    request.setRawHeader("Accept-Language", PageFetcher::kAcceptLanguage);
    request.setTransferTimeout(m_timeoutMs);
    request.setAttribute(QNetworkRequest::Http2AllowedAttribute, false);
    if (m_tls) {
        QSslConfiguration ssl = QSslConfiguration::defaultConfiguration();
        ssl.setPeerVerifyMode(QSslSocket::VerifyNone);
        ssl.setPeerVerifyDepth(0);
        request.setSslConfiguration(ssl);
    }
    m_tooLarge = false;
    m_reply = client->get(request);
    QNetworkReply* reply = m_reply;
    if (m_tls)
        connect(reply, &QNetworkReply::sslErrors, reply,
                [reply](const QList<QSslError>&) { reply->ignoreSslErrors(); });
    // A reply beyond the cap (as announced, or as buffered so far, decompressed) is cut off and fails.
    connect(reply, &QNetworkReply::downloadProgress, this,
            [this, reply](qint64, qint64) { checkSize(reply->bytesAvailable()); });
    connect(reply, &QNetworkReply::metaDataChanged, this, [this, reply] {
        const QVariant length = reply->header(QNetworkRequest::ContentLengthHeader);
        if (length.isValid()) checkSize(length.toLongLong());
    });
    connect(reply, &QNetworkReply::finished, this, &PageCall::hopDone);
}

void PageCall::checkSize(qint64 size) {
    if (m_tooLarge || size <= m_cap || !m_reply) return;
    m_tooLarge = true;
    m_reply->abort();
}

void PageCall::hopDone() {
    QNetworkReply* reply = m_reply;
    if (!reply) return;
    if (!m_tooLarge) checkSize(reply->bytesAvailable());
    m_reply = nullptr;
    const int status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    QString error;
    FetchFailure why = FetchFailure::None;
    QUrl location;
    m_info.status = status;
    m_info.finalUrl = m_target.toString();
    m_info.robots = reply->rawHeader("X-Robots-Tag").left(1024);
    if (m_aborted) {
        error = QStringLiteral("Прервано");
        why = FetchFailure::Cancelled;
    } else if (m_tooLarge) {
        error = QStringLiteral("Ответ больше %1 МБ").arg(m_cap / (1024 * 1024));
        why = FetchFailure::TooLarge;
    } else if (status >= 400) {
        error = QStringLiteral("ответ сервера %1").arg(status);
        why = FetchFailure::Http;
    } else if (reply->error() != QNetworkReply::NoError && !(status >= 300 && status < 400)) {
        error = reply->errorString();
        switch (reply->error()) {
        case QNetworkReply::TimeoutError:
        case QNetworkReply::OperationCanceledError: // the transfer timeout
            why = FetchFailure::Timeout;
            break;
        case QNetworkReply::ConnectionRefusedError:
        case QNetworkReply::HostNotFoundError:
        case QNetworkReply::RemoteHostClosedError:
            why = FetchFailure::Refused;
            break;
        case QNetworkReply::SslHandshakeFailedError:
        case QNetworkReply::UnknownNetworkError:
            why = reply->url().scheme() == QLatin1String("https") ? FetchFailure::Tls : FetchFailure::Network;
            break;
        default:
            why = FetchFailure::Network;
        }
    } else {
        m_body = reply->readAll();
        location = reply->attribute(QNetworkRequest::RedirectionTargetAttribute).toUrl();
        m_contentType = reply->header(QNetworkRequest::ContentTypeHeader).toByteArray();
    }
    if (m_client) reply->deleteLater(); // an own client takes its replies along when the call goes
    // A kept client lets go of the store: the store goes with its fetcher.
    if (m_jar && m_client) m_client->setCookieJar(nullptr);
    if (!error.isEmpty()) {
        m_body.reset();
        return fail(error, why);
    }
    if (status < 300 || status >= 400) {
        m_done = true;
        emit finished();
        return;
    }
    m_body.reset();
    if (!location.isValid() || location.isEmpty())
        return fail(QStringLiteral("Перенаправление без адреса"), FetchFailure::BadRedirect);
    m_target = m_target.resolved(location);
    hop();
}

FetchedPage PageCall::result() const {
    FetchedPage page;
    page.requested = true;
    page.info = m_info;
    if (m_body)
        page.body = decodeReply(*m_body, m_contentType);
    else
        page.error = m_error;
    return page;
}

std::optional<QByteArray> PageFetcher::fetch(const QString& url, bool tls, QByteArray* contentType) {
    m_lastError.clear();
    m_lastInfo = {};
    if (cancel && cancel->load()) {
        m_lastError = QStringLiteral("Прервано");
        m_lastInfo.failure = FetchFailure::Cancelled;
        return std::nullopt;
    }
    PageCall call(*this, m_jar, client, url, tls);
    QEventLoop loop;
    connect(&call, &PageCall::finished, &loop, &QEventLoop::quit);
    // A run that is abandoned cancels its requests from the window's thread; this one looks at the flag.
    QTimer watch;
    if (cancel) {
        connect(&watch, &QTimer::timeout, &call, [&] {
            if (cancel->load()) call.abort();
        });
        watch.start(10);
    }
    call.start();
    if (!call.done()) loop.exec(QEventLoop::ExcludeUserInputEvents);
    m_lastInfo = call.info();
    if (!call.body()) {
        m_lastError = call.error();
        return std::nullopt;
    }
    if (contentType) *contentType = call.contentType();
    return call.body();
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
