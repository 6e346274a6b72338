#include "web/link_presence.h"

#include "db/database.h"
#include "db/record_rules.h"
#include "util/text_helpers.h"
#include "util/user_interface.h"
#include "web/check_outcomes.h"
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

bool presenceNeedsRequest(const db::Database& db, int linkId, const QString& SURL) {
    return !SURL.isEmpty() && db.tbAncor.findRow(QStringLiteral("LinkID"), linkId) >= 0;
}

FetchedPage fetchForPresence(const db::Database& db, PageFetcher& fetcher, const QString& SURL) {
    return fetchPresencePage(fetcher, SURL,
                             presenceNeedsRequest(db, db.tbLink.asInteger(QStringLiteral("ID")), SURL));
}

FetchedPage fetchPresencePage(PageFetcher& fetcher, const QString& SURL, bool needed) {
    FetchedPage f;
    // A page without recorded anchors is judged without a request.
    if (!needed) return f;
    f.requested = true;
    f.body = fetcher.FetchPage(DelLabelsBeginEnd(SURL.toLower()), true);
    if (!f.body) f.error = fetcher.lastError();
    f.info = fetcher.lastInfo();
    return f;
}

namespace {

// The outcome kept in the check history of the current link page.
void keep(db::Database& db, db::CheckReason reason, const QString& detail) {
    keepOutcome(db, db::CheckSubject::LinkPage, db.tbLink.asInteger(QStringLiteral("ID")),
                db::CheckKind::Presence, reason, detail);
}

} // namespace

PresenceOutcome applyPresence(db::Database& db, UserInterface& ui, const QString& SURL,
                              const FetchedPage& fetched, bool showmsg) {
    if (SURL.isEmpty()) return PresenceOutcome::NoAddress;
    db::Table& links = db.tbLink;
    db::Table& anchors = db.tbAncor;
    if (!anchors.filtered()) anchors.setFiltered(true);
    anchors.setFilter(QStringLiteral("LinkID=") + db::idText(links));
    if (anchors.recordCount() == 0 || !fetched.requested) {
        if (showmsg) Msg(ui, QStringLiteral("У этой веб-страницы не указаны ссылки."));
        storeStatus(links, "2");
        keep(db, db::CheckReason::NoAnchors, QString());
        return PresenceOutcome::NoAnchors;
    }
    // An unreachable page or one without links is no proof that the links are gone: no verdict, but the
    // user who asked is told why.
    if (!fetched.body) {
        if (showmsg) Msg(ui, QStringLiteral("Страница недоступна: ") + fetched.error);
        keep(db, failureReason(fetched.info), fetchDetail(fetched));
        return PresenceOutcome::NotFetched;
    }
    const PageScan scan = pageScanOf(fetched);
    const QString& lower = scan.lower;
    const std::vector<ElementRange>& elements = scan.elements;
    if (elements.empty()) {
        if (showmsg) Msg(ui, QStringLiteral("На странице нет ни одной ссылки."));
        keep(db, db::CheckReason::NoLinks, fetchDetail(fetched));
        return PresenceOutcome::NoLinks;
    }
    const ElementText inElements(lower, elements);
    QString report;
    bool missing = false;
    std::vector<AnchorFinding> findings;
    // Most pages carry no rel word at all: then no element needs to be looked at.
    const bool unfollowed = db.checks.isOpen() && (lower.contains(u"nofollow") ||
                                                   lower.contains(u"sponsored") || lower.contains(u"ugc"));
    const int urlField = anchors.fieldIndex(QStringLiteral("URL"));
    anchors.first();
    while (!anchors.eof()) {
        const QString stored = anchors.value(urlField).toString();
        QString u = stored.toLower();
        if (u.endsWith(u'/')) u.chop(1);
        u = DelLabelsBeginEnd(u);
        const bool found = inElements.contains(u);
        missing |= !found;
        if (db.checks.isOpen())
            findings.push_back({stored, found, found && unfollowed && onlyNotFollowed(lower, elements, u)});
        report +=
            (found ? QStringLiteral("[Есть]_") : QStringLiteral("[Нет]_")) + stored + QStringLiteral("\r\n");
        anchors.next();
    }
    storeStatus(links, missing ? "2" : "1");
    if (db.checks.isOpen()) {
        const db::CheckOutcome o =
            presenceOutcome(fetched, findings, pageNoindex(lower, fetched.info.robots));
        keep(db, o.reason, o.detail);
    }
    if (showmsg) Msg(ui, QStringLiteral("Наличие ссылок на странице: \r\n") + report);
    return missing ? PresenceOutcome::Missing : PresenceOutcome::Found;
}

void CheckPageLink(db::Database& db, PageFetcher& fetcher, UserInterface& ui, const QString& SURL,
                   bool showmsg) {
    applyPresence(db, ui, SURL, fetchForPresence(db, fetcher, SURL), showmsg);
}

void SpeedButton3Click(db::Database& db, PageFetcher& fetcher, UserInterface& ui) {
    CheckPageLink(db, fetcher, ui, db.tbLink.asString(QStringLiteral("PageURL")), true);
}

} // namespace zentaro::web
