// The evidence a presence verdict keeps: what was fetched and how it was read, each anchor as found or what
// came nearest, the change events against the last find, and the page's text where the verdict changed.
#pragma once

#include <vector>

#include <QString>

#include "db/evidence.h"
#include "web/page_reader.h"

namespace zentaro::db {
class Database;
}

namespace zentaro::web {

struct AnchorVerdict {
    QString stored; // the anchor's URL as the user stored it
    QString agreed; // the agreed anchor text (tbAncor.Ancor)
    AnchorPresence presence;
};

// What the page showed of each anchor.
db::Evidence pageEvidence(const QString& requested, const FetchedPage& page, const PageScan& scan,
                          const std::vector<AnchorVerdict>& anchors);

// Keeps the evidence of a link page's verdict with its change events, and the page's text when the verdict
// changed (the first find after none, the first miss after a find). found: every anchor there.
void keepEvidence(db::Database& db, int linkId, const db::Evidence& evidence, bool found,
                  const std::vector<AnchorVerdict>& anchors, const QString& pageText);

} // namespace zentaro::web
