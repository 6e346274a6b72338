// A claim (претензия) for lost links: one page per link with what was agreed, what the page held when the
// link was last found and when it went missing, and what changed — plain enough to print, save as PDF or
// paste into an exchange's support form. It never carries an account's login or password.
#pragma once

#include <optional>
#include <vector>

#include <QDate>
#include <QString>

#include "db/evidence_store.h"

namespace zentaro::db {
class Database;
}

namespace zentaro::reports {

struct ClaimAnchor {
    QString text; // the agreed anchor text
    QString url;  // the agreed address
};

struct ClaimLink {
    QString site;    // the trust site
    QString pageUrl; // the link page
    QDate placed;    // PublicDate
    std::optional<double> price;
    std::vector<ClaimAnchor> anchors;
    std::optional<db::EvidenceRow> lastFound;
    std::optional<db::EvidenceRow> firstMissing;
    std::vector<db::ChangeEvent> changes; // newest first
};

// What the tables and the history hold of one link page (tbLink's engine row).
ClaimLink claimLinkAt(const db::Database& db, int linkRow);
// The claim as plain text (one link after another, separated by a line of dashes) and as HTML with a page
// break between links, for printing and PDF.
QString claimText(const std::vector<ClaimLink>& links, const QDate& today);
QString claimHtml(const std::vector<ClaimLink>& links, const QDate& today);

} // namespace zentaro::reports
