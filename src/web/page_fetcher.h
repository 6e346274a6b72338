#pragma once

#include <optional>

#include <QByteArray>
#include <QList>
#include <QPair>
#include <QObject>
#include <QString>
#include <QUrl>

class QNetworkCookieJar;

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

// The program's HTTP client: one new client per request on the shared cookie store (every cookie accepted,
// kept for the run only) and the shared TLS settings (certificates not verified). The caller waits in a
// local event loop that keeps the window painting but takes no user input.
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
    // Writes the reply body unchanged into the file; false on failure.
    bool FetchPageToFile(const QString& url, bool tls, const QString& fileName);

    // Waiting for data from an open connection; 10000 ms unless a test shortens it.
    int readTimeoutMs = 10000;
    int maxRedirects = 20;
    // A reply body larger than this fails the request (settings row "net.maxReplyMB").
    qint64 maxReplyBytes = 32LL * 1024 * 1024;
    ServiceHosts hosts;
    // The web stop flag: set by checks that give up; cleared only by the combined check.
    bool GlobalStop = false;
    // The error text of the last failed request.
    QString lastError() const { return m_lastError; }

private:
    std::optional<QByteArray> fetch(const QString& url, bool tls, QByteArray* contentType);
    std::optional<QByteArray> request(const QUrl& target, bool tls, QByteArray* contentType, int* status,
                                      QUrl* location);

    QNetworkCookieJar* m_jar;
    QString m_lastError;
};

// What one request of a check brought: whether it was made, the page, or why it failed.
struct FetchedPage {
    bool requested = false;
    std::optional<QString> body;
    QString error;
};

// Replaces the service hosts named in the settings table: rows "host.yandexToolbar", "host.googleToolbar",
// "host.yandexSearch", "host.yandexCaptcha", "host.googleSearch", "host.mailSearch" with the host in ParamS.
void applyHostSettings(ServiceHosts& hosts, const QList<QPair<QString, QString>>& settings);

// The service hosts and the reply cap (row "net.maxReplyMB", 1 to 4096) from the settings table.
void applyFetchSettings(PageFetcher& fetcher, const QList<QPair<QString, QString>>& settings);

// Decodes a reply body: the charset of the Content-Type header, else of the page's meta tag, else UTF-8 when
// the bytes are valid UTF-8 and Windows-1251 otherwise (the code page of Russian pages without a
// declaration).
QString decodeReply(const QByteArray& body, const QByteArray& contentType);

} // namespace zentaro::web
