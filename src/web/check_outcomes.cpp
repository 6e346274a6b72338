#include "web/check_outcomes.h"

#include "db/database.h"

#include <QRegularExpression>
#include <QStringMatcher>

namespace zentaro::web {

void keepOutcome(db::Database& db, db::CheckSubject subject, int id, db::CheckKind kind,
                 db::CheckReason reason, const QString& detail) {
    if (!db.checks.isOpen() || id == 0) return;
    db::CheckOutcome o;
    o.at = QDateTime::currentDateTime();
    o.kind = kind;
    o.reason = reason;
    o.detail = detail;
    db.checks.record(subject, id, o);
}

void keepExtCount(db::Database& db, const FetchedPage& page, int count) {
    if (!page.requested) return;
    const db::CheckReason reason = count >= 0  ? db::CheckReason::Counted
                                   : page.body ? db::CheckReason::NoLinks
                                               : failureReason(page.info);
    keepOutcome(db, db::CheckSubject::LinkPage, db.tbLink.asInteger(QStringLiteral("ID")),
                db::CheckKind::ExtLinks, reason,
                (count >= 0 ? QString::number(count) + QStringLiteral("; ") : QString()) + fetchDetail(page));
}

db::CheckReason failureReason(const FetchInfo& info) {
    switch (info.failure) {
    case FetchFailure::Timeout:
        return db::CheckReason::Timeout;
    case FetchFailure::Refused:
        return db::CheckReason::Refused;
    case FetchFailure::Tls:
        return db::CheckReason::Tls;
    case FetchFailure::Http:
        return db::CheckReason::HttpError;
    case FetchFailure::BadRedirect:
        return db::CheckReason::BadRedirect;
    case FetchFailure::TooLarge:
        return db::CheckReason::TooLarge;
    case FetchFailure::Blocked:
        return db::CheckReason::Blocked;
    case FetchFailure::Throttled:
        return db::CheckReason::Throttled;
    default:
        return db::CheckReason::NotFetched;
    }
}

QString fetchDetail(const FetchedPage& page) {
    if (!page.body) return page.error.left(300);
    QString d = QStringLiteral("HTTP %1").arg(page.info.status);
    if (!page.info.finalUrl.isEmpty()) d += QStringLiteral(", ") + page.info.finalUrl.left(300);
    // The earlier tries of a page that came on a later one.
    if (!page.info.attempts.isEmpty())
        d += QStringLiteral(" (попытки: %1)").arg(page.info.attempts.join(QStringLiteral("; ")).left(600));
    return d;
}

bool pageNoindex(const QString& lower, const QByteArray& robotsHeader) {
    if (robotsHeader.toLower().contains("noindex")) return true;
    if (!lower.contains(u"noindex")) return false;
    static const QRegularExpression meta(
        QStringLiteral("<meta[^>]{0,300}name\\s*=\\s*[\"']?(robots|googlebot|yandex)[\"']?[^>]{0,300}>"));
    // The head is where such tags stand; the first 256 KB are looked at.
    const QStringView head = QStringView(lower).left(256 * 1024);
    for (auto it = meta.globalMatch(head); it.hasNext();) {
        const QRegularExpressionMatch m = it.next();
        if (m.capturedView(0).contains(u"noindex")) return true;
    }
    return false;
}

bool onlyNotFollowed(const QString& lower, const std::vector<ElementRange>& elements, const QString& needle) {
    if (needle.isEmpty() || elements.empty()) return false;
    auto notFollowed = [&](const ElementRange& e) {
        // The opening tag: up to the first ">" of the element.
        qsizetype end = lower.indexOf(u'>', e.start);
        if (end < 0 || end > e.end) end = e.end;
        const QStringView tag = QStringView(lower).mid(e.start, end - e.start);
        const qsizetype rel = tag.indexOf(u"rel");
        if (rel < 0) return false;
        const QStringView value = tag.mid(rel);
        return value.contains(u"nofollow") || value.contains(u"sponsored") || value.contains(u"ugc");
    };
    const QStringMatcher matcher(needle, Qt::CaseSensitive);
    bool any = false;
    int hits = 0;
    for (qsizetype at = matcher.indexIn(lower, 0); at >= 0 && hits < 64;
         at = matcher.indexIn(lower, at + 1), ++hits) {
        // Elements are in page order by start: those starting before the hit and reaching past it hold it.
        auto past = std::upper_bound(elements.begin(), elements.end(), at,
                                     [](qsizetype p, const ElementRange& e) { return p < e.start; });
        int looked = 0;
        for (auto it = past; it != elements.begin() && looked < 64; ++looked) {
            --it;
            if (it->end < at + needle.size()) continue;
            if (!notFollowed(*it)) return false;
            any = true;
        }
    }
    return any;
}

db::CheckOutcome presenceOutcome(const FetchedPage& page, const std::vector<AnchorFinding>& anchors,
                                 bool noindex) {
    db::CheckOutcome o;
    o.at = QDateTime::currentDateTime();
    o.kind = db::CheckKind::Presence;
    bool missing = false, nofollow = false;
    QString list;
    for (const AnchorFinding& a : anchors) {
        missing |= !a.found;
        nofollow |= a.found && a.nofollow;
        list += (!a.found     ? QStringLiteral("[Нет] ")
                 : a.nofollow ? QStringLiteral("[nofollow] ")
                              : QStringLiteral("[Есть] ")) +
                a.anchor.left(200) + QStringLiteral("; ");
    }
    o.reason = missing    ? db::CheckReason::Missing
               : noindex  ? db::CheckReason::FoundNoindex
               : nofollow ? db::CheckReason::FoundNofollow
                          : db::CheckReason::Found;
    o.detail =
        fetchDetail(page) + (noindex ? QStringLiteral(", noindex") : QString()) + QStringLiteral("; ") + list;
    return o;
}

} // namespace zentaro::web
