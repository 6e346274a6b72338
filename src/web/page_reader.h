#pragma once

#include <optional>
#include <vector>

#include <QString>

#include "web/page_fetcher.h"
#include "web/url_forms.h"

namespace zentaro::web {

// A page's text lower-cased and its link elements, as every question about links asks them.
struct PageScan {
    QString lower;
    std::vector<ElementRange> elements;
};

// What one request of a check brought: whether it was made, the page, or why it failed. A run that fetches
// ahead scans the page where it was fetched (scan set, body then empty), off the window's thread.
struct FetchedPage {
    bool requested = false;
    std::optional<QString> body;
    QString error;
    FetchInfo info;
    std::optional<PageScan> scan;
};
// Lower-cases and scans a fetched body in place; the body's text is then dropped.
void scanFetchedPage(FetchedPage& page);
// The scan of a fetched page: the one made where it was fetched, else made now.
PageScan pageScanOf(const FetchedPage& page);

} // namespace zentaro::web
