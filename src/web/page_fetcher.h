// The page request: one fetch with its redirects, retries and limits (PageCall), and the client that waits
// for one (PageFetcher), with the fetch settings.
#pragma once

#include <atomic>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

#include <QBasicTimer>
#include <QByteArray>
#include <QHash>
#include <QStringList>
#include <QList>
#include <QPair>
#include <QObject>
#include <QString>
#include <QUrl>

#include "web/curl_client.h"
#include "web/fetch_info.h"
#include "web/host_book.h"
#include "web/url_forms.h"

class QTimer;
class QNetworkCookieJar;

namespace zentaro::db {
class Table;
}

namespace zentaro::web {

// Hosts (with optional port) of the outside services. Real defaults; settings or tests can replace them.
struct ServiceHosts {
    QString yandexToolbar = QStringLiteral("bar-navig.yandex.ru");
    QString googleToolbar = QStringLiteral("toolbarqueries.google.com");
    QString yandexSearch = QStringLiteral("yandex.ru");
    QString yandexCaptcha = QStringLiteral("captcha.yandex.net");
    QString googleSearch = QStringLiteral("www.google.ru");
    QString mailSearch = QStringLiteral("go.mail.ru");
};

// An address on this machine or a private network: loopback, private ranges, link-local, unspecified
// (by its literal form; names other than localhost are not resolved here).
bool isInternalHost(const QString& host);

// The program's HTTP client: every request goes through the thread's libcurl client (connections reused per
// host), on the fetcher's cookie store (cookies kept for the run only, within caps) with certificates not
// verified. The caller waits in a local event loop that keeps the window painting but takes no user input.
class PageFetcher : public QObject {
    Q_OBJECT
public:
    static inline const QByteArray kUserAgent =
        "Mozilla/5.0 (Windows; I; Windows NT 5.1; ru; rv:1.9.2.13) Gecko/20100101 Firefox/33.0";
    static inline const QByteArray kAccept = "text/html, */*";
    static inline const QByteArray kAcceptLanguage = "ru-RU,ru;q=0.9";

    explicit PageFetcher(QObject* parent = nullptr);
    ~PageFetcher() override;

    // The reply body as text, decoded by its declared character set; no value when the request failed
    // (no connection, read timeout, TLS failure, status 400 or above, a redirect that cannot be followed).
    // Without TLS an https address, or a redirect to one, fails.
    std::optional<QString> FetchPage(const QString& url, bool tls);
    // The same as a check's fetched page: decoded by the page's own rules (a late charset declaration
    // included), with the reply's size and hash.
    struct FetchedPage fetchedPage(const QString& url, bool tls);
    // Writes the reply body unchanged into the file; false on failure.
    bool fetchPageToFile(const QString& url, bool tls, const QString& fileName);

    // Waiting for data from an open connection; 10000 ms unless a test shortens it.
    int readTimeoutMs = 10000;
    // The least first-try read timeout of a host that has shown how fast it answers (see HostBook).
    int quickTimeoutFloorMs = 2000;
    // A whole request, redirects and retries included, from its first send (settings row "net.deadlineSec").
    int deadlineMs = 60000;
    // A failure that usually passes (timeout, refused or reset connection, 429, 502, 503, 504) is tried again
    // up to this many times (row "net.retries", 0 to 5), after retryPauseMs then three times that, with
    // jitter; a Retry-After up to retryAfterMaxSec (row "net.retryAfterMaxSec") is waited out instead, a
    // longer one ends the request.
    int retries = 2;
    int retryPauseMs = 1000;
    int retryAfterMaxSec = 30;
    // A page whose link was found at its last verdict and is missing now is fetched again after this pause
    // before it is taken as lost.
    int confirmPauseMs = 2000;
    // The hosts of a run (set by the run for its duration): limits, pauses and down hosts shared by its
    // requests.
    HostBook* hostBook = nullptr;
    // Raised by the user's stop: a request in flight is abandoned at once and fails.
    const bool* stop = nullptr;
    int maxRedirects = 20;
    // A reply body larger than this fails the request (settings row "net.maxReplyMB").
    qint64 maxReplyBytes = 32LL * 1024 * 1024;
    ServiceHosts hosts;
    // Batch runs: requests in flight at once in all, and to one host (settings rows "net.maxInFlight",
    // 1 to 256, and "net.perHost", 1 to 16). 1 in all makes the runs one request at a time.
    int maxInFlight = 64;
    int perHost = 4;
    // When set and raised, a request in flight is abandoned within a few milliseconds and fails.
    const std::atomic<bool>* cancel = nullptr;
    // Names given fixed addresses, as libcurl's resolve list takes them ("host:port:address"): tests and
    // benchmarks give names to loopback servers.
    QStringList resolve;
    // Which addresses connected to count as this machine or a private network, for the redirect refusal
    // (tests stand a loopback server in for a public one).
    bool (*internalAddress)(const QString& address) = &isInternalHost;
    // Timeouts, limits and hosts of another fetcher (not its cookies, nor its cancel flag).
    void copySettings(const PageFetcher& other);
    // The web stop flag: set by checks that give up; cleared only by the combined check.
    bool GlobalStop = false;
    // The error text of the last failed request.
    QString lastError() const { return m_lastError; }
    const FetchInfo& lastInfo() const { return m_lastInfo; }

    // The run's cookie store.
    QNetworkCookieJar* cookieJar() const { return m_jar; }

private:
    std::optional<QByteArray> fetch(const QString& url, bool tls, QByteArray* contentType);

    QNetworkCookieJar* m_jar;
    QString m_lastError;
    FetchInfo m_lastInfo;
};

// One page fetch in flight, redirects followed, without waiting: what FetchPage does, for runs that keep
// many requests going on one thread. Each hop goes through the thread's libcurl client, on the given cookie
// store (none: the fetcher's). finished() comes once, also when the call fails before any request; deleting
// or aborting the call abandons its request.
class PageCall : public QObject, private CurlSink {
    Q_OBJECT
public:
    PageCall(const PageFetcher& settings, QNetworkCookieJar* jar, const QString& url, bool tls,
             QObject* parent = nullptr);
    // The run's hosts: each hop waits for its own host's turn and is counted there.
    void setHostBook(HostBook* book) { m_book = book; }
    // The reply the call may hold before it asks reserve for more.
    void setReserved(qint64 bytes) { m_reserved = bytes; }
    // Asked before the reply may hold more than the memory given so far (the announced length, or what
    // came); false gives the request up as Deferred.
    std::function<bool(qint64 bytes)> reserve;
    ~PageCall() override;
    void start();
    void abort();
    bool done() const { return m_done; }
    // The body (none on failure), its declared type, and the error text of a failure.
    const std::optional<QByteArray>& body() const { return m_body; }
    const QByteArray& contentType() const { return m_contentType; }
    const QString& error() const { return m_error; }
    const FetchInfo& info() const { return m_info; }
    // What FetchPage gives, as a check's fetched page: the body decoded by its declared character set.
    struct FetchedPage result() const;
    // Lets the body go at once (a call is deleted later, and runs hold many).
    void dropBody() { m_body.reset(); }

signals:
    void finished();

private:
    bool onHeader(const char* line, size_t size) override;
    bool onData(const char* data, size_t size) override;
    bool mayConnect(const sockaddr* address) override;
    void onDone(void* easy, int code) override;
    void hopEnded(int code);
    bool connectedTo(const QString& address);
    void hop();
    void timerEvent(QTimerEvent* event) override;
    int nextIdleCheck(qint64 quiet) const;
    static constexpr qint64 kFirstTryRecheckMs = 500;
    bool checkSize(qint64 size);
    void stopTransfer();
    void fail(const QString& error, FetchFailure why);
    void finishWith(const QString& error, FetchFailure why, bool noAnswer);
    bool retryLater(const QString& reason, qint64 pauseMs);
    void deadlineHit();

    QNetworkCookieJar* m_jar;
    CurlClient& m_client;
    void* m_easy = nullptr; // the hop's transfer
    QByteArray m_proxy;
    QStringList m_resolve;
    bool (*m_internalAddress)(const QString&);
    HostBook* m_book = nullptr;
    // Timers without objects of their own: a run makes thousands of calls.
    QBasicTimer m_deadline, m_pause, m_idle;
    bool m_deadlineStarted = false;
    qint64 m_sentAt = 0;   // monotonic ms of the last hop's send
    qint64 m_lastRead = 0; // and of the last data of its reply
    qint64 m_longestWait = 0;
    int m_hopTimeoutMs = 0, m_quickFloorMs = 0;
    bool m_quick = false, m_idleCut = false, m_firstTry = false;
    bool m_stopping = false; // the transfer was ended from inside libcurl; its end is told shortly
    // The reply of the hop as it comes.
    int m_status = 0;
    bool m_headersDone = false, m_errorBodyFull = false, m_internalRefused = false, m_checkedPeer = false;
    QByteArray m_location, m_retryAfter, m_robots;
    QList<QByteArray> m_setCookies;
    QByteArray m_data;
    int m_hopEpoch = 0;
    QString m_hopKey, m_hopKeyOfFailure, m_probeKey;
    bool m_redirected = false;
    bool m_tls;
    int m_timeoutMs, m_deadlineMs, m_retriesLeft, m_retryPauseMs, m_retryAfterMaxSec, m_maxRedirects;
    int m_hopsLeft;
    qint64 m_cap;
    qint64 m_reserved = 0;
    QString m_url;
    QUrl m_start, m_target;
    bool m_internalStart = false;
    bool m_challengeRetried = false;
    bool m_tooLarge = false, m_aborted = false, m_done = false, m_deadlinePassed = false, m_deferred = false;
    bool m_waitingForHost = false;
    std::optional<QByteArray> m_body;
    QByteArray m_contentType;
    QString m_error;
    FetchInfo m_info;
};

// Replaces the service hosts named in the settings table: rows "host.yandexToolbar", "host.googleToolbar",
// "host.yandexSearch", "host.yandexCaptcha", "host.googleSearch", "host.mailSearch" with the host in ParamS.
void applyHostSettings(ServiceHosts& hosts, const QList<QPair<QString, QString>>& settings);

// The service hosts, the reply cap (row "net.maxReplyMB", 1 to 4096) and the batch concurrency from the
// settings table.
void applyFetchSettings(PageFetcher& fetcher, const QList<QPair<QString, QString>>& settings);
// The same from the settings table's rows (name, text value).
void applyFetchSettings(PageFetcher& fetcher, const db::Table& sets);

} // namespace zentaro::web

// What a fetched page holds (PageCall::result()); page_reader.h includes this header, hence included last.
#include "web/page_decoder.h"
#include "web/page_reader.h"
