// The page request: redirects, retries, size and address limits, and the client that waits for it.
#include "web/page_fetcher.h"

#include <QDateTime>
#include <QEventLoop>
#include <QFile>
#include <QHostAddress>
#include <QLocale>
#include <QNetworkCookie>
#include <QNetworkCookieJar>
#include <QNetworkProxy>
#include <QRandomGenerator>
#include <QTimer>
#include <QTimerEvent>

#include <arpa/inet.h>
#include <curl/curl.h>
#include <netinet/in.h>

#include "db/table.h"
#include "web/cookie_jar.h"
#include "web/page_decoder.h"
#include "web/url_forms.h"

namespace zentaro::web {

namespace {

QByteArray proxyText(const QNetworkProxy& proxy) {
    if (proxy.type() == QNetworkProxy::HttpProxy)
        return "http://" + proxy.hostName().toUtf8() + ':' + QByteArray::number(proxy.port());
    if (proxy.type() == QNetworkProxy::Socks5Proxy)
        return "socks5h://" + proxy.hostName().toUtf8() + ':' + QByteArray::number(proxy.port());
    return QByteArray();
}

// The proxy a request to the address goes through, as the application's network settings say (empty:
// none; the environment's proxy variables count only through them). The system's settings are slow to ask
// (a thread of their own), so their answer is kept a minute per scheme and host; a proxy the program sets
// itself is read each time.
QByteArray proxyFor(const QUrl& url) {
    const QString host = url.host();
    QHostAddress address;
    if (host == QLatin1String("localhost") || (address.setAddress(host) && address.isLoopback()))
        return QByteArray();
    if (!QNetworkProxyFactory::usesSystemConfiguration()) return proxyText(QNetworkProxy::applicationProxy());
    struct Kept {
        QByteArray proxy;
        qint64 at = 0;
    };
    thread_local QHash<QString, Kept> kept;
    const QString key = url.scheme() + u':' + host;
    const qint64 now = monotonicMs();
    auto it = kept.find(key);
    if (it == kept.end() || now - it->at > 60000) {
        if (kept.size() > 4096) kept.clear();
        const QList<QNetworkProxy> proxies = QNetworkProxyFactory::proxyForQuery(QNetworkProxyQuery(url));
        it = kept.insert(key, {proxies.isEmpty() ? QByteArray() : proxyText(proxies.first()), now});
    }
    return it->proxy;
}

// The start of an error page that is read (a bot challenge shows there).
constexpr qsizetype kErrorBodyBytes = 64 * 1024;

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
    quickTimeoutFloorMs = other.quickTimeoutFloorMs;
    resolve = other.resolve;
    internalAddress = other.internalAddress;
}

PageFetcher::PageFetcher(QObject* parent) : QObject(parent), m_jar(new RunCookieJar(this)) {}

PageFetcher::~PageFetcher() = default;

PageCall::PageCall(const PageFetcher& settings, QNetworkCookieJar* jar, const QString& url, bool tls,
                   QObject* parent)
    : QObject(parent), m_jar(jar ? jar : settings.cookieJar()), m_client(CurlClient::forThread()),
      m_resolve(settings.resolve), m_internalAddress(settings.internalAddress), m_book(settings.hostBook),
      m_quickFloorMs(settings.quickTimeoutFloorMs), m_tls(tls), m_timeoutMs(settings.readTimeoutMs),
      m_deadlineMs(settings.deadlineMs), m_retriesLeft(settings.retries),
      m_retryPauseMs(settings.retryPauseMs), m_retryAfterMaxSec(settings.retryAfterMaxSec),
      m_maxRedirects(settings.maxRedirects), m_hopsLeft(settings.maxRedirects + 1),
      m_cap(settings.maxReplyBytes), m_url(url) {}

PageCall::~PageCall() {
    if (m_easy) m_client.release(std::exchange(m_easy, nullptr));
    if (m_book && !m_hopKey.isEmpty()) m_book->ended(m_hopKey, m_hopEpoch);
    if (m_book && !m_probeKey.isEmpty()) m_book->endProbe(m_probeKey, this);
}

void PageCall::start() {
    // An address with its scheme is read as it stands; the user-input reading (which also looks for a local
    // file of that name) only for one without.
    const QString address = m_url.trimmed();
    m_target = address.contains(QLatin1String("://")) ? QUrl(address, QUrl::TolerantMode)
                                                      : QUrl::fromUserInput(address);
    if (!m_target.isValid() || m_target.host().isEmpty())
        return fail(QStringLiteral("Неверный адрес: %1").arg(m_url), FetchFailure::BadAddress);
    m_start = m_target;
    m_internalStart = isInternalHost(m_target.host());
    hop();
}

// Ends the hop's transfer now and reports it as its flags say (aborted, deferred, past the deadline, cut by
// the read timeout).
void PageCall::stopTransfer() {
    if (!m_easy) return;
    m_client.release(std::exchange(m_easy, nullptr));
    if (!m_client.busy()) return hopEnded(CURLE_ABORTED_BY_CALLBACK);
    // Asked from inside libcurl (a callback of this very call): told once libcurl has returned, so that
    // whoever hears of the end may delete the call or start another request.
    m_stopping = true;
    QTimer::singleShot(0, this, [this] {
        m_stopping = false;
        hopEnded(CURLE_ABORTED_BY_CALLBACK);
    });
}

void PageCall::abort() {
    if (m_done) return;
    m_aborted = true;
    if (m_stopping) return;
    if (m_easy) return stopTransfer(); // finishes the hop at once, as failed
    // Waiting for a pause or for the host's turn.
    finishWith(QStringLiteral("Прервано"), FetchFailure::Cancelled, false);
}

void PageCall::fail(const QString& error, FetchFailure why) {
    if (m_done) return;
    if (m_book && !m_probeKey.isEmpty()) m_book->endProbe(std::exchange(m_probeKey, QString()), this);
    m_pause.stop();
    m_deadline.stop();
    m_idle.stop();
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
    if (m_stopping) return;
    if (m_easy) return stopTransfer();
    fail(QStringLiteral("Запрос не закончен за %1 с").arg(m_deadlineMs / 1000), FetchFailure::Timeout);
}

bool PageCall::retryLater(const QString& reason, qint64 pauseMs) {
    m_info.attempts << reason;
    m_info.hops.clear();
    m_target = m_start;
    m_hopsLeft = m_maxRedirects + 1;
    m_redirected = false;
    m_pause.start(int(std::min<qint64>(pauseMs, std::numeric_limits<int>::max())), Qt::PreciseTimer, this);
    return true;
}

// Redirects are followed here, one request each: also from https to http, up to the limit; never to another
// scheme (a local file, data), which a page could use to make the program read local files, and never from
// a public address into this machine or a private network (by the address's form, and by the address
// actually connected to).
void PageCall::hop() {
    if (m_done || m_easy || m_stopping) return;
    const QString scheme = m_target.scheme().toLower();
    if (scheme != QLatin1String("http") && scheme != QLatin1String("https"))
        return fail(QStringLiteral("Недопустимый адрес: %1").arg(m_target.toString().left(200)),
                    m_redirected ? FetchFailure::BadRedirect : FetchFailure::BadAddress);
    if (!m_tls && scheme == QLatin1String("https"))
        return fail(QStringLiteral("Адрес https без TLS"), FetchFailure::BadAddress);
    if (m_redirected && !m_internalStart && isInternalHost(m_target.host()))
        return fail(QStringLiteral("Перенаправление на внутренний адрес: %1").arg(m_target.host().left(200)),
                    FetchFailure::BadRedirect);
    m_hopTimeoutMs = m_timeoutMs;
    m_quick = m_firstTry = false;
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
        // A first try waits only as long as the host has shown it needs (looked at again while it waits, as
        // the host's other requests answer); a retry waits the full time.
        m_firstTry = m_info.attempts.isEmpty() && m_timeoutMs > 0;
        if (m_firstTry) {
            m_hopTimeoutMs = m_book->firstTryTimeoutMs(key, m_timeoutMs, m_quickFloorMs);
            m_quick = m_hopTimeoutMs < m_timeoutMs;
        }
    }
    if (m_hopsLeft-- <= 0) {
        if (m_book) m_book->ended(std::exchange(m_hopKey, QString()), m_hopEpoch);
        return fail(QStringLiteral("Слишком много перенаправлений"), FetchFailure::BadRedirect);
    }
    // The whole request has one deadline from its first send, redirects and retries included.
    if (m_deadlineMs > 0 && !m_deadlineStarted) {
        m_deadlineStarted = true;
        m_deadline.start(m_deadlineMs, Qt::PreciseTimer, this);
    }

    QList<QByteArray> headers = {"Accept: " + PageFetcher::kAccept,
                                 // A fixed language, so that the search engines answer (and their markers
                                 // read) alike on every system.
                                 "Accept-Language: " + PageFetcher::kAcceptLanguage};
    if (m_jar) {
        const QList<QNetworkCookie> cookies = m_jar->cookiesForUrl(m_target);
        if (!cookies.isEmpty()) {
            QByteArray line = "Cookie: ";
            for (qsizetype i = 0; i < cookies.size(); ++i)
                line += (i ? "; " : "") + cookies[i].toRawForm(QNetworkCookie::NameAndValueOnly);
            headers << line;
        }
    }
    m_status = 0;
    m_headersDone = m_errorBodyFull = m_internalRefused = m_checkedPeer = false;
    m_idleCut = m_tooLarge = false;
    m_location.clear();
    m_retryAfter.clear();
    m_robots.clear();
    m_contentType.clear();
    m_setCookies.clear();
    m_data.clear();
    m_longestWait = 0;

    m_easy = m_client.newHandle(this, headers, m_resolve);
    CURL* e = static_cast<CURL*>(m_easy);
    curl_easy_setopt(e, CURLOPT_URL, m_target.toEncoded().constData());
    curl_easy_setopt(e, CURLOPT_USERAGENT, PageFetcher::kUserAgent.constData());
    m_proxy = proxyFor(m_target);
    curl_easy_setopt(e, CURLOPT_PROXY, m_proxy.constData());
    m_sentAt = monotonicMs();
    m_lastRead = m_sentAt;
    // The read timeout: nothing came for this long. A precise timer of its own, moved on by data as it comes.
    if (m_hopTimeoutMs > 0) m_idle.start(nextIdleCheck(0), Qt::PreciseTimer, this);
    m_client.start(m_easy);
}

// When the read timeout is next looked at: at its end, or within a second for a first try, whose timeout
// may shorten meanwhile.
int PageCall::nextIdleCheck(qint64 quiet) const {
    const qint64 left = m_hopTimeoutMs - quiet;
    return int(m_firstTry && m_book ? std::min<qint64>(left, kFirstTryRecheckMs) : left);
}

void PageCall::timerEvent(QTimerEvent* event) {
    const int id = event->timerId();
    if (id == m_pause.timerId()) {
        m_pause.stop();
        hop();
    } else if (id == m_deadline.timerId()) {
        m_deadline.stop();
        deadlineHit();
    } else if (id == m_idle.timerId()) {
        m_idle.stop();
        if (!m_easy) return;
        if (m_firstTry && m_book && !m_hopKey.isEmpty()) {
            m_hopTimeoutMs =
                std::min(m_hopTimeoutMs, m_book->firstTryTimeoutMs(m_hopKey, m_timeoutMs, m_quickFloorMs));
            m_quick = m_hopTimeoutMs < m_timeoutMs;
        }
        const qint64 quiet = monotonicMs() - m_lastRead;
        if (quiet < m_hopTimeoutMs) return m_idle.start(nextIdleCheck(quiet), Qt::PreciseTimer, this);
        m_idleCut = true;
        stopTransfer();
    } else {
        QObject::timerEvent(event);
    }
}

// A reply beyond the cap (as announced, or as it comes, decompressed) is cut off and fails; beyond the memory
// given so far the call asks for more, and is given up when refused. False ends the transfer.
bool PageCall::checkSize(qint64 size) {
    if (size > m_cap) {
        m_tooLarge = true;
        return false;
    }
    if (!reserve || size <= m_reserved) return true;
    if (reserve(size)) {
        m_reserved = size;
        return true;
    }
    m_deferred = true;
    return false;
}

bool PageCall::connectedTo(const QString& address) {
    if (!m_proxy.isEmpty()) return true; // the connection is the proxy's, the address its to find
    if (!m_redirected) {
        // A start whose name leads inside (an intranet site) may redirect within.
        if (m_internalAddress(address)) m_internalStart = true;
        return true;
    }
    if (m_internalStart || !m_internalAddress(address)) return true;
    m_internalRefused = true;
    return false;
}

bool PageCall::mayConnect(const sockaddr* address) {
    char text[INET6_ADDRSTRLEN] = {};
    if (address->sa_family == AF_INET)
        inet_ntop(AF_INET, &reinterpret_cast<const sockaddr_in*>(address)->sin_addr, text, sizeof text);
    else if (address->sa_family == AF_INET6)
        inet_ntop(AF_INET6, &reinterpret_cast<const sockaddr_in6*>(address)->sin6_addr, text, sizeof text);
    else
        return m_proxy.isEmpty() ? false : true;
    m_checkedPeer = true;
    return connectedTo(QString::fromLatin1(text));
}

bool PageCall::onHeader(const char* line, size_t size) {
    const qint64 now = monotonicMs();
    m_longestWait = std::max(m_longestWait, now - m_lastRead);
    m_lastRead = now;
    const QByteArrayView h = QByteArrayView(line, qsizetype(size)).trimmed();
    if (h.startsWith("HTTP/")) {
        // A new answer (after a 1xx, or a proxy's): its headers replace the last ones.
        const qsizetype space = h.indexOf(' ');
        m_status = space < 0 ? 0 : h.sliced(space + 1, std::min<qsizetype>(3, h.size() - space - 1)).toInt();
        m_headersDone = false;
        m_location.clear();
        m_retryAfter.clear();
        m_robots.clear();
        m_contentType.clear();
        m_setCookies.clear();
        if (!m_checkedPeer) {
            // A connection reused from an earlier request was not looked at when it was made.
            char* ip = nullptr;
            curl_easy_getinfo(static_cast<CURL*>(m_easy), CURLINFO_PRIMARY_IP, &ip);
            m_checkedPeer = true;
            if (ip && *ip && !connectedTo(QString::fromLatin1(ip))) return false;
        }
        return true;
    }
    if (h.isEmpty()) {
        if (m_status >= 100 && m_status < 200) return true;
        m_headersDone = true;
        if (m_jar && !m_setCookies.isEmpty()) {
            QList<QNetworkCookie> cookies;
            for (const QByteArray& c : std::as_const(m_setCookies))
                cookies << QNetworkCookie::parseCookies(c);
            m_jar->setCookiesFromUrl(cookies, m_target);
        }
        curl_off_t length = -1;
        curl_easy_getinfo(static_cast<CURL*>(m_easy), CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &length);
        if (m_status < 200 || m_status >= 300 || length <= 0) return true;
        if (!checkSize(length)) return false;
        // Room for the announced body at once (within the cap), not grown piece by piece.
        m_data.reserve(qsizetype(length));
        return true;
    }
    // Only the few headers read are copied: a real site's answer carries many more.
    const qsizetype colon = h.indexOf(':');
    if (colon <= 0) return true;
    const QByteArrayView name = h.first(colon).trimmed();
    const QByteArrayView value = h.sliced(colon + 1).trimmed();
    const auto head = [value](qsizetype n) { return value.first(std::min(n, value.size())).toByteArray(); };
    const auto is = [name](QByteArrayView n) { return name.compare(n, Qt::CaseInsensitive) == 0; };
    if (is("content-type"))
        m_contentType = head(1024);
    else if (is("location"))
        m_location = head(8192);
    else if (is("retry-after"))
        m_retryAfter = head(128);
    else if (is("x-robots-tag"))
        m_robots = (m_robots.isEmpty() ? head(1024) : m_robots + ", " + head(1024)).left(1024);
    else if (is("set-cookie") && m_setCookies.size() < RunCookieJar::kMaxPerReply)
        m_setCookies << head(RunCookieJar::kMaxCookieBytes + 1024);
    return true;
}

bool PageCall::onData(const char* data, size_t size) {
    const qint64 now = monotonicMs();
    m_longestWait = std::max(m_longestWait, now - m_lastRead);
    m_lastRead = now;
    if (m_status < 200 || m_status >= 300) {
        // Only the start of an error page is read (a bot challenge shows there); redirects need no body.
        const qsizetype room = kErrorBodyBytes - m_data.size();
        m_data.append(data, std::min<qsizetype>(room, qsizetype(size)));
        if (m_data.size() < kErrorBodyBytes) return true;
        m_errorBodyFull = true;
        return false;
    }
    const qint64 total = m_data.size() + qint64(size);
    if (!checkSize(total)) return false;
    m_data.append(data, qsizetype(size));
    return true;
}

void PageCall::onDone(void* easy, int code) {
    if (easy != m_easy) return;
    m_easy = nullptr;
    hopEnded(code);
}

void PageCall::hopEnded(int code) {
    m_idle.stop();
    m_hopKeyOfFailure = m_hopKey;
    const int status = m_headersDone ? m_status : 0;
    QString error;
    FetchFailure why = FetchFailure::None;
    bool passing = false;  // usually passes when tried again
    bool noAnswer = false; // the host never answered
    std::optional<qint64> waitSec;
    bool challenge = false;
    bool quickCut = false;
    m_info.status = status;
    m_info.finalUrl = m_target.toString();
    m_info.robots = m_robots;
    m_info.contentType = m_contentType;
    const auto connectionLost = [status](int c) {
        return c == CURLE_RECV_ERROR || c == CURLE_SEND_ERROR || c == CURLE_GOT_NOTHING ||
               c == CURLE_PARTIAL_FILE || c == CURLE_HTTP2 || c == CURLE_HTTP2_STREAM ||
               (c == CURLE_WRITE_ERROR && status == 0);
    };
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
    } else if (m_internalRefused) {
        error = QStringLiteral("Перенаправление на внутренний адрес: %1").arg(m_target.host().left(200));
        why = FetchFailure::BadRedirect;
    } else if (m_idleCut) {
        quickCut = m_quick;
        error = QStringLiteral("нет ответа за %1 с").arg(QString::number(m_hopTimeoutMs / 1000.0, 'g', 3));
        why = FetchFailure::Timeout;
        passing = true;
        noAnswer = status == 0;
    } else if (status >= 400 && (code == CURLE_OK || m_errorBodyFull)) {
        error = QStringLiteral("ответ сервера %1").arg(status);
        why = FetchFailure::Http;
        passing = passingStatus(status);
        if (status == 429 || status == 503) waitSec = retryAfterSec(m_retryAfter);
        if ((status == 403 || status == 503) && isChallengePage(m_data)) {
            challenge = true;
            error = QStringLiteral("проверка заблокирована защитой сайта (ответ %1)").arg(status);
            why = FetchFailure::Blocked;
        }
    } else if (code != CURLE_OK && !(status >= 300 && status < 400 && m_errorBodyFull)) {
        noAnswer = status == 0;
        switch (code) {
        case CURLE_OPERATION_TIMEDOUT:
            error = QStringLiteral("нет ответа");
            why = FetchFailure::Timeout;
            passing = true;
            break;
        case CURLE_COULDNT_CONNECT:
            error = QStringLiteral("соединение не принято");
            why = FetchFailure::Refused;
            passing = true;
            break;
        case CURLE_COULDNT_RESOLVE_HOST:
        case CURLE_COULDNT_RESOLVE_PROXY:
            error = QStringLiteral("адрес сайта не найден");
            why = FetchFailure::Refused;
            break;
        case CURLE_SSL_CONNECT_ERROR:
        case CURLE_SSL_CERTPROBLEM:
        case CURLE_SSL_CIPHER:
        case CURLE_PEER_FAILED_VERIFICATION:
        case CURLE_SSL_ENGINE_INITFAILED:
        case CURLE_USE_SSL_FAILED:
            error = QStringLiteral("ошибка TLS");
            why = m_target.scheme() == QLatin1String("https") ? FetchFailure::Tls : FetchFailure::Network;
            noAnswer = false;
            break;
        case CURLE_BAD_CONTENT_ENCODING:
            error = QStringLiteral("ответ не распаковать");
            why = FetchFailure::Network;
            noAnswer = false;
            break;
        default:
            if (connectionLost(code) && status == 0) {
                // A reset connection, or one closed before any answer.
                error = QStringLiteral("соединение сброшено");
                why = FetchFailure::Refused;
                passing = true;
            } else if (connectionLost(code)) {
                // The body was cut (the connection closed early, a chunk that cannot be read): the part that
                // came is not the page.
                error = QStringLiteral("ответ оборван");
                why = FetchFailure::Network;
                passing = true;
            } else {
                error = QStringLiteral("ошибка сети (%1)").arg(code);
                why = FetchFailure::Network;
                noAnswer = false;
            }
        }
    } else if (status < 300 || status >= 400) {
        m_body = std::move(m_data);
    }
    m_data = QByteArray();
    if (m_book && !m_hopKey.isEmpty()) {
        const bool answered = status > 0 && status != 429 && status != 503 && why != FetchFailure::Blocked;
        if (answered && error.isEmpty()) m_book->answered(m_hopKey, m_longestWait);
        m_book->ended(std::exchange(m_hopKey, QString()), m_hopEpoch, answered);
    }
    if (!error.isEmpty()) {
        m_body.reset();
        if (why == FetchFailure::Cancelled || why == FetchFailure::Deferred) return fail(error, why);
        if (quickCut && !m_deadlinePassed) {
            // Cut by the host's short first-try timeout: asked again at once, with the full one; no try
            // spent.
            ++m_info.quickRetries;
            if (m_book) m_book->countQuickRetry();
            return (void)retryLater(error, 0);
        }
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
        m_deadline.stop();
        m_done = true;
        emit finished();
        return;
    }
    m_body.reset();
    if (m_location.isEmpty())
        return fail(QStringLiteral("Перенаправление без адреса"), FetchFailure::BadRedirect);
    const QUrl location = QUrl(QString::fromUtf8(m_location));
    if (!location.isValid())
        return fail(QStringLiteral("Перенаправление без адреса"), FetchFailure::BadRedirect);
    m_target = m_target.resolved(location);
    m_info.hops.append({status, m_target.toString().left(2048)});
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
    PageCall call(*this, m_jar, url, tls);
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

FetchedPage PageFetcher::fetchedPage(const QString& url, bool tls) {
    FetchedPage page;
    page.requested = true;
    QByteArray contentType;
    const std::optional<QByteArray> body = fetch(url, tls, &contentType);
    page.info = m_lastInfo;
    if (body)
        setPageBody(page, *body, contentType);
    else
        page.error = m_lastError;
    return page;
}

std::optional<QString> PageFetcher::FetchPage(const QString& url, bool tls) {
    QByteArray contentType;
    const std::optional<QByteArray> body = fetch(url, tls, &contentType);
    if (!body) return std::nullopt;
    return decodeReply(*body, contentType);
}

bool PageFetcher::fetchPageToFile(const QString& url, bool tls, const QString& fileName) {
    const std::optional<QByteArray> body = fetch(url, tls, nullptr);
    if (!body) return false;
    QFile f(fileName);
    if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate)) return false;
    return f.write(*body) == body->size();
}

} // namespace zentaro::web
