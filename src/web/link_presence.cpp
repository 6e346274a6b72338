#include "web/link_presence.h"

#include <QStringMatcher>

#include "db/database.h"
#include "db/record_rules.h"
#include "util/text_helpers.h"
#include "util/user_interface.h"
#include "web/page_fetcher.h"
#include "web/url_forms.h"

namespace zentaro::web {

namespace {

void storeStatus(db::Table& links, const char* code) {
    links.edit();
    links.setValue(QStringLiteral("PageStatus"), QString::fromLatin1(code));
    links.post();
}

} // namespace

void CheckPageLink(db::Database& db, PageFetcher& fetcher, UserInterface& ui, const QString& SURL,
                   bool showmsg) {
    if (SURL.isEmpty()) return;
    db::Table& links = db.tbLink;
    db::Table& anchors = db.tbAncor;
    if (!anchors.filtered()) anchors.setFiltered(true);
    anchors.setFilter(QStringLiteral("LinkID=") + db::idText(links));
    if (anchors.recordCount() == 0) {
        if (showmsg) Msg(ui, QStringLiteral("У этой веб-страницы не указаны ссылки."));
        storeStatus(links, "2");
        return;
    }
    const std::optional<QString> page = fetcher.FetchPage(DelLabelsBeginEnd(SURL.toLower()), true);
    if (!page) return;
    const QStringList elements = ExtractElements(lowerText(*page), ElementKind::Anchor);
    if (elements.isEmpty()) return;
    // All elements in one text, separated by a character no stored address holds, so that each anchor is one
    // Boyer-Moore search instead of one search per element.
    const QChar separator(u'\0');
    const QString joined = elements.join(separator);
    QString report;
    bool missing = false;
    const int urlField = anchors.fieldIndex(QStringLiteral("URL"));
    anchors.first();
    while (!anchors.eof()) {
        const QString stored = anchors.value(urlField).toString();
        QString u = stored.toLower();
        if (u.endsWith(u'/')) u.chop(1);
        u = DelLabelsBeginEnd(u);
        bool found = false;
        if (!u.isEmpty() && !u.contains(separator)) {
            found = QStringMatcher(u, Qt::CaseSensitive).indexIn(joined) >= 0;
        } else if (!u.isEmpty()) {
            for (const QString& e : elements)
                if (e.contains(u)) {
                    found = true;
                    break;
                }
        }
        missing |= !found;
        report +=
            (found ? QStringLiteral("[Есть]_") : QStringLiteral("[Нет]_")) + stored + QStringLiteral("\r\n");
        anchors.next();
    }
    storeStatus(links, missing ? "2" : "1");
    if (showmsg) Msg(ui, QStringLiteral("Наличие ссылок на странице: \r\n") + report);
}

void SpeedButton3Click(db::Database& db, PageFetcher& fetcher, UserInterface& ui) {
    CheckPageLink(db, fetcher, ui, db.tbLink.asString(QStringLiteral("PageURL")), true);
}

} // namespace zentaro::web
