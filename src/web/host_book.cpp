// The hosts of one run: when a request to a host may go, and what its answers taught.
#include "web/host_book.h"

#include <algorithm>
#include <limits>

#include <QElapsedTimer>
#include <QMetaObject>
#include <QTimer>

namespace zentaro::web {

qint64 monotonicMs() {
    static const QElapsedTimer clock = [] {
        QElapsedTimer t;
        t.start();
        return t;
    }();
    return clock.elapsed();
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
    // Told after the current signal handler returns, so that a waiting request does not start inside it; the
    // ends of one turn of the event loop are told once.
    if (m_changePending) return;
    m_changePending = true;
    QMetaObject::invokeMethod(
        this,
        [this] {
            m_changePending = false;
            emit changed();
        },
        Qt::QueuedConnection);
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

int HostBook::firstTryTimeoutMs(const QString& key, int fullMs, int floorMs) const {
    const auto it = m_hosts.constFind(key);
    if (it == m_hosts.cend() || it->answers < kSettleAnswers) return fullMs;
    return int(std::min<qint64>(fullMs, std::max<qint64>(floorMs, 10 * it->slowestMs)));
}

void HostBook::answered(const QString& key, qint64 waitedMs) {
    Host& h = m_hosts[key];
    ++h.answers;
    h.slowestMs = std::max(h.slowestMs, waitedMs);
}

} // namespace zentaro::web
