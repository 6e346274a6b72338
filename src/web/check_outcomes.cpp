// What a check came to, as the check history keeps it: counts, presence findings, failed fetches.
#include "web/check_outcomes.h"

#include "db/database.h"

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
