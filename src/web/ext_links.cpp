#include "web/ext_links.h"

#include "db/database.h"
#include "util/text_helpers.h"
#include "util/user_interface.h"
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

int PageExtLinks(PageFetcher& fetcher, UserInterface& ui, const QString& SURL, bool showmsg) {
    if (SURL.isEmpty()) return -1;
    const QString address = DelLabelsBeginEnd(SURL.toLower());
    const std::optional<QString> page = fetcher.FetchPage(address, true);
    if (!page) {
        fetcher.GlobalStop = true;
        return -1;
    }
    const QStringList elements = ExtractElements(lowerText(*page), ElementKind::Anchor);
    if (elements.isEmpty()) return -1;
    const QString domain = ExtractDomain(address);
    int count = 0;
    for (const QString& e : elements)
        count += IsExtLink(domain, e) ? 1 : 0;
    if (showmsg) Msg(ui, QStringLiteral("Число внешних ссылок на странице: ") + QString::number(count));
    return count;
}

void sbExtLinksClick(db::Database& db, PageFetcher& fetcher, UserInterface& ui) {
    const int count = PageExtLinks(fetcher, ui, db.tbLink.asString(QStringLiteral("PageURL")), true);
    if (count < 0) {
        Msg(ui, QStringLiteral("Ошибка!"));
        return;
    }
    db.tbLink.edit();
    db.tbLink.setValue(QStringLiteral("UrlCount"), count);
    db.tbLink.post();
}

} // namespace zentaro::web
