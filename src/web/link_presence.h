#pragma once

#include <QString>

namespace zentaro {
class UserInterface;
}
namespace zentaro::db {
class Database;
}

namespace zentaro::web {

class PageFetcher;

// Checks whether the current link page still carries each of its anchors' addresses and stores the status
// ("1" all found, "2" some missing or none recorded). With showmsg the outcome is shown anchor by anchor.
// A failed request or a page without link elements changes nothing and says nothing.
void CheckPageLink(db::Database& db, PageFetcher& fetcher, UserInterface& ui, const QString& SURL,
                   bool showmsg);

// The links toolbar button and menu item: the check of the current link page, with its report.
void SpeedButton3Click(db::Database& db, PageFetcher& fetcher, UserInterface& ui);

} // namespace zentaro::web
