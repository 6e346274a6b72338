// External links of a link page: the count, and where it is stored.
#pragma once

#include <vector>

#include <QString>

#include "db/forward.h"
#include "web/page_fetcher.h"
#include "web/url_forms.h"

namespace zentaro::web {

// The number of external links on a page, in two steps: the request, then the count from what it brought:
// -1 when none could be counted (no address, failed request, which also sets the web stop flag, or no link
// element).
FetchedPage fetchPage(PageFetcher& fetcher, const QString& SURL);
int countFromPage(PageFetcher& fetcher, UserInterface& ui, const QString& SURL, const FetchedPage& fetched,
                  bool showmsg);
// Counts for the current link page and stores the count in UrlCount; "Ошибка!" when no count was made.
void sbExtLinksClick(db::Database& db, PageFetcher& fetcher, UserInterface& ui);

} // namespace zentaro::web
