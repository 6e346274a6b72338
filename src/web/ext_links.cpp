// External links of a link page: the count, and where it is stored.
#include "web/ext_links.h"

#include "db/database.h"
#include "util/text_helpers.h"
#include "util/user_interface.h"
#include "web/check_outcomes.h"
#include "web/page_fetcher.h"
#include "web/page_reader.h"
#include "web/url_forms.h"

namespace zentaro::web {

FetchedPage fetchPage(PageFetcher& fetcher, const QString& SURL) {
    FetchedPage f;
    if (SURL.isEmpty()) return f;
    f.requested = true;
    f.body = fetcher.FetchPage(fetchAddress(SURL), true);
    if (!f.body) f.error = fetcher.lastError();
    f.info = fetcher.lastInfo();
    return f;
}

int countFromPage(PageFetcher& fetcher, UserInterface& ui, const QString& SURL, const FetchedPage& fetched,
                  bool showmsg) {
    if (!fetched.requested) return -1;
    if (!fetched.body) {
        fetcher.GlobalStop = true;
        return -1;
    }
    PageScan scan = pageScanOf(fetched);
    if (scan.linkElements == 0) return -1;
    // A page given without its final address is on the address asked (its relative links, unresolved,
    // are internal all the same).
    if (scan.finalUrl.isEmpty()) scan.finalUrl = QUrl::fromUserInput(fetchAddress(SURL)).toString();
    const int count = countExternalLinks(scan);
    if (showmsg) Msg(ui, QStringLiteral("Число внешних ссылок на странице: ") + QString::number(count));
    return count;
}

void sbExtLinksClick(db::Database& db, PageFetcher& fetcher, UserInterface& ui) {
    const QString url = db.tbLink.asString(QStringLiteral("PageURL"));
    const FetchedPage page = fetchPage(fetcher, url);
    const int count = countFromPage(fetcher, ui, url, page, true);
    keepExtCount(db, page, count);
    if (count < 0) {
        Msg(ui, QStringLiteral("Ошибка!"));
        return;
    }
    db.tbLink.edit();
    db.tbLink.setValue(QStringLiteral("UrlCount"), count);
    db.tbLink.post();
}

} // namespace zentaro::web
