// Presence: whether a link page still carries its anchors' links, and the verdict stored.
#include "web/link_presence.h"

#include <QEventLoop>
#include <QTimer>

#include "db/database.h"
#include "db/record_rules.h"
#include "db/store.h"
#include "util/text_helpers.h"
#include "util/user_interface.h"
#include "web/check_outcomes.h"
#include "web/page_evidence.h"
#include "web/page_fetcher.h"
#include "web/page_reader.h"
#include "web/url_forms.h"

namespace zentaro::web {

namespace {

void storeStatus(db::Database& db, const char* code) {
    db::Table& links = db.tbLink;
    // A run with the links view switched off stores by row: the view is rebuilt once when the run ends,
    // not filtered again for every page.
    if (db.runGoing && links.controlsDisabled() && links.state() == db::Table::State::Browse &&
        links.currentRow() >= 0 &&
        links.setRowValue(links.currentRow(), links.fieldIndex(QStringLiteral("PageStatus")),
                          QString::fromLatin1(code)))
        return;
    links.edit();
    links.setValue(QStringLiteral("PageStatus"), QString::fromLatin1(code));
    links.post();
}

// The project's site address of a link page (engine row); empty when none.
QString projectSite(const db::Database& db, int linkRow) {
    if (linkRow < 0) return {};
    const db::Table& links = db.tbLink;
    const QVariant project = links.rowValue(linkRow, links.fieldIndex(QStringLiteral("ProjectID")));
    if (project.isNull()) return {};
    const int row = db.tbProject.findRow(QStringLiteral("ID"), project);
    if (row < 0) return {};
    return db.tbProject.rowValue(row, db.tbProject.fieldIndex(QStringLiteral("Site"))).toString().trimmed();
}

// The anchors' addresses of a link page, in record order, read by row: the anchors table keeps its filter
// and current record.
QStringList anchorUrls(const db::Database& db, int linkId) {
    QStringList out;
    const int urlField = db.tbAncor.fieldIndex(QStringLiteral("URL"));
    for (const int row : db.tbAncor.findRows(QStringLiteral("LinkID"), linkId))
        out << db.tbAncor.rowValue(row, urlField).toString();
    return out;
}

// The agreed anchor texts of a link page, in the order of anchorUrls.
QStringList anchorTexts(const db::Database& db, int linkId) {
    QStringList out;
    const int textField = db.tbAncor.fieldIndex(QStringLiteral("Ancor"));
    for (const int row : db.tbAncor.findRows(QStringLiteral("LinkID"), linkId))
        out << db.tbAncor.rowValue(row, textField).toString();
    return out;
}

FetchedPage fetchOnce(PageFetcher& fetcher, const QString& SURL) {
    return fetcher.fetchedPage(fetchAddress(SURL), true);
}

} // namespace

bool presenceNeedsRequest(const db::Database& db, int linkId, const QString& SURL) {
    if (SURL.isEmpty()) return false;
    if (db.tbAncor.findRow(QStringLiteral("LinkID"), linkId) >= 0) return true;
    return !projectSite(db, db.tbLink.findRow(QStringLiteral("ID"), linkId)).isEmpty();
}

QStringList presenceNeedles(const db::Database& db, int linkId) {
    QStringList out = anchorUrls(db, linkId);
    if (out.isEmpty()) {
        const QString site = projectSite(db, db.tbLink.findRow(QStringLiteral("ID"), linkId));
        if (!site.isEmpty()) out << site;
    }
    return out;
}

bool presenceMissing(const FetchedPage& page, const QStringList& needles) {
    if (!page.body || needles.isEmpty()) return false;
    std::optional<PageScan> made;
    const PageScan& scan = pageScanOf(page, made);
    if (scan.linkElements == 0) return false;
    const LinkIndex links(scan);
    for (const QString& u : needles)
        if (!links.presence(u, page.info.robots).found) return true;
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
    const int linkId = links.asInteger(QStringLiteral("ID"));
    QStringList anchors = anchorUrls(db, linkId);
    const QStringList agreed = anchorTexts(db, linkId);
    // A page without anchor records (an imported list) is checked for its project's site address.
    const bool bySite = anchors.isEmpty();
    const QString site = bySite ? projectSite(db, links.currentRow()) : QString();
    if (!fetched.requested || (bySite && site.isEmpty())) {
        {
            if (showmsg) Msg(ui, QStringLiteral("У этой веб-страницы не указаны ссылки."));
            storeStatus(db, "2");
            keep(db, db::CheckReason::NoAnchors, QString());
            return PresenceOutcome::NoAnchors;
        }
    }
    if (bySite) anchors << site;
    // An unreachable page or one without links is no proof that the links are gone: no verdict, but the
    // user who asked is told why.
    if (!fetched.body) {
        if (showmsg) Msg(ui, QStringLiteral("Страница недоступна: ") + fetched.error);
        keep(db, failureReason(fetched.info), fetchDetail(fetched));
        return PresenceOutcome::NotFetched;
    }
    std::optional<PageScan> made;
    const PageScan& scan = pageScanOf(fetched, made);
    std::vector<AnchorVerdict> verdicts;
    if (scan.linkElements == 0) {
        if (showmsg) Msg(ui, QStringLiteral("На странице нет ни одной ссылки."));
        for (const QString& stored : anchors)
            verdicts.push_back({stored, {}, {}});
        keepEvidence(db, linkId, pageEvidence(SURL, fetched, scan, verdicts), false, verdicts, QString());
        keep(db, db::CheckReason::NoLinks, fetchDetail(fetched));
        return PresenceOutcome::NoLinks;
    }
    QString report;
    bool missing = false, throughRedirect = false;
    std::vector<AnchorFinding> findings;
    const LinkIndex pageLinks(scan);
    for (const QString& stored : anchors) {
        const AnchorPresence p = pageLinks.presence(stored, fetched.info.robots);
        missing |= !p.found;
        throughRedirect |= !p.found && p.throughRedirect;
        findings.push_back({stored, p.found, p.nofollow});
        verdicts.push_back({stored, bySite ? QString() : agreed.value(int(verdicts.size())), p});
        if (showmsg)
            report += (p.found ? QStringLiteral("[Есть]_") : QStringLiteral("[Нет]_")) + stored +
                      QStringLiteral("\r\n");
    }
    storeStatus(db, missing ? "2" : "1");
    if (db.checks.isOpen()) {
        // Before the outcome, so that the change is told against the verdict before it.
        keepEvidence(db, linkId, pageEvidence(SURL, fetched, scan, verdicts), !missing, verdicts,
                     fetched.body && !fetched.body->isEmpty() ? *fetched.body : fetched.snapshotText);
        const bool noindex = scan.robotsNoindex || robotsHeaderWords(fetched.info.robots).noindex;
        db::CheckOutcome o = presenceOutcome(fetched, findings, noindex);
        if (throughRedirect) o.detail += QStringLiteral("ссылка только через переадресацию, не засчитана; ");
        if (bySite) {
            o.reason = db::CheckReason::NoAnchors;
            o.detail = QStringLiteral("без анкоров, проверен адрес сайта проекта; ") + o.detail;
        }
        keep(db, o.reason, o.detail);
    }
    if (showmsg) Msg(ui, QStringLiteral("Наличие ссылок на странице: \r\n") + report);
    if (bySite) return PresenceOutcome::NoAnchors;
    return missing ? PresenceOutcome::Missing : PresenceOutcome::Found;
}

void CheckPageLink(db::Database& db, PageFetcher& fetcher, UserInterface& ui, const QString& SURL,
                   bool showmsg) {
    applyPresence(db, ui, SURL, fetchForPresence(db, fetcher, SURL), showmsg);
}

int addSiteAnchorsToPagesWithoutAnchors(db::Database& db, UserInterface& ui) {
    db::Table& links = db.tbLink;
    db::Table& anchors = db.tbAncor;
    const int linkIdField = links.fieldIndex(QStringLiteral("ID"));
    std::vector<std::pair<int, QString>> todo;
    for (int pos = 0; pos < links.recordCount(); ++pos) {
        const int row = links.rowAt(pos);
        const int id = links.rowValue(row, linkIdField).toInt();
        if (id == 0 || anchors.findRow(QStringLiteral("LinkID"), id) >= 0) continue;
        const QString site = projectSite(db, row);
        if (!site.isEmpty()) todo.emplace_back(id, site);
    }
    int added = 0;
    if (!todo.empty()) {
        const int idField = anchors.fieldIndex(QStringLiteral("ID"));
        const int urlSize = anchors.field(anchors.fieldIndex(QStringLiteral("URL"))).size;
        int nextId = 0;
        for (int row = 0; row < anchors.rowCapacity(); ++row)
            if (anchors.rowAlive(row)) nextId = std::max(nextId, anchors.rowValue(row, idField).toInt());
        const db::Change change(db.store);
        for (const auto& [id, site] : todo) {
            // The records get what the insert rule gives, without its walk over the whole table for each.
            db.InsFlag = true;
            const bool inserted = anchors.insert();
            db.InsFlag = false;
            if (!inserted) continue;
            anchors.setValue(QStringLiteral("ID"), ++nextId);
            anchors.setValue(QStringLiteral("LinkID"), id);
            anchors.setValue(QStringLiteral("URL"), site.left(urlSize));
            anchors.post();
            ++added;
        }
    }
    Msg(ui, QStringLiteral("Добавлено анкоров: %1").arg(added));
    return added;
}

void SpeedButton3Click(db::Database& db, PageFetcher& fetcher, UserInterface& ui) {
    CheckPageLink(db, fetcher, ui, db.tbLink.asString(QStringLiteral("PageURL")), true);
}

} // namespace zentaro::web
