// Pages a check could not read, and the links that went missing: the counts, lists and filter.
#include "db/link_losses.h"

#include <cmath>

#include "db/database.h"

namespace zentaro::db {

bool isUnreachable(CheckReason r) {
    return isNotFetched(r);
}

QDateTime lossBegan(const CheckHistory& checks, int id, const LastCheck& last) {
    if (!last.lostSince.isValid()) return {};
    // Newest first: the missing outcomes back to the last found one; outcomes without a verdict between them
    // neither end nor start the loss.
    QDateTime began;
    for (const CheckOutcome& o : checks.history(CheckSubject::LinkPage, id)) {
        if (o.kind != CheckKind::Presence) continue;
        if (isFound(o.reason)) break;
        if (o.reason == CheckReason::Missing) began = o.at;
    }
    // The history is trimmed: without the outcome at hand, the day the loss began stands for its start.
    if (!began.isValid() || began.date() != last.lostSince) began = last.lostSince.startOfDay();
    return began;
}

LinkLosses linkLossesSince(const Database& db, const QDateTime& since) {
    LinkLosses l;
    if (!db.checks.isOpen() || !since.isValid()) return l;
    std::vector<CheckReason> notFound;
    for (int r = 0; r < 64; ++r)
        if (!isFound(CheckReason(r))) notFound.push_back(CheckReason(r));
    // Only pages whose last outcome did not find their links can be lost or unreachable: one pass over the
    // history instead of a look-up per page.
    const std::unordered_set<int> candidates = db.checks.withLast(CheckSubject::LinkPage, notFound);
    if (candidates.empty()) return l;
    const Table& t = db.tbLink;
    const int idField = t.fieldIndex(QStringLiteral("ID"));
    const int priceField = t.fieldIndex(QStringLiteral("Price"));
    for (int row = 0; row < t.rowCapacity(); ++row) {
        if (!t.rowAlive(row)) continue;
        const QVariant idValue = t.rowValue(row, idField);
        if (!idValue.isValid() || !candidates.count(idValue.toInt())) continue;
        const int id = idValue.toInt();
        const auto last = db.checks.last(CheckSubject::LinkPage, id);
        if (!last || last->outcome.at < since) continue;
        // Only a loss of the same day needs its hour, read from the page's history.
        const bool lostSince = last->lostSince.isValid() && last->lostSince >= since.date() &&
                               (last->lostSince > since.date() || lossBegan(db.checks, id, *last) >= since);
        if (lostSince) {
            l.lost.insert(id);
            l.lostKopecks += qRound64(t.rowValue(row, priceField).toDouble() * 100);
        } else if (last->outcome.kind == CheckKind::Presence && isUnreachable(last->outcome.reason)) {
            l.unreachable.insert(id);
        }
    }
    return l;
}

} // namespace zentaro::db
