#include "web/page_fetcher.h"

#include <QDateTime>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QHostAddress>
#include <QLocale>
#include <QNetworkAccessManager>
#include <QNetworkCookie>
#include <QNetworkCookieJar>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QSslConfiguration>
#include <QStringDecoder>
#include <QTimer>

#include "db/table.h"
#include "web/page_decoder.h"
#include "web/url_forms.h"

namespace zentaro::web {

namespace {

// The cookies of the run, kept in memory only. A cookie is kept when its domain covers the host that set it
// (the jar's own rule, public suffixes refused), so that one site cannot steer the requests to another; each
// host keeps a bounded number of cookies of bounded size.
class RunCookieJar : public QNetworkCookieJar {
public:
    static constexpr int kMaxPerHost = 50;
    static constexpr int kMaxCookieBytes = 4096;
    using QNetworkCookieJar::QNetworkCookieJar;
    bool setCookiesFromUrl(const QList<QNetworkCookie>& cookies, const QUrl& url) override {
        bool any = false;
        for (const QNetworkCookie& c : cookies) {
            if (c.name().size() + c.value().size() > kMaxCookieBytes) continue;
            QNetworkCookie cookie = c;
            cookie.normalize(url);
            // A cookie for a domain reaches every host of that domain, as in a browser.
            if (!cookie.domain().startsWith(u'.') && cookie.domain() != url.host() &&
                QHostAddress(cookie.domain()).isNull())
                cookie.setDomain(u'.' + cookie.domain());
            if (cookie.path().isEmpty()) cookie.setPath(QStringLiteral("/"));
            if (!validateCookie(cookie, url)) continue;
            if (updateCookie(cookie)) {
                any = true;
                continue;
            }
            if (cookiesForUrl(url).size() >= kMaxPerHost) continue;
            any |= insertCookie(cookie);
        }
        return any;
    }
};

qint64 monotonicMs() {
    static const QElapsedTimer clock = [] {
        QElapsedTimer t;
        t.start();
        return t;
    }();
    return clock.elapsed();
}

// The pause before try number n (1 for the first retry): the base, then three times as long each time, with
// up to a quarter more at random so that many pages of one host do not come back together.
qint64 retryPause(int baseMs, int n) {
    qint64 p = baseMs;
    for (int i = 1; i < n; ++i)
        p *= 3;
    return p + QRandomGenerator::global()->bounded(p / 4 + 1);
}

// Retry-After: seconds, or an HTTP date; no value when absent or unreadable.
std::optional<qint64> retryAfterSec(const QByteArray& header) {
    const QByteArray v = header.trimmed();
    if (v.isEmpty()) return std::nullopt;
    bool ok = false;
    const qint64 sec = v.toLongLong(&ok);
    if (ok) return sec < 0 ? 0 : sec;
    const QDateTime read = QLocale::c().toDateTime(QString::fromLatin1(v).simplified(),
                                                   QStringLiteral("ddd, dd MMM yyyy hh:mm:ss 'GMT'"));
    if (!read.isValid()) return std::nullopt;
    const QDateTime at(read.date(), read.time(), Qt::UTC);
    return std::max<qint64>(0, QDateTime::currentDateTimeUtc().secsTo(at));
}

// A 403 or 503 that is a bot-protection challenge rather than the site's own answer.
bool isChallengePage(const QByteArray& body) {
    static const char* const markers[] = {"cf-chl",
                                          "challenge-platform",
                                          "cf-browser-verification",
                                          "just a moment...",
                                          "checking your browser",
                                          "ddos-guard",
                                          "_incapsula_resource",
                                          "captcha"};
    const QByteArray lower = body.left(64 * 1024).toLower();
    for (const char* m : markers)
        if (lower.contains(m)) return true;
    return false;
}

// Failures that usually pass when tried again.
bool passingStatus(int status) {
    return status == 429 || status == 502 || status == 503 || status == 504;
}

} // namespace

bool isInternalHost(const QString& hostText) {
    QString host = hostText.toLower();
    if (host.startsWith(u'[') && host.endsWith(u']')) host = host.mid(1, host.size() - 2);
    if (host.endsWith(u'.')) host.chop(1);
    if (host == QLatin1String("localhost") || host.endsWith(QLatin1String(".localhost"))) return true;
    QHostAddress a;
    if (!a.setAddress(host)) return false;
    bool v4 = false;
    const quint32 ip = a.toIPv4Address(&v4); // also the IPv4 form of a mapped IPv6 address
    if (v4) {
        const auto in = [ip](quint32 net, int bits) { return (ip >> (32 - bits)) == (net >> (32 - bits)); };
        return in(0x00000000, 8) || in(0x0a000000, 8) || in(0x7f000000, 8) || in(0xa9fe0000, 16) ||
               in(0xac100000, 12) || in(0xc0a80000, 16) || in(0x64400000, 10);
    }
    if (a.isLoopback() || a.isNull() || a == QHostAddress(QHostAddress::AnyIPv6)) return true;
    const Q_IPV6ADDR v6 = a.toIPv6Address();
    return (v6[0] & 0xfe) == 0xfc || (v6[0] == 0xfe && (v6[1] & 0xc0) == 0x80);
}

HostBook::HostBook(int perHost, QObject* parent)
    : QObject(parent), m_perHost(std::clamp(perHost, 1, kClientConnectionsPerHost)) {}

QString HostBook::keyOf(const QUrl& url) {
    const QString scheme = url.scheme().toLower();
    return url.host().toLower() + u':' +
           QString::number(url.port(scheme == QLatin1String("https") ? 443 : 80));
}

bool HostBook::mayStart(const QString& key, const void* who) const {
    const auto it = m_hosts.constFind(key);
    if (it == m_hosts.cend()) return true;
    if (it->down || it->pausedUntil > monotonicMs()) return false;
    if (it->prober && it->prober != who) return false;
    return it->inFlight < m_perHost && (it->cap == 0 || it->sincePause < it->cap);
}

const HostBook::Down* HostBook::down(const QString& key) const {
    const auto it = m_hosts.constFind(key);
    return it != m_hosts.cend() && it->down ? &*it->down : nullptr;
}

int HostBook::started(const QString& key) {
    Host& h = m_hosts[key];
    ++h.inFlight;
    ++h.sincePause;
    return h.epoch;
}

void HostBook::ended(const QString& key, int epoch, bool answered) {
    Host& h = m_hosts[key];
    h.inFlight = std::max(0, h.inFlight - 1);
    if (epoch == h.epoch) h.sincePause = std::max(0, h.sincePause - 1);
    if (answered && h.cap > 0 && ++h.cap >= m_perHost) h.cap = 0;
    // Told after the current signal handler returns, so that a waiting request does not start inside it.
    QMetaObject::invokeMethod(this, &HostBook::changed, Qt::QueuedConnection);
}

void HostBook::pause(const QString& key, qint64 ms, int epoch) {
    Host& h = m_hosts[key];
    h.cap = 1;
    // A request sent before the last pause does not start another: the one request let go since then
    // would otherwise stop counting and another go beside it.
    if (epoch == h.epoch) {
        ++h.epoch;
        h.sincePause = 0;
    }
    h.pausedUntil = std::max(h.pausedUntil, monotonicMs() + ms);
    QTimer::singleShot(int(std::min<qint64>(ms + 1, std::numeric_limits<int>::max())), this,
                       [this] { emit changed(); });
}

bool HostBook::probe(const QString& key, const void* who) {
    Host& h = m_hosts[key];
    if (!h.prober) h.prober = who;
    return h.prober == who;
}

void HostBook::endProbe(const QString& key, const void* who) {
    const auto it = m_hosts.find(key);
    if (it == m_hosts.end() || it->prober != who) return;
    it->prober = nullptr;
    emit changed();
}

void HostBook::markDown(const QString& key, FetchFailure failure, const QString& error) {
    Host& h = m_hosts[key];
    if (!h.down) h.down = Down{failure, error};
    emit changed(); // those waiting for the host fail at once
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
            fetcher.perHost = std::min(int(n), HostBook::kClientConnectionsPerHost);
        else if (name == QLatin1String("net.deadlineSec") && n >= 5 && n <= 3600)
            fetcher.deadlineMs = int(n) * 1000;
        else if (name == QLatin1String("net.retries") && n >= 0 && n <= 5)
            fetcher.retries = int(n);
        else if (name == QLatin1String("net.retryAfterMaxSec") && n >= 0 && n <= 3600)
            fetcher.retryAfterMaxSec = int(n);
    }
}

void applyFetchSettings(PageFetcher& fetcher, const db::Table& sets) {
    QList<QPair<QString, QString>> settings;
    for (int pos = 0; pos < sets.recordCount(); ++pos)
        settings.append({sets.valueAt(pos, 0).toString(), sets.valueAt(pos, 1).toString()});
    applyFetchSettings(fetcher, settings);
}

void PageFetcher::copySettings(const PageFetcher& other) {
    readTimeoutMs = other.readTimeoutMs;
    maxRedirects = other.maxRedirects;
    maxReplyBytes = other.maxReplyBytes;
    hosts = other.hosts;
    maxInFlight = other.maxInFlight;
    perHost = other.perHost;
    deadlineMs = other.deadlineMs;
    retries = other.retries;
    retryPauseMs = other.retryPauseMs;
    retryAfterMaxSec = other.retryAfterMaxSec;
    confirmPauseMs = other.confirmPauseMs;
}

PageFetcher::PageFetcher(QObject* parent) : QObject(parent), m_jar(new RunCookieJar(this)) {}

PageFetcher::~PageFetcher() = default;

PageCall::PageCall(const PageFetcher& settings, QNetworkCookieJar* jar, QNetworkAccessManager* client,
                   const QString& url, bool tls, QObject* parent)
    : QObject(parent), m_jar(jar), m_client(client), m_book(settings.hostBook), m_tls(tls),
      m_timeoutMs(settings.readTimeoutMs), m_deadlineMs(settings.deadlineMs), m_retriesLeft(settings.retries),
      m_retryPauseMs(settings.retryPauseMs), m_retryAfterMaxSec(settings.retryAfterMaxSec),
      m_maxRedirects(settings.maxRedirects), m_hopsLeft(settings.maxRedirects + 1),
      m_cap(settings.maxReplyBytes), m_url(url) {}

PageCall::~PageCall() {
    if (m_reply) {
        disconnect(m_reply, nullptr, this, nullptr);
        m_reply->abort();
        if (m_client) m_reply->deleteLater(); // an own client takes its replies along
    }
    if (m_book && !m_hopKey.isEmpty()) m_book->ended(m_hopKey, m_hopEpoch);
    if (m_book && !m_probeKey.isEmpty()) m_book->endProbe(m_probeKey, this);
}

void PageCall::start() {
    m_target = QUrl::fromUserInput(m_url);
    if (!m_target.isValid() || m_target.host().isEmpty())
        return fail(QStringLiteral("Неверный адрес: %1").arg(m_url), FetchFailure::BadAddress);
    m_start = m_target;
    m_internalStart = isInternalHost(m_target.host());
    hop();
}

void PageCall::abort() {
    if (m_done) return;
    m_aborted = true;
    if (m_reply) {
        m_reply->abort(); // finishes the hop at once, as failed
        return;
    }
    // Waiting for a pause or for the host's turn.
    finishWith(QStringLiteral("Прервано"), FetchFailure::Cancelled, false);
}

void PageCall::fail(const QString& error, FetchFailure why) {
    if (m_done) return;
    if (m_book && !m_probeKey.isEmpty()) m_book->endProbe(std::exchange(m_probeKey, QString()), this);
    if (m_pause) m_pause->stop();
    if (m_deadline) m_deadline->stop();
    if (m_waitingForHost && m_book) disconnect(m_book, &HostBook::changed, this, &PageCall::hop);
    m_waitingForHost = false;
    m_error = error;
    m_info.failure = why;
    if (!m_info.attempts.isEmpty())
        m_error += QStringLiteral(" (попытки: %1)").arg(m_info.attempts.join(QStringLiteral("; ")));
    m_body.reset();
    m_done = true;
    emit finished();
}

void PageCall::finishWith(const QString& error, FetchFailure why, bool noAnswer) {
    // A host that never answered on every try is taken as down for the rest of the run.
    if (noAnswer && m_book && !m_hopKeyOfFailure.isEmpty()) m_book->markDown(m_hopKeyOfFailure, why, error);
    fail(error, why);
}

void PageCall::deadlineHit() {
    if (m_done) return;
    m_deadlinePassed = true;
    if (m_reply) {
        m_reply->abort();
        return;
    }
    fail(QStringLiteral("Запрос не закончен за %1 с").arg(m_deadlineMs / 1000), FetchFailure::Timeout);
}

bool PageCall::retryLater(const QString& reason, qint64 pauseMs) {
    m_info.attempts << reason;
    m_target = m_start;
    m_hopsLeft = m_maxRedirects + 1;
    m_redirected = false;
    if (!m_pause) {
        m_pause = new QTimer(this);
        m_pause->setSingleShot(true);
        m_pause->setTimerType(Qt::PreciseTimer);
        connect(m_pause, &QTimer::timeout, this, &PageCall::hop);
    }
    m_pause->start(int(std::min<qint64>(pauseMs, std::numeric_limits<int>::max())));
    return true;
}

// Redirects are followed here, one request each: also from https to http, up to the limit; never to another
// scheme (a local file, data), which a page could use to make the program read local files, and never from
// a public address into this machine or a private network.
void PageCall::hop() {
    if (m_done || m_reply) return;
    const QString scheme = m_target.scheme().toLower();
    if (scheme != QLatin1String("http") && scheme != QLatin1String("https"))
        return fail(QStringLiteral("Недопустимый адрес: %1").arg(m_target.toString().left(200)),
                    m_redirected ? FetchFailure::BadRedirect : FetchFailure::BadAddress);
    if (!m_tls && m_target.scheme() == QLatin1String("https"))
        return fail(QStringLiteral("Адрес https без TLS"), FetchFailure::BadAddress);
    if (m_redirected && !m_internalStart && isInternalHost(m_target.host()))
        return fail(QStringLiteral("Перенаправление на внутренний адрес: %1").arg(m_target.host().left(200)),
                    FetchFailure::BadRedirect);
    if (m_book) {
        // Each hop waits for its own host's turn: the limits count the host a request really goes to.
        const QString key = HostBook::keyOf(m_target);
        if (const HostBook::Down* down = m_book->down(key)) {
            m_info.attempts.clear();
            return fail(down->error, down->failure);
        }
        if (!m_book->mayStart(key, this)) {
            if (!m_waitingForHost) connect(m_book, &HostBook::changed, this, &PageCall::hop);
            m_waitingForHost = true;
            return;
        }
        if (m_waitingForHost) disconnect(m_book, &HostBook::changed, this, &PageCall::hop);
        m_waitingForHost = false;
        m_hopEpoch = m_book->started(key);
        m_hopKey = key;
    }
    if (m_hopsLeft-- <= 0) {
        if (m_book) m_book->ended(std::exchange(m_hopKey, QString()), m_hopEpoch);
        return fail(QStringLiteral("Слишком много перенаправлений"), FetchFailure::BadRedirect);
    }
    // The whole request has one deadline from its first send, redirects and retries included.
    if (m_deadlineMs > 0 && !m_deadline) {
        m_deadline = new QTimer(this);
        m_deadline->setSingleShot(true);
        m_deadline->setTimerType(Qt::PreciseTimer);
        connect(m_deadline, &QTimer::timeout, this, &PageCall::deadlineHit);
        m_deadline->start(m_deadlineMs);
    }

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
    request.setAttribute(QNetworkRequest::Http2AllowedAttribute, false);
    if (m_tls && m_target.scheme() == QLatin1String("https")) {
        QSslConfiguration ssl = QSslConfiguration::defaultConfiguration();
        ssl.setPeerVerifyMode(QSslSocket::VerifyNone);
        ssl.setPeerVerifyDepth(0);
        request.setSslConfiguration(ssl);
    }
    m_tooLarge = false;
    m_reply = client->get(request);
    m_sentAt = monotonicMs();
    // The read timeout: nothing came for this long. A precise timer of its own, since the client's own
    // timeout is a coarse one that may come half a second late.
    if (m_timeoutMs > 0) {
        if (!m_idle) {
            m_idle = new QTimer(this);
            m_idle->setSingleShot(true);
            m_idle->setTimerType(Qt::PreciseTimer);
            // Data that came meanwhile moves the end on; otherwise the reply ends as the client's own
            // timeout ended it.
            connect(m_idle, &QTimer::timeout, this, [this] {
                if (!m_reply) return;
                const qint64 quiet = monotonicMs() - m_lastRead;
                if (quiet < m_timeoutMs) return m_idle->start(int(m_timeoutMs - quiet));
                m_reply->abort();
            });
        }
        m_lastRead = m_sentAt;
        m_idle->start(m_timeoutMs);
    }
    QNetworkReply* reply = m_reply;
    if (m_tls)
        connect(reply, &QNetworkReply::sslErrors, reply,
                [reply](const QList<QSslError>&) { reply->ignoreSslErrors(); });
    // A reply beyond the cap (as announced, or as buffered so far, decompressed) is cut off and fails.
    connect(reply, &QNetworkReply::downloadProgress, this, [this, reply](qint64, qint64) {
        m_lastRead = monotonicMs();
        checkSize(reply->bytesAvailable());
    });
    connect(reply, &QNetworkReply::readyRead, this, [this] { m_lastRead = monotonicMs(); });
    connect(reply, &QNetworkReply::metaDataChanged, this, [this, reply] {
        m_lastRead = monotonicMs();
        const QVariant length = reply->header(QNetworkRequest::ContentLengthHeader);
        if (length.isValid()) checkSize(length.toLongLong());
    });
    connect(reply, &QNetworkReply::finished, this, &PageCall::hopDone);
}

void PageCall::checkSize(qint64 size) {
    if (m_tooLarge || m_deferred || !m_reply) return;
    if (size > m_cap) {
        m_tooLarge = true;
        m_reply->abort();
        return;
    }
    if (!reserve || size <= m_reserved) return;
    if (reserve(size)) {
        m_reserved = size;
        return;
    }
    m_deferred = true;
    m_reply->abort();
}

void PageCall::hopDone() {
    QNetworkReply* reply = m_reply;
    if (!reply) return;
    if (!m_tooLarge) checkSize(reply->bytesAvailable());
    m_reply = nullptr;
    if (m_idle) m_idle->stop();
    m_hopKeyOfFailure = m_hopKey;
    const int status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    QString error;
    FetchFailure why = FetchFailure::None;
    bool passing = false;  // usually passes when tried again
    bool noAnswer = false; // the host never answered
    std::optional<qint64> waitSec;
    bool challenge = false;
    QUrl location;
    m_info.status = status;
    m_info.finalUrl = m_target.toString();
    m_info.robots = reply->rawHeader("X-Robots-Tag").left(1024);
    if (m_aborted) {
        error = QStringLiteral("Прервано");
        why = FetchFailure::Cancelled;
    } else if (m_deferred) {
        error = QStringLiteral("Отложено");
        why = FetchFailure::Deferred;
    } else if (m_deadlinePassed) {
        error = QStringLiteral("Запрос не закончен за %1 с").arg(m_deadlineMs / 1000);
        why = FetchFailure::Timeout;
    } else if (m_tooLarge) {
        error = QStringLiteral("Ответ больше %1 МБ").arg(m_cap / (1024 * 1024));
        why = FetchFailure::TooLarge;
    } else if (status >= 400) {
        error = QStringLiteral("ответ сервера %1").arg(status);
        why = FetchFailure::Http;
        passing = passingStatus(status);
        if (status == 429 || status == 503) waitSec = retryAfterSec(reply->rawHeader("Retry-After"));
        if ((status == 403 || status == 503) && isChallengePage(reply->read(64 * 1024))) {
            challenge = true;
            error = QStringLiteral("проверка заблокирована защитой сайта (ответ %1)").arg(status);
            why = FetchFailure::Blocked;
        }
    } else if (reply->error() != QNetworkReply::NoError && !(status >= 300 && status < 400)) {
        error = reply->errorString();
        noAnswer = status == 0;
        switch (reply->error()) {
        case QNetworkReply::TimeoutError:
        case QNetworkReply::OperationCanceledError: // the read timeout
            why = FetchFailure::Timeout;
            passing = true;
            break;
        case QNetworkReply::ConnectionRefusedError:
        case QNetworkReply::RemoteHostClosedError: // a reset connection
            why = FetchFailure::Refused;
            passing = true;
            break;
        case QNetworkReply::HostNotFoundError:
            why = FetchFailure::Refused;
            break;
        case QNetworkReply::SslHandshakeFailedError:
        case QNetworkReply::UnknownNetworkError:
            why = reply->url().scheme() == QLatin1String("https") ? FetchFailure::Tls : FetchFailure::Network;
            noAnswer = false;
            break;
        default:
            why = FetchFailure::Network;
            noAnswer = false;
        }
    } else {
        m_body = reply->readAll();
        location = reply->attribute(QNetworkRequest::RedirectionTargetAttribute).toUrl();
        m_contentType = reply->header(QNetworkRequest::ContentTypeHeader).toByteArray();
        // A chunk size that cannot be read ends the body early without an error from the client: a
        // chunked reply that came to nothing is taken as broken.
        if (m_body->isEmpty() && status >= 200 && status < 300 &&
            reply->rawHeader("Transfer-Encoding").toLower().contains("chunked")) {
            error = QStringLiteral("Неверный размер части ответа");
            why = FetchFailure::Network;
        }
    }
    if (m_book && !m_hopKey.isEmpty())
        m_book->ended(std::exchange(m_hopKey, QString()), m_hopEpoch,
                      status > 0 && status != 429 && status != 503 && why != FetchFailure::Blocked);
    if (m_client) reply->deleteLater(); // an own client takes its replies along when the call goes
    // A kept client lets go of the store: the store goes with its fetcher.
    if (m_jar && m_client) m_client->setCookieJar(nullptr);
    if (!error.isEmpty()) {
        m_body.reset();
        if (why == FetchFailure::Cancelled || why == FetchFailure::Deferred) return fail(error, why);
        if (waitSec && *waitSec > m_retryAfterMaxSec) {
            // Longer than a run waits: the host's other pages end with the same answer.
            const QString wait = QStringLiteral("сервер просит подождать %1 с").arg(*waitSec);
            if (m_book) m_book->markDown(m_hopKeyOfFailure, FetchFailure::Throttled, wait);
            return fail(wait, FetchFailure::Throttled);
        }
        if (challenge && !m_challengeRetried) {
            m_challengeRetried = true;
            return (void)retryLater(error, retryPause(m_retryPauseMs, 3));
        }
        if (noAnswer && passing && m_book && !m_deadlinePassed && !m_book->probe(m_hopKeyOfFailure, this)) {
            // Another request is finding out whether the host answers at all: wait for it, no try spent.
            return (void)retryLater(error, 0);
        }
        if (noAnswer && passing && m_book) m_probeKey = m_hopKeyOfFailure;
        if (!noAnswer && m_book && !m_probeKey.isEmpty())
            m_book->endProbe(std::exchange(m_probeKey, QString()), this);
        if (passing && m_retriesLeft > 0 && !m_deadlinePassed) {
            const int n = m_info.attempts.size() + 1;
            --m_retriesLeft;
            // A try that had no answer counts its pause from its send: one that waited out its read timeout
            // has given the host longer than the pause already.
            const qint64 waited = noAnswer || why == FetchFailure::Timeout ? monotonicMs() - m_sentAt : 0;
            const qint64 pause =
                waitSec ? *waitSec * 1000 : std::max<qint64>(0, retryPause(m_retryPauseMs, n) - waited);
            // A host that asked to wait gets nothing new until the pause is over, and one that did not answer
            // nothing until this request finds out; both are fetched one request at a time from now on.
            if (m_book && (noAnswer || status == 429 || status == 503))
                m_book->pause(m_hopKeyOfFailure, noAnswer ? 0 : pause, m_hopEpoch);
            return (void)retryLater(error, pause);
        }
        return finishWith(error, why, noAnswer && passing);
    }
    if (m_book && !m_probeKey.isEmpty()) m_book->endProbe(std::exchange(m_probeKey, QString()), this);
    if (status < 300 || status >= 400) {
        if (m_deadline) m_deadline->stop();
        m_done = true;
        emit finished();
        return;
    }
    m_body.reset();
    if (!location.isValid() || location.isEmpty())
        return fail(QStringLiteral("Перенаправление без адреса"), FetchFailure::BadRedirect);
    m_target = m_target.resolved(location);
    m_redirected = true;
    hop();
}

FetchedPage PageCall::result() const {
    FetchedPage page;
    page.requested = true;
    page.info = m_info;
    if (m_body)
        setPageBody(page, *m_body, m_contentType);
    else
        page.error = m_error;
    return page;
}

std::optional<QByteArray> PageFetcher::fetch(const QString& url, bool tls, QByteArray* contentType) {
    m_lastError.clear();
    m_lastInfo = {};
    if ((cancel && cancel->load()) || (stop && *stop)) {
        m_lastError = QStringLiteral("Прервано");
        m_lastInfo.failure = FetchFailure::Cancelled;
        return std::nullopt;
    }
    PageCall call(*this, m_jar, client, url, tls);
    QEventLoop loop;
    connect(&call, &PageCall::finished, &loop, &QEventLoop::quit);
    // A run that is abandoned cancels its requests from the window's thread; this one looks at the flag.
    QTimer watch;
    if (cancel || stop) {
        connect(&watch, &QTimer::timeout, &call, [&] {
            if ((cancel && cancel->load()) || (stop && *stop)) call.abort();
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
