#pragma once

#include <functional>

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QObject>
#include <QString>

class QTcpServer;
class QTcpSocket;

namespace zentaro::test {

// A small HTTP/1.1 server on 127.0.0.1 for the web tests: fixed replies per path, requests recorded.
// With tls it serves HTTPS with a self-signed certificate made for the test.
class HttpServer : public QObject {
    Q_OBJECT
public:
    struct Request {
        QByteArray method;
        QByteArray target;                     // path and query as sent
        QHash<QByteArray, QByteArray> headers; // names lower-cased
    };
    struct Reply {
        int status = 200;
        QList<QPair<QByteArray, QByteArray>> headers;
        QByteArray body;
        int delayMs = 0;    // wait before answering
        bool stall = false; // send the headers and part of the body, then nothing more
        bool reset = false; // close the connection at once, answering nothing
        int dripMs = 0;     // send the body one byte at a time, this far apart
        QByteArray raw;     // sent as it stands instead of a built answer (malformed answers)
        bool close = false; // close the connection once the answer is sent
    };
    using Handler = std::function<Reply(const Request&)>;

    explicit HttpServer(bool tls = false, QObject* parent = nullptr);
    // Plain HTTP on another loopback address (Linux answers on all of 127.0.0.0/8 without set-up).
    explicit HttpServer(const QString& address, QObject* parent = nullptr);
    ~HttpServer() override;

    bool listening() const;
    quint16 port() const;
    // "address:port", as the service hosts take it.
    QString host() const;
    QString url(const QString& path) const;

    void on(const QByteArray& path, Handler handler);
    void on(const QByteArray& path, const Reply& reply);
    const QList<Request>& requests() const { return m_requests; }
    // The most requests of one Host header that were being answered at once.
    int mostAtOnce(const QByteArray& host) const { return m_mostOpen.value(host); }
    QByteArrayList targets() const;

private:
    void accept(QTcpSocket* socket);
    void serve(QTcpSocket* socket);

    bool m_tls;
    QTcpServer* m_server;
    QHash<QByteArray, Handler> m_routes;
    QList<Request> m_requests;
    QHash<QByteArray, int> m_open, m_mostOpen;
};

// A Content-Type header value.
QPair<QByteArray, QByteArray> contentType(const QByteArray& value);
// A 200 reply of an HTML page in UTF-8.
HttpServer::Reply htmlPage(const QByteArray& body);

} // namespace zentaro::test
