// The hosts of one run: requests to each at once, the pauses they ask for, hosts taken as down.
#pragma once

#include <optional>

#include <QHash>
#include <QObject>
#include <QString>
#include <QUrl>

#include "web/fetch_info.h"

namespace zentaro::web {

// Milliseconds on a clock that never goes back (the first call is its zero): pauses and timeouts of the
// requests and of the host book.
qint64 monotonicMs();

// What a run knows of the hosts it asks, keyed by host and port: requests under way to each, the pause a
// host asked for (429, 503), hosts fetched one at a time after a pause, hosts taken as down (refused or never
// answered on every try). Lives on the window's thread for one run.
class HostBook : public QObject {
    Q_OBJECT
public:
    struct Down {
        FetchFailure failure = FetchFailure::None;
        QString error;
    };
    // Requests to one host at once; never above the client's connections per host, so that no request
    // waits inside the client with its timer running.
    static constexpr int kClientConnectionsPerHost = 6;
    explicit HostBook(int perHost, QObject* parent = nullptr);

    static QString keyOf(const QUrl& url);
    // A new request to the host may go now (not down, not pausing, below its limit, and not waiting for
    // another request's retries to tell whether the host answers at all).
    bool mayStart(const QString& key, const void* who = nullptr) const;
    // A request that found the host silent tries it again for all; the others wait for what it finds.
    // Returns whether who is that request.
    bool probe(const QString& key, const void* who);
    void endProbe(const QString& key, const void* who);
    const Down* down(const QString& key) const;
    // Returns the host's pause count at the start, for ended.
    int started(const QString& key);
    // answered: the request had an answer that was not a refusal to serve (a host taken one at a time
    // gets one more request at once for each such answer, back up to its limit).
    void ended(const QString& key, int epoch, bool answered = false);
    // The host asked to wait (or did not answer) to a request started at epoch (as started gave it):
    // nothing new goes to it for ms, and from then on one request at a time until its answers bring it back
    // to its limit. Requests sent before the pause count only against the limit, so that one stalled
    // request cannot hold the host after it.
    void pause(const QString& key, qint64 ms, int epoch);
    void markDown(const QString& key, FetchFailure failure, const QString& error);
    int limit() const { return m_perHost; }

    // The read timeout of a first try to the host: the full one until the host has answered
    // kSettleAnswers times in this run, then the larger of floorMs and ten times the longest it made an
    // answer wait, never above the full one.
    static constexpr int kSettleAnswers = 5;
    int firstTryTimeoutMs(const QString& key, int fullMs, int floorMs) const;
    // An answer came from the host; waitedMs: the longest it kept the request waiting for data.
    void answered(const QString& key, qint64 waitedMs);
    // Requests sent again because a short first-try timeout cut them.
    void countQuickRetry() { ++m_quickRetries; }
    int quickRetries() const { return m_quickRetries; }

signals:
    // A request ended or a pause is over: requests waiting for a host look again.
    void changed();

private:
    struct Host {
        int inFlight = 0;
        int epoch = 0;          // pauses so far
        int sincePause = 0;     // requests in flight sent since the last pause
        qint64 pausedUntil = 0; // monotonic ms
        int cap = 0;            // requests at once after a pause (0: the limit)
        const void* prober = nullptr;
        std::optional<Down> down;
        int answers = 0;
        qint64 slowestMs = 0;
    };
    int m_perHost;
    int m_quickRetries = 0;
    bool m_changePending = false;
    QHash<QString, Host> m_hosts;
};

} // namespace zentaro::web
