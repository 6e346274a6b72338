#include "web/link_presence.h"

#include <QEventLoop>
#include <QTimer>

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

namespace {

QString needleOf(const QString& stored) {
    QString u = stored.toLower();
    if (u.endsWith(u'/')) u.chop(1);
    return DelLabelsBeginEnd(u);
}

FetchedPage fetchOnce(PageFetcher& fetcher, const QString& SURL) {
    FetchedPage f;
    f.requested = true;
    f.body = fetcher.FetchPage(DelLabelsBeginEnd(SURL.toLower()), true);
    if (!f.body) f.error = fetcher.lastError();
    f.info = fetcher.lastInfo();
    return f;
}

} // namespace

QStringList presenceNeedles(const db::Database& db, int linkId) {
    QStringList out;
    const int urlField = db.tbAncor.fieldIndex(QStringLiteral("URL"));
    for (const int row : db.tbAncor.findRows(QStringLiteral("LinkID"), linkId))
        out << needleOf(db.tbAncor.rowValue(row, urlField).toString());
    return out;
}

bool presenceMissing(const FetchedPage& page, const QStringList& needles) {
    if (!page.body || needles.isEmpty()) return false;
    const PageScan scan = pageScanOf(page);
    if (scan.elements.empty()) return false;
    const ElementText inElements(scan.lower, scan.elements);
    for (const QString& u : needles)
        if (!inElements.contains(u)) return true;
    return false;
}

bool foundAtLastVerdict(const db::Database& db, int row) {
    const db::Table& links = db.tbLink;
    if (links.rowValue(row, links.fieldIndex(QStringLiteral("PageStatus"))).toString() == QLatin1String("1"))
        return true;
    const int id = links.rowValue(row, links.fieldIndex(QStringLiteral("ID"))).toInt();
    return db.checks.isOpen() && db.checks.lastVerdictFound(db::CheckSubject::LinkPage, id);
}

FetchedPage fetchForPresence(const db::Database& db, PageFetcher& fetcher, const QString& SURL) {
    const int id = db.tbLink.asInteger(QStringLiteral("ID"));
    const int row = db.tbLink.currentRow();
    return fetchPresencePage(fetcher, SURL, presenceNeedsRequest(db, id, SURL),
                             row >= 0 && foundAtLastVerdict(db, row) ? presenceNeedles(db, id)
                                                                     : QStringList());
}

FetchedPage fetchPresencePage(PageFetcher& fetcher, const QString& SURL, bool needed,
                              const QStringList& confirmNeedles) {
    // A page without recorded anchors is judged without a request.
    if (!needed) return {};
    FetchedPage f = fetchOnce(fetcher, SURL);
    if (!presenceMissing(f, confirmNeedles)) return f;
    // A link that was there is taken as lost only when a second look, a little later, agrees.
    QEventLoop wait;
    QTimer::singleShot(fetcher.confirmPauseMs, &wait, &QEventLoop::quit);
    QTimer watch;
    QObject::connect(&watch, &QTimer::timeout, &wait, [&] {
        if (fetcher.stop && *fetcher.stop) wait.quit();
    });
    watch.start(10);
    wait.exec(QEventLoop::ExcludeUserInputEvents);
    FetchedPage again = fetchOnce(fetcher, SURL);
    again.info.attempts.prepend(QStringLiteral("первая загрузка: ссылки нет"));
    return again;
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
    // Most pages carry no rel word at all: then no element needs to be looked at; one pass finds them and the
    // word of a closed page.
    enum : unsigned { kRelWords = 1u | 2u | 4u, kNoindexWord = 8u }; // by their places in the list below
    const unsigned words =
        db.checks.isOpen() ? wordsIn(lower, {u"nofollow", u"sponsored", u"ugc", u"noindex"}) : 0;
    const bool unfollowed = words & kRelWords;
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
        if (showmsg)
            report += (found ? QStringLiteral("[Есть]_") : QStringLiteral("[Нет]_")) + stored +
                      QStringLiteral("\r\n");
        anchors.next();
    }
    storeStatus(links, missing ? "2" : "1");
    if (db.checks.isOpen()) {
        const db::CheckOutcome o = presenceOutcome(fetched, findings,
                                                   (words & kNoindexWord || fetched.info.robots.size()) &&
                                                       pageNoindex(lower, fetched.info.robots));
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
