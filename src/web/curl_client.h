// The bridge to libcurl: one multi handle per thread, driven by that thread's event loop.
#pragma once

#include <cstddef>

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QObject>
#include <QStringList>

struct sockaddr;
class QSocketNotifier;
class QTimer;

namespace zentaro::web {

// What a transfer tells its owner. Called from inside libcurl (header, data, connect) or after it returned
// (done); the first three must not call back into the client's multi handle, only return what to do.
class CurlSink {
public:
    virtual ~CurlSink() = default;
    // One header line of the reply (the status line included); false ends the transfer.
    virtual bool onHeader(const char* line, size_t size) = 0;
    // Body bytes as they come, decompressed; false ends the transfer.
    virtual bool onData(const char* data, size_t size) = 0;
    // A new connection is about to be made to this address; false refuses it.
    virtual bool mayConnect(const sockaddr* address) = 0;
    // The transfer ended with this libcurl code; the handle may still be read, not used again.
    virtual void onDone(void* easy, int code) = 0;
};

// The program's HTTP client: one libcurl multi handle per thread (the window's thread for all but the
// worker-thread runs), driven by that thread's event loop — each socket libcurl watches gets read and write
// notifiers, its timer one single-shot timer. Connections are kept and reused across requests, per host.
// libcurl is never re-entered from one of its own callbacks: a transfer let go meanwhile is removed after
// libcurl returns.
class CurlClient : public QObject {
    Q_OBJECT
    struct Socket {
        QSocketNotifier* read = nullptr;
        QSocketNotifier* write = nullptr;
        bool watched = false;    // libcurl watches it now
        bool connection = false; // a connection opened here, closed through closeSocket
    };

public:
    // The calling thread's client, made on first use and kept until the thread ends.
    static CurlClient& forThread();
    ~CurlClient() override;

    // A new easy handle with the program's common options, these request header lines ("Name: value"),
    // these fixed addresses of names ("host:port:address", none: resolved as usual) and the callbacks wired
    // to the sink.
    void* newHandle(CurlSink* sink, const QList<QByteArray>& headers, const QStringList& resolve = {});
    // Starts a handle made by newHandle; the sink hears onDone exactly once unless the handle is let go.
    void start(void* easy);
    // Lets a handle go, started or not: no callback reaches its sink after this returns.
    void release(void* easy);
    // Handles made and not yet done or let go.
    int running() const { return int(m_transfers.size()); }
    // Inside libcurl now (a sink's callback runs): what ends a transfer is told after it returns.
    bool busy() const { return m_depth > 0; }

private:
    explicit CurlClient(QObject* parent = nullptr);
    struct Transfer;
    static int socketCallback(void* easy, int fd, int what, void* client, void* socketData);
    static int timerCallback(void* multi, long timeoutMs, void* client);
    static int openSocket(void* transfer, int purpose, void* address);
    static int closeSocket(void* client, int fd);
    void act(int fd, int flags);
    void collect();
    void removeNow(Transfer* t);

    void* m_multi = nullptr;
    QTimer* m_timer = nullptr;
    int m_depth = 0; // inside curl_multi_socket_action
    QHash<void*, Transfer*> m_transfers;
    QHash<int, Socket> m_sockets; // by socket number
    QList<Transfer*> m_released;  // let go while inside libcurl
    QList<void*> m_starting;      // started while inside libcurl
    QList<void*> m_spare;         // handles of ended transfers, reset for the next
    static constexpr int kSpareHandles = 256;
};

} // namespace zentaro::web
