// Pages a check could not read, and the links that went missing: the counts, lists and filter.
#pragma once

#include <unordered_set>

#include <QDateTime>

#include "db/check_history.h"

namespace zentaro::db {

class Database;

// A page the check could not read: no answer, refused, TLS, an HTTP error, a bad redirect, a reply over the
// cap, a bot-protection wall, a site that asked to wait. The bar over the links, its list, the filter
// "страница не загружена" and the command line count the same pages.
bool isUnreachable(CheckReason r);

// When the current loss of a link page began: the first "missing" after its last "found", to the second.
// Invalid when the page is not lost (never found, or found again).
QDateTime lossBegan(const CheckHistory& checks, int id, const LastCheck& last);

// The link pages that checks since a moment lost or found unreachable, each page in one set only:
// lost — its link was found, then missing, and the loss began at or after the moment (a loss that began
// earlier, the same day included, is not new); unreachable — not lost so, and its last presence check, made
// at or after the moment, could not read it. Links never found are neither.
struct LinkLosses {
    std::unordered_set<int> lost, unreachable;
    qint64 lostKopecks = 0; // the prices of the lost pages
    bool any() const { return !lost.empty() || !unreachable.empty(); }
};
LinkLosses linkLossesSince(const Database& db, const QDateTime& since);

} // namespace zentaro::db
