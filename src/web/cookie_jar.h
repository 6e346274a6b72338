// The run's cookie store: cookies in memory for one run, within caps per host and in all.
#pragma once

#include <QHash>
#include <QList>
#include <QNetworkCookie>
#include <QNetworkCookieJar>
#include <QString>
#include <QStringList>

namespace zentaro::web {

// The cookies of the run, kept in memory only. A cookie is kept when its domain covers the host that set it
// (the jar's own rule, public suffixes refused), so that one site cannot steer the requests to another; each
// host reaches a bounded number of cookies of bounded size, whatever their paths. Kept by domain, so that
// storing and finding a host's cookies costs the same however many other hosts the run met.
class RunCookieJar : public QNetworkCookieJar {
public:
    static constexpr int kMaxPerHost = 50;
    static constexpr int kMaxCookieBytes = 4096;
    // Set-Cookie headers read from one answer, and cookies kept in all (a run over many hosts).
    static constexpr int kMaxPerReply = 100;
    static constexpr int kMaxInAll = 10000;
    using QNetworkCookieJar::QNetworkCookieJar;

    bool setCookiesFromUrl(const QList<QNetworkCookie>& cookies, const QUrl& url) override;
    QList<QNetworkCookie> cookiesForUrl(const QUrl& url) const override;

private:
    // The domains whose cookies reach the host: itself, and each domain above it.
    static QStringList domainsOf(const QString& hostText);
    int reaching(const QString& host) const;

    QHash<QString, QList<QNetworkCookie>> m_byDomain;
    int m_count = 0;
};

} // namespace zentaro::web
