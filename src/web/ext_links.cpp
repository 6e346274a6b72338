#include "web/ext_links.h"

#include "db/database.h"
#include "util/text_helpers.h"
#include "util/user_interface.h"
#include "web/check_outcomes.h"
#include "web/page_fetcher.h"
#include "web/url_forms.h"

namespace zentaro::web {

bool IsExtLink(const QString& SDom, const QString& S) {
    if (S.contains(QStringLiteral("nofollow"))) return false;
    const qsizetype href = S.indexOf(QStringLiteral("href"));
    if (href < 0) return false;
    const qsizetype gt = S.indexOf(u'>', href);
    const QStringView part = QStringView(S).mid(href, gt < 0 ? -1 : gt - href);
    const bool mentionsOwn = !SDom.isEmpty() && part.contains(SDom);
    return !mentionsOwn && part.contains(QStringLiteral("http"));
}

int countExtLinks(const QString& lower, const std::vector<ElementRange>& elements, const QString& domain) {
    // IsExtLink for every element at once: each marker is found once in the page and tested against the
    // element's part of it, so a hostile page costs time and memory linear in its size.
    const Occurrences nofollow(lower, QStringLiteral("nofollow")), href(lower, QStringLiteral("href")),
        gt(lower, QStringLiteral(">")), own(lower, domain), http(lower, QStringLiteral("http"));
    int count = 0;
    for (const ElementRange& e : elements) {
        if (nofollow.within(e.start, e.end)) continue;
        const qsizetype h = href.firstWithin(e.start, e.end);
        if (h < 0) continue;
        const qsizetype g = gt.firstWithin(h, e.end);
        const qsizetype partEnd = g < 0 ? e.end : g;
        const bool mentionsOwn = !domain.isEmpty() && own.within(h, partEnd);
        if (!mentionsOwn && http.within(h, partEnd)) ++count;
    }
    return count;
}

FetchedPage fetchPage(PageFetcher& fetcher, const QString& SURL) {
    FetchedPage f;
    if (SURL.isEmpty()) return f;
    f.requested = true;
    f.body = fetcher.FetchPage(DelLabelsBeginEnd(SURL.toLower()), true);
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
    const PageScan scan = pageScanOf(fetched);
    const QString& lower = scan.lower;
    const std::vector<ElementRange>& elements = scan.elements;
    if (elements.empty()) return -1;
    const int count = countExtLinks(lower, elements, ExtractDomain(DelLabelsBeginEnd(SURL.toLower())));
    if (showmsg) Msg(ui, QStringLiteral("Число внешних ссылок на странице: ") + QString::number(count));
    return count;
}

int PageExtLinks(PageFetcher& fetcher, UserInterface& ui, const QString& SURL, bool showmsg) {
    return countFromPage(fetcher, ui, SURL, fetchPage(fetcher, SURL), showmsg);
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
