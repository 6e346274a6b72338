// Site metrics: the two service queries, their answers read, and the values stored.
#include "web/site_metrics.h"

#include <algorithm>

#include <QDate>

#include "db/database.h"
#include "util/user_interface.h"
#include "web/check_outcomes.h"
#include "web/page_fetcher.h"
#include "web/url_forms.h"

namespace zentaro::web {

std::int64_t Str2Num(const QString& s, std::int64_t c, std::int64_t m) {
    for (const QChar ch : s) {
        c = c * m;
        if (c >= 4294967296LL) c = c % 4294967296LL;
        c = c + ch.unicode();
    }
    return c;
}

std::int64_t HashURL(const QString& S) {
    auto u = [](std::int64_t v) { return static_cast<std::uint64_t>(v); };
    std::uint64_t c1 = u(Str2Num(S, 5381, 33));
    const std::uint64_t c2 = u(Str2Num(S, 0, 65599));
    c1 = c1 >> 2;
    c1 = ((c1 >> 4) & 0x3FFFFC0) | (c1 & 0x3F);
    c1 = ((c1 >> 4) & 0x3FFC00) | (c1 & 0x3FF);
    c1 = ((c1 >> 4) & 0x3C000) | (c1 & 0x3FFF);
    const std::uint64_t t1 = ((((c1 & 0x3C0) << 4) | (c1 & 0x3C)) << 2) | (c2 & 0xF0F);
    const std::uint64_t t2 = ((((c1 & 0xFFFFC000) << 4) | (c1 & 0x3C00)) << 10) | (c2 & 0xF0F0000);
    return static_cast<std::int64_t>((t1 | t2) & 0xFFFFFFFFULL);
}

QString GetHash(std::int64_t val) {
    const QString s = QString::number(val);
    int cb = 0;
    int flag = 0;
    for (qsizetype i = s.size() - 1; i >= 0; --i) {
        int d = s[i].digitValue();
        if (flag % 2 == 1) {
            d = d + d;
            d = d / 10 + d % 10;
        }
        cb += d;
        ++flag;
    }
    cb %= 10;
    if (cb != 0) {
        cb = 10 - cb;
        if (flag % 2 == 1) {
            if (cb % 2 == 1) cb += 9;
            cb /= 2;
        }
    }
    return QStringLiteral("7") + QString::number(cb) + s;
}

namespace {

// Leading blanks, an optional sign, then ASCII digits; stops at the first other character. A number beyond
// the integer range saturates instead of wrapping.
int leadingNumber(const QString& text) {
    qsizetype i = 0;
    while (i < text.size() && text[i] == u' ')
        ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == u'-' || text[i] == u'+')) negative = text[i++] == u'-';
    qint64 v = 0;
    for (; i < text.size() && text[i] >= u'0' && text[i] <= u'9'; ++i)
        v = std::min<qint64>(v * 10 + (text[i].unicode() - u'0'), qint64(INT32_MAX) + 1);
    return int(negative ? std::max<qint64>(-v, INT32_MIN) : std::min<qint64>(v, INT32_MAX));
}

// The text without control characters and blanks at either end.
QString trimControls(const QString& text) {
    qsizetype from = 0, to = text.size();
    while (from < to && text[from].unicode() <= 0x20)
        ++from;
    while (to > from && text[to - 1].unicode() <= 0x20)
        --to;
    return text.mid(from, to - from);
}

QString serviceUrl(const QString& host, const QString& target) {
    return QStringLiteral("http://") + host + target;
}

} // namespace

int GetCY(PageFetcher& fetcher, const QString& AUrl) {
    QString url = AUrl.toLower();
    if (!url.contains(QStringLiteral("http://"))) url.prepend(QStringLiteral("http://"));
    const std::optional<QString> answer =
        fetcher.FetchPage(serviceUrl(fetcher.hosts.yandexToolbar,
                                     QStringLiteral("/u?ver=2&url=") + url + QStringLiteral("&show=1")),
                          false);
    QString value;
    if (answer) {
        const QString marker = QStringLiteral(" value=\"");
        const qsizetype at = answer->indexOf(marker);
        if (at >= 0) {
            const qsizetype from = at + marker.size();
            const qsizetype end = answer->indexOf(u'"', from);
            value = answer->mid(from, end < 0 ? -1 : end - from);
        }
    }
    return leadingNumber(value);
}

PageRankResult GetPageRank(PageFetcher& fetcher, const QString& AUrl) {
    PageRankResult r;
    const QString target =
        QStringLiteral("/tbr?features=Rank&sourceid=navclient-ff&client=navclient-auto-ff&ch=") +
        GetHash(HashURL(AUrl)) + QStringLiteral("&q=info:") + AUrl;
    const std::optional<QString> answer =
        fetcher.FetchPage(serviceUrl(fetcher.hosts.googleToolbar, target), false);
    if (!answer) {
        r.error = QStringLiteral("GetPageRank Error: ") + fetcher.lastError();
        return r;
    }
    const qsizetype at = answer->indexOf(QStringLiteral("Rank_"));
    if (at < 0) {
        r.ok = true;
        r.value = -1;
        return r;
    }
    const QString rest = trimControls(answer->mid(at + 9));
    bool ok = !rest.isEmpty();
    for (qsizetype i = 0; ok && i < rest.size(); ++i)
        ok = (rest[i] >= u'0' && rest[i] <= u'9') || (i == 0 && (rest[i] == u'-' || rest[i] == u'+'));
    const int v = ok ? rest.toInt(&ok, 10) : 0;
    if (!ok) {
        r.error = QStringLiteral("GetPageRank Error: '%1' is not a valid integer value").arg(rest);
        return r;
    }
    r.ok = true;
    r.value = v;
    return r;
}

namespace {

// A failed PageRank query keeps the record's earlier values and date: only a real answer is stored.
void storeMetrics(db::Table& t, int tic, int pr, bool withDate) {
    t.edit();
    t.setValue(QStringLiteral("TIC"), tic);
    t.setValue(QStringLiteral("PR"), pr);
    if (withDate) t.setValue(QStringLiteral("PRUpdate"), QDate::currentDate());
    t.post();
}

} // namespace

SiteMetrics fetchSiteMetrics(PageFetcher& fetcher, const QString& site) {
    SiteMetrics m;
    if (site.isEmpty()) return m;
    m.asked = true;
    m.pr = GetPageRank(fetcher, site);
    // The TIC is asked only after a PageRank answer.
    if (m.pr.ok) m.tic = GetCY(fetcher, site);
    return m;
}

namespace {

QString metricsText(int tic, int pr) {
    return QStringLiteral("тИЦ %1, PR %2").arg(tic).arg(pr);
}

} // namespace

void applySiteMetrics(db::Database& db, UserInterface& ui, const SiteMetrics& m, int CMode) {
    if (!m.asked) return;
    const int site = db.tbSite.asInteger(QStringLiteral("ID"));
    keepOutcome(db, db::CheckSubject::Site, site, db::CheckKind::Metrics,
                m.pr.ok ? db::CheckReason::Updated : db::CheckReason::NoAnswer,
                m.pr.ok ? metricsText(m.tic, m.pr.value) : m.pr.error);
    if (!m.pr.ok) {
        Msg(ui, QStringLiteral("Ошибка обновления."));
        return;
    }
    if (CMode == 0) Msg(ui, QStringLiteral("Обновление выполнено."));
    storeMetrics(db.tbSite, m.tic, m.pr.value, true);
}

void UpDatePRCY(db::Database& db, PageFetcher& fetcher, UserInterface& ui, int CMode) {
    applySiteMetrics(db, ui, fetchSiteMetrics(fetcher, db.tbSite.asString(QStringLiteral("Site"))), CMode);
}

void UpDateLinkPRCY(db::Database& db, PageFetcher& fetcher, UserInterface& ui, int CMode) {
    const QString domain = ExtractDomain(db.tbLink.asString(QStringLiteral("PageURL")));
    if (domain.isEmpty()) return;
    const PageRankResult pr = GetPageRank(fetcher, domain);
    const int link = db.tbLink.asInteger(QStringLiteral("ID"));
    if (!pr.ok) {
        keepOutcome(db, db::CheckSubject::LinkPage, link, db::CheckKind::Metrics, db::CheckReason::NoAnswer,
                    pr.error);
        Msg(ui, QStringLiteral("Ошибка!"));
        return;
    }
    const int tic = GetCY(fetcher, domain);
    keepOutcome(db, db::CheckSubject::LinkPage, link, db::CheckKind::Metrics, db::CheckReason::Updated,
                metricsText(tic, pr.value));
    if (CMode == 1)
        Msg(ui, QStringLiteral("Для домена ") + domain + QStringLiteral(":\r\nтИЦ=") + QString::number(tic) +
                    QStringLiteral("\r\nPR=") + QString::number(pr.value));
    storeMetrics(db.tbLink, tic, pr.value, true);
}

void sbPRCYProjectUpdateClick(db::Database& db, PageFetcher& fetcher, UserInterface& ui) {
    QString site = db.tbProject.asString(QStringLiteral("Site"));
    if (site.isEmpty()) return;
    site = PrepareURL(site);
    const PageRankResult pr = GetPageRank(fetcher, site);
    if (!pr.ok) {
        Msg(ui, QStringLiteral("Ошибка!"));
        return;
    }
    const int tic = GetCY(fetcher, site);
    storeMetrics(db.tbProject, tic, pr.value, false);
    Msg(ui, QStringLiteral("Для сайта ") + site + QStringLiteral(":\r\nтИЦ=") + QString::number(tic) +
                QStringLiteral("\r\nPR=") + QString::number(pr.value));
}

} // namespace zentaro::web
