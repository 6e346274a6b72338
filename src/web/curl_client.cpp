// The bridge to libcurl: transfers, their sockets and timer on the thread's event loop, their ends.
#include "web/curl_client.h"

#include <mutex>

#include <curl/curl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QSocketNotifier>
#include <QThreadStorage>
#include <QTimer>

namespace zentaro::web {

struct CurlClient::Transfer {
    CURL* easy = nullptr;
    CurlSink* sink = nullptr; // none once let go: callbacks still under way end the transfer
    CurlClient* client = nullptr;
    curl_slist* headers = nullptr;
    curl_slist* resolve = nullptr;
    bool started = false;
};

namespace {

CURLM* multiOf(void* m) {
    return static_cast<CURLM*>(m);
}

size_t headerCallback(char* data, size_t size, size_t count, void* user) {
    auto* sink = *static_cast<CurlSink**>(user);
    const size_t n = size * count;
    return sink && sink->onHeader(data, n) ? n : 0;
}

size_t writeCallback(char* data, size_t size, size_t count, void* user) {
    auto* sink = *static_cast<CurlSink**>(user);
    const size_t n = size * count;
    return sink && sink->onData(data, n) ? n : 0;
}

} // namespace

int CurlClient::openSocket(void* user, int, void* addressData) {
    auto* t = static_cast<Transfer*>(user);
    auto* address = static_cast<curl_sockaddr*>(addressData);
    if (!t->sink || !t->sink->mayConnect(&address->addr)) return int(CURL_SOCKET_BAD);
    const int fd = socket(address->family, address->socktype | SOCK_CLOEXEC, address->protocol);
    if (fd >= 0) t->client->m_sockets[fd].connection = true;
    return fd;
}

int CurlClient::closeSocket(void* client, int fd) {
    auto* self = static_cast<CurlClient*>(client);
    const auto it = self->m_sockets.find(fd);
    if (it != self->m_sockets.end()) {
        if (it->read) it->read->setEnabled(false);
        if (it->write) it->write->setEnabled(false);
        it->connection = it->watched = false;
    }
    return ::close(fd);
}

namespace {} // namespace

CurlClient& CurlClient::forThread() {
    static std::once_flag once;
    std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
    static QThreadStorage<CurlClient*> clients;
    if (!clients.hasLocalData()) clients.setLocalData(new CurlClient);
    return *clients.localData();
}

CurlClient::CurlClient(QObject* parent)
    : QObject(parent), m_multi(curl_multi_init()), m_timer(new QTimer(this)) {
    m_timer->setSingleShot(true);
    m_timer->setTimerType(Qt::PreciseTimer);
    connect(m_timer, &QTimer::timeout, this, [this] { act(CURL_SOCKET_TIMEOUT, 0); });
    curl_multi_setopt(multiOf(m_multi), CURLMOPT_SOCKETFUNCTION, &CurlClient::socketCallback);
    curl_multi_setopt(multiOf(m_multi), CURLMOPT_SOCKETDATA, this);
    curl_multi_setopt(multiOf(m_multi), CURLMOPT_TIMERFUNCTION, &CurlClient::timerCallback);
    curl_multi_setopt(multiOf(m_multi), CURLMOPT_TIMERDATA, this);
}

CurlClient::~CurlClient() {
    for (Transfer* t : std::as_const(m_transfers)) {
        if (t->started) curl_multi_remove_handle(multiOf(m_multi), t->easy);
        curl_easy_cleanup(t->easy);
        curl_slist_free_all(t->headers);
        curl_slist_free_all(t->resolve);
        delete t;
    }
    m_transfers.clear();
    for (void* easy : std::as_const(m_spare))
        curl_easy_cleanup(easy);
    curl_multi_cleanup(multiOf(m_multi));
}

void* CurlClient::newHandle(CurlSink* sink, const QList<QByteArray>& headers, const QStringList& resolve) {
    auto* t = new Transfer;
    // A handle of an ended transfer is used again (its options reset): making one costs more than a request.
    t->easy = m_spare.isEmpty() ? curl_easy_init() : m_spare.takeLast();
    t->sink = sink;
    for (const QByteArray& h : headers)
        t->headers = curl_slist_append(t->headers, h.constData());
    for (const QString& r : resolve)
        t->resolve = curl_slist_append(t->resolve, r.toUtf8().constData());
    CURL* e = t->easy;
    if (t->resolve) curl_easy_setopt(e, CURLOPT_RESOLVE, t->resolve);
    curl_easy_setopt(e, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(e, CURLOPT_HTTPHEADER, t->headers);
    curl_easy_setopt(e, CURLOPT_HEADERFUNCTION, &headerCallback);
    curl_easy_setopt(e, CURLOPT_HEADERDATA, &t->sink);
    curl_easy_setopt(e, CURLOPT_WRITEFUNCTION, &writeCallback);
    curl_easy_setopt(e, CURLOPT_WRITEDATA, &t->sink);
    t->client = this;
    // Trampolines with libcurl's own signatures (made here, where the client's private parts are in reach).
    const curl_opensocket_callback open = [](void* user, curlsocktype purpose, curl_sockaddr* address) {
        return curl_socket_t(CurlClient::openSocket(user, int(purpose), address));
    };
    const curl_closesocket_callback close = [](void* client, curl_socket_t fd) {
        return CurlClient::closeSocket(client, int(fd));
    };
    curl_easy_setopt(e, CURLOPT_OPENSOCKETFUNCTION, open);
    curl_easy_setopt(e, CURLOPT_OPENSOCKETDATA, t);
    curl_easy_setopt(e, CURLOPT_CLOSESOCKETFUNCTION, close);
    curl_easy_setopt(e, CURLOPT_CLOSESOCKETDATA, this);
    // Redirects are followed by the caller, hop by hop; only http and https are spoken.
    curl_easy_setopt(e, CURLOPT_FOLLOWLOCATION, 0L);
    curl_easy_setopt(e, CURLOPT_PROTOCOLS_STR, "http,https");
    // Every encoding this libcurl decodes (gzip, deflate, br, zstd as built); HTTP/2 where TLS offers it.
    curl_easy_setopt(e, CURLOPT_ACCEPT_ENCODING, "");
    curl_easy_setopt(e, CURLOPT_HTTP_VERSION, long(CURL_HTTP_VERSION_2TLS));
    // Sites are checked, not trusted: their certificates are not verified.
    curl_easy_setopt(e, CURLOPT_SSL_VERIFYPEER, 0L);
    curl_easy_setopt(e, CURLOPT_SSL_VERIFYHOST, 0L);
    m_transfers.insert(e, t);
    return e;
}

void CurlClient::start(void* easy) {
    Transfer* t = m_transfers.value(easy);
    if (!t || t->started) return;
    if (m_depth > 0) {
        m_starting << easy;
        return;
    }
    t->started = true;
    // Adding only asks for a timer; the transfer begins from the event loop.
    curl_multi_add_handle(multiOf(m_multi), t->easy);
}

void CurlClient::release(void* easy) {
    m_starting.removeOne(easy);
    Transfer* t = m_transfers.take(easy);
    if (!t) return;
    t->sink = nullptr;
    if (m_depth > 0) {
        m_released << t;
        return;
    }
    removeNow(t);
}

void CurlClient::removeNow(Transfer* t) {
    if (t->started) curl_multi_remove_handle(multiOf(m_multi), t->easy);
    if (m_spare.size() < kSpareHandles) {
        curl_easy_reset(t->easy);
        m_spare << t->easy;
    } else {
        curl_easy_cleanup(t->easy);
    }
    curl_slist_free_all(t->headers);
    curl_slist_free_all(t->resolve);
    delete t;
}

// The notifiers of a socket number are kept once made. A kept connection is let go and watched again for
// every request it carries: its read notifier stays on meanwhile (switching notifiers costs the event loop a
// wake-up each), and is switched off when the socket is closed or becomes readable while nobody watches it
// (the server closed it; libcurl finds out when it would use it again). Other sockets (the resolver's) are
// switched off when libcurl lets them go, since they are closed without telling.
int CurlClient::socketCallback(void*, int fd, int what, void* client, void*) {
    auto* self = static_cast<CurlClient*>(client);
    Socket* s = &self->m_sockets[fd];
    if (what == CURL_POLL_REMOVE) {
        s->watched = false;
        if (s->read && !s->connection) s->read->setEnabled(false);
        if (s->write) s->write->setEnabled(false);
        return 0;
    }
    s->watched = true;
    const bool in = what & CURL_POLL_IN, out = what & CURL_POLL_OUT;
    if (in && !s->read) {
        s->read = new QSocketNotifier(fd, QSocketNotifier::Read, self);
        connect(s->read, &QSocketNotifier::activated, self, [self, fd] {
            Socket& watched = self->m_sockets[fd];
            if (!watched.watched) return watched.read->setEnabled(false);
            self->act(fd, CURL_CSELECT_IN);
        });
    }
    if (out && !s->write) {
        s->write = new QSocketNotifier(fd, QSocketNotifier::Write, self);
        connect(s->write, &QSocketNotifier::activated, self, [self, fd] { self->act(fd, CURL_CSELECT_OUT); });
    }
    if (s->read) s->read->setEnabled(in);
    if (s->write) s->write->setEnabled(out);
    return 0;
}

int CurlClient::timerCallback(void*, long timeoutMs, void* client) {
    auto* self = static_cast<CurlClient*>(client);
    if (timeoutMs < 0)
        self->m_timer->stop();
    else
        self->m_timer->start(int(std::min<long>(timeoutMs, 24L * 3600 * 1000)));
    return 0;
}

void CurlClient::act(int fd, int flags) {
    int running = 0;
    ++m_depth;
    curl_multi_socket_action(multiOf(m_multi), curl_socket_t(fd), flags, &running);
    --m_depth;
    if (m_depth > 0) return;
    for (Transfer* t : std::exchange(m_released, {}))
        removeNow(t);
    for (void* easy : std::exchange(m_starting, {}))
        start(easy);
    collect();
}

// Ended transfers are told after libcurl has returned, each removed before its sink hears of it, so that
// the sink may start the next request (or let this one go) at once.
void CurlClient::collect() {
    int left = 0;
    while (CURLMsg* msg = curl_multi_info_read(multiOf(m_multi), &left)) {
        if (msg->msg != CURLMSG_DONE) continue;
        CURL* easy = msg->easy_handle;
        const CURLcode code = msg->data.result;
        Transfer* t = m_transfers.take(easy);
        if (!t) continue;
        curl_multi_remove_handle(multiOf(m_multi), easy);
        t->started = false;
        CurlSink* sink = std::exchange(t->sink, nullptr);
        if (sink) sink->onDone(easy, int(code));
        removeNow(t);
    }
}

} // namespace zentaro::web
