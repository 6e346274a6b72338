#include "web/page_reader.h"

namespace zentaro::web {

void scanFetchedPage(FetchedPage& page) {
    if (!page.body || page.scan) return;
    PageScan scan;
    scan.lower = lowerText(*page.body);
    scan.elements = ExtractElementRanges(scan.lower, ElementKind::Anchor);
    page.scan = std::move(scan);
    page.body = QString();
}

PageScan pageScanOf(const FetchedPage& page) {
    if (page.scan) return *page.scan;
    PageScan scan;
    if (!page.body) return scan;
    scan.lower = lowerText(*page.body);
    scan.elements = ExtractElementRanges(scan.lower, ElementKind::Anchor);
    return scan;
}

} // namespace zentaro::web
