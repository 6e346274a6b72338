// Taking link pages out together with their anchors, and putting them back as one.
#pragma once

#include <vector>

#include <QVariant>

namespace zentaro::db {

class Database;

// Link pages taken out together with their anchors, kept so that they can be put back as one.
struct RemovedLinks {
    std::vector<std::vector<QVariant>> links, anchors; // stored values, field by field
    bool empty() const { return links.empty(); }
};

// Deletes the link pages with these numbers and their anchors (the table's own delete rules run) in one
// transaction, whatever the links list shows; numbers of no record are passed over.
RemovedLinks deleteLinks(Database& db, const std::vector<int>& ids);
// Puts the records back under their own numbers in one transaction. False, and nothing changes, when a number
// was given to another record meanwhile.
bool restoreLinks(Database& db, const RemovedLinks& removed);
// The link pages whose number is above this one: what an import added after the highest number it found.
std::vector<int> linksAbove(const Database& db, int id);
// The highest link page number; 0 for none.
int highestLinkId(const Database& db);

} // namespace zentaro::db
