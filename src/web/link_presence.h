// Presence: whether a link page still carries its anchors' links, and the verdict stored.
#pragma once

#include <QString>
#include <QStringList>

#include "db/forward.h"
#include "web/page_fetcher.h"

namespace zentaro::web {

// Checks whether the current link page still carries each of its anchors' addresses and stores the status
// ("1" all found, "2" some missing or none recorded). With showmsg the outcome is shown anchor by anchor.
// A failed request or a page without link elements changes nothing and says nothing.
void CheckPageLink(db::Database& db, PageFetcher& fetcher, UserInterface& ui, const QString& SURL,
                   bool showmsg);

// The same in two steps, so that runs can fetch ahead and apply in order on the window's thread: the request
// (none for a page without recorded anchors), then the verdict stored from what was fetched.
FetchedPage fetchForPresence(const db::Database& db, PageFetcher& fetcher, const QString& SURL);
// The request alone, for any thread: whether it is needed (an address and recorded anchors) is read from the
// tables beforehand.
bool presenceNeedsRequest(const db::Database& db, int linkId, const QString& SURL);
// With needles (a page whose link was found at its last verdict) a page that lacks one of them is fetched
// once more after the fetcher's confirm pause, and that second answer counts.
FetchedPage fetchPresencePage(PageFetcher& fetcher, const QString& SURL, bool needed,
                              const QStringList& confirmNeedles = {});
// The anchors' addresses of a link page as the check looks for them.
QStringList presenceNeedles(const db::Database& db, int linkId);
// The page came, has link elements, and one of the needles is not in them.
bool presenceMissing(const FetchedPage& page, const QStringList& needles);
// The link page (engine row) had its links found at its last verdict.
bool foundAtLastVerdict(const db::Database& db, int row);
// What the check came to: no address (nothing done), no recorded anchors (status "2"), the page not fetched
// or without link elements (status kept), all anchors found ("1"), some missing ("2").
enum class PresenceOutcome { NoAddress, NoAnchors, NotFetched, NoLinks, Found, Missing };
PresenceOutcome applyPresence(db::Database& db, UserInterface& ui, const QString& SURL,
                              const FetchedPage& fetched, bool showmsg);

// Gives every link page the list shows that has no anchor record one anchor with its project's site address
// (when the project has one); says how many were added.
int addSiteAnchorsToPagesWithoutAnchors(db::Database& db, UserInterface& ui);

// The links toolbar button and menu item: the check of the current link page, with its report.
void SpeedButton3Click(db::Database& db, PageFetcher& fetcher, UserInterface& ui);

} // namespace zentaro::web
