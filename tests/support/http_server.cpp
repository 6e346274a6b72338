#include "support/http_server.h"

#include <QFile>
#include <QProcess>
#include <QSslCertificate>
#include <QSslConfiguration>
#include <QSslKey>
#include <QSslServer>
#include <QSslSocket>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTimer>

#include <memory>

namespace zentaro::test {

namespace {

// A self-signed certificate for localhost, made with the openssl tool.
bool makeCertificate(QSslConfiguration& config) {
    QTemporaryDir dir;
    const QString key = dir.filePath(QStringLiteral("key.pem"));
    const QString cert = dir.filePath(QStringLiteral("cert.pem"));
    const int rc =
        QProcess::execute(QStringLiteral("openssl"),
                          {QStringLiteral("req"), QStringLiteral("-x509"), QStringLiteral("-newkey"),
                           QStringLiteral("rsa:2048"), QStringLiteral("-nodes"), QStringLiteral("-keyout"),
                           key, QStringLiteral("-out"), cert, QStringLiteral("-days"), QStringLiteral("1"),
                           QStringLiteral("-subj"), QStringLiteral("/CN=localhost")});
    if (rc != 0) return false;
    QFile kf(key), cf(cert);
    if (!kf.open(QIODevice::ReadOnly) || !cf.open(QIODevice::ReadOnly)) return false;
    config.setPrivateKey(QSslKey(kf.readAll(), QSsl::Rsa));
    config.setLocalCertificate(QSslCertificate(cf.readAll()));
    config.setPeerVerifyMode(QSslSocket::VerifyNone);
    return !config.localCertificate().isNull();
}

} // namespace

QPair<QByteArray, QByteArray> contentType(const QByteArray& value) {
    return {"Content-Type", value};
}

HttpServer::Reply htmlPage(const QByteArray& body) {
    HttpServer::Reply r;
    r.headers = {contentType("text/html; charset=utf-8")};
    r.body = body;
    return r;
}

HttpServer::HttpServer(bool tls, QObject* parent) : QObject(parent), m_tls(tls) {
    if (tls) {
        auto* ssl = new QSslServer(this);
        QSslConfiguration config = QSslConfiguration::defaultConfiguration();
        if (makeCertificate(config)) ssl->setSslConfiguration(config);
        m_server = ssl;
    } else {
        m_server = new QTcpServer(this);
    }
    connect(m_server, &QTcpServer::pendingConnectionAvailable, this, [this] {
        while (QTcpSocket* s = m_server->nextPendingConnection())
            accept(s);
    });
    m_server->listen(QHostAddress::LocalHost, 0);
}

HttpServer::HttpServer(const QString& address, QObject* parent) : QObject(parent), m_tls(false) {
    m_server = new QTcpServer(this);
    connect(m_server, &QTcpServer::pendingConnectionAvailable, this, [this] {
        while (QTcpSocket* s = m_server->nextPendingConnection())
            accept(s);
    });
    m_server->listen(QHostAddress(address), 0);
}

HttpServer::~HttpServer() = default;

bool HttpServer::listening() const {
    return m_server->isListening();
}
quint16 HttpServer::port() const {
    return m_server->serverPort();
}
QString HttpServer::host() const {
    return QStringLiteral("%1:%2").arg(m_server->serverAddress().toString()).arg(port());
}
QString HttpServer::url(const QString& path) const {
    return (m_tls ? QStringLiteral("https://") : QStringLiteral("http://")) + host() + path;
}

void HttpServer::on(const QByteArray& path, Handler handler) {
    m_routes[path] = std::move(handler);
}
void HttpServer::on(const QByteArray& path, const Reply& reply) {
    m_routes[path] = [reply](const Request&) { return reply; };
}

QByteArrayList HttpServer::targets() const {
    QByteArrayList out;
    for (const Request& r : m_requests)
        out << r.target;
    return out;
}

void HttpServer::accept(QTcpSocket* socket) {
    socket->setParent(this);
    connect(socket, &QTcpSocket::readyRead, this, [this, socket] { serve(socket); });
    connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
    if (socket->bytesAvailable() > 0) serve(socket);
}

void HttpServer::serve(QTcpSocket* socket) {
    QByteArray buffer = socket->property("buffer").toByteArray() + socket->readAll();
    const qsizetype end = buffer.indexOf("\r\n\r\n");
    if (end < 0) {
        socket->setProperty("buffer", buffer);
        return;
    }
    socket->setProperty("buffer", buffer.mid(end + 4));
    const QList<QByteArray> lines = buffer.left(end).split('\n');
    Request req;
    const QList<QByteArray> first = lines.value(0).trimmed().split(' ');
    req.method = first.value(0);
    req.target = first.value(1);
    for (qsizetype i = 1; i < lines.size(); ++i) {
        const qsizetype colon = lines[i].indexOf(':');
        if (colon > 0)
            req.headers[lines[i].left(colon).trimmed().toLower()] = lines[i].mid(colon + 1).trimmed();
    }
    m_requests << req;
    const QByteArray host = req.headers.value("host");
    m_mostOpen[host] = std::max(m_mostOpen.value(host), ++m_open[host]);
    const QByteArray path =
        req.target.left(req.target.indexOf('?') < 0 ? req.target.size() : req.target.indexOf('?'));
    Reply reply;
    if (m_routes.contains(path))
        reply = m_routes[path](req);
    else
        reply = {404, {}, "not found", 0, false, false, 0, {}};
    auto send = [this, socket, reply, host] {
        --m_open[host];
        if (reply.reset) {
            socket->abort();
            return;
        }
        if (!reply.raw.isEmpty()) {
            socket->write(reply.raw);
            if (reply.close) socket->disconnectFromHost();
            return;
        }
        if (reply.dripMs > 0) {
            QByteArray head = "HTTP/1.1 " + QByteArray::number(reply.status) +
                              " X\r\nContent-Length: " + QByteArray::number(reply.body.size()) + "\r\n\r\n";
            socket->write(head);
            auto* drip = new QTimer(socket);
            auto sent = std::make_shared<qsizetype>(0);
            connect(drip, &QTimer::timeout, socket, [socket, drip, sent, body = reply.body] {
                if (*sent >= body.size()) return drip->stop();
                socket->write(body.mid((*sent)++, 1));
            });
            drip->start(reply.dripMs);
            return;
        }
        QByteArray out = "HTTP/1.1 " + QByteArray::number(reply.status) + " X\r\n";
        for (const auto& [k, v] : reply.headers)
            out += k + ": " + v + "\r\n";
        if (reply.stall) {
            out +=
                "Content-Length: " + QByteArray::number(reply.body.size() + 1000) + "\r\n\r\n" + reply.body;
            socket->write(out);
            return;
        }
        out += "Content-Length: " + QByteArray::number(reply.body.size()) + "\r\n\r\n" + reply.body;
        socket->write(out);
        if (reply.close) socket->disconnectFromHost();
    };
    if (reply.delayMs > 0)
        QTimer::singleShot(reply.delayMs, socket, send);
    else
        send();
    // A client may send its next request on the same connection.
    if (socket->property("buffer").toByteArray().contains("\r\n\r\n"))
        QTimer::singleShot(0, socket, [this, socket] { serve(socket); });
}

} // namespace zentaro::test
