// The run's cookie store: what is kept, what each host is sent.
#include "web/cookie_jar.h"

#include <algorithm>

#include <QDateTime>
#include <QHostAddress>
#include <QUrl>

namespace zentaro::web {

bool RunCookieJar::setCookiesFromUrl(const QList<QNetworkCookie>& cookies, const QUrl& url) {
    bool any = false;
    const QDateTime now = QDateTime::currentDateTimeUtc();
    for (const QNetworkCookie& c : cookies) {
        if (c.name().size() + c.value().size() > kMaxCookieBytes) continue;
        QNetworkCookie cookie = c;
        cookie.normalize(url);
        cookie.setDomain(cookie.domain().toLower()); // kept and found by its domain
        // A cookie for a domain reaches every host of that domain, as in a browser.
        if (!cookie.domain().startsWith(u'.') && cookie.domain() != url.host() &&
            QHostAddress(cookie.domain()).isNull())
            cookie.setDomain(u'.' + cookie.domain());
        if (cookie.path().isEmpty()) cookie.setPath(QStringLiteral("/"));
        if (!validateCookie(cookie, url)) continue;
        QList<QNetworkCookie>& list = m_byDomain[cookie.domain()];
        const bool expired = !cookie.isSessionCookie() && cookie.expirationDate() < now;
        auto same = std::find_if(list.begin(), list.end(), [&cookie](const QNetworkCookie& o) {
            return o.name() == cookie.name() && o.path() == cookie.path();
        });
        if (same != list.end()) {
            if (expired) {
                list.erase(same);
                --m_count;
            } else
                *same = cookie;
            any = true;
            continue;
        }
        if (expired || m_count >= kMaxInAll || reaching(url.host()) >= kMaxPerHost) continue;
        list.append(cookie);
        ++m_count;
        any = true;
    }
    return any;
}

QList<QNetworkCookie> RunCookieJar::cookiesForUrl(const QUrl& url) const {
    QList<QNetworkCookie> out;
    const bool secure = url.scheme() == QLatin1String("https");
    QString path = url.path();
    if (path.isEmpty()) path = QStringLiteral("/");
    const QDateTime now = QDateTime::currentDateTimeUtc();
    for (const QString& key : domainsOf(url.host())) {
        const auto it = m_byDomain.constFind(key);
        if (it == m_byDomain.cend()) continue;
        for (const QNetworkCookie& c : *it) {
            if (c.isSecure() && !secure) continue;
            if (!c.isSessionCookie() && c.expirationDate() < now) continue;
            const QString& p = c.path();
            if (!path.startsWith(p) ||
                (path.size() > p.size() && !p.endsWith(u'/') && path.at(p.size()) != u'/'))
                continue;
            out << c;
            if (out.size() >= kMaxPerHost) return out;
        }
    }
    return out;
}

QStringList RunCookieJar::domainsOf(const QString& hostText) {
    const QString host = hostText.toLower();
    QStringList keys = {host};
    if (!QHostAddress(host).isNull()) return keys;
    keys << u'.' + host;
    for (qsizetype dot = host.indexOf(u'.'); dot >= 0; dot = host.indexOf(u'.', dot + 1))
        keys << host.mid(dot);
    return keys;
}

int RunCookieJar::reaching(const QString& host) const {
    int n = 0;
    for (const QString& key : domainsOf(host))
        n += int(m_byDomain.value(key).size());
    return n;
}

} // namespace zentaro::web
