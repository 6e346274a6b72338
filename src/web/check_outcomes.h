// What a check came to, as the check history keeps it: counts, presence findings, failed fetches.
#pragma once

#include <vector>

#include <QString>

#include "db/check_history.h"
#include "web/page_fetcher.h"

namespace zentaro::db {
class Database;
}

namespace zentaro::web {

// Keeps an outcome in the check history (when there is one), dated now.
void keepOutcome(db::Database& db, db::CheckSubject subject, int id, db::CheckKind kind,
                 db::CheckReason reason, const QString& detail);
// The outcome of an external count of the current link page: counted, no link elements, or not fetched.
void keepExtCount(db::Database& db, const FetchedPage& page, int count);

// The reason of a fetch that brought no page, with its detail (the error, the status).
db::CheckReason failureReason(const FetchInfo& info);
QString fetchDetail(const FetchedPage& page);

// One anchor's finding on the page.
struct AnchorFinding {
    QString anchor;
    bool found = false;
    bool nofollow = false;
};
// The outcome of a presence check that fetched the page and found link elements.
db::CheckOutcome presenceOutcome(const FetchedPage& page, const std::vector<AnchorFinding>& anchors,
                                 bool noindex);

} // namespace zentaro::web
