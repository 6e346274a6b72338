// The evidence of a presence verdict, kept with its change events.
#include "web/page_evidence.h"

#include <QDateTime>

#include "db/database.h"
#include "web/page_decoder.h"

namespace zentaro::web {

namespace {

db::CharsetSource sourceOf(CharsetSource s) {
    switch (s) {
    case CharsetSource::Bom:
        return db::CharsetSource::Bom;
    case CharsetSource::Header:
        return db::CharsetSource::Header;
    case CharsetSource::Meta:
        return db::CharsetSource::Meta;
    case CharsetSource::Fallback:
        return db::CharsetSource::Fallback;
    }
    return db::CharsetSource::Unknown;
}

// What came nearest to a missing anchor: the address commented out, a link to the same site elsewhere, a
// redirect-through link, or a page without links at all.
void explainMiss(db::LinkSeen& seen, const AnchorVerdict& a, const PageScan& scan) {
    const AnchorAddress want = anchorAddress(a.stored);
    if (!want.valid) {
        seen.nearest = QStringLiteral("адрес анкора не является адресом http или https");
        return;
    }
    for (const QString& href : scan.commentHrefs)
        if (href.toLower().contains(want.rest)) {
            seen.inComment = true;
            seen.nearest = QStringLiteral("адрес есть только в комментарии: ") + href;
            return;
        }
    const QString host = want.rest.section(QLatin1Char('/'), 0, 0).section(QLatin1Char('?'), 0, 0);
    const QString site = siteOfHost(host.section(QLatin1Char(':'), 0, 0));
    for (const PageLink& l : scan.links)
        if (l.web() && !site.isEmpty() && l.site == site) {
            seen.nearest = QStringLiteral("ссылка на тот же сайт с другим адресом: ") + l.url().toString();
            return;
        }
    if (a.presence.throughRedirect) {
        seen.nearest = QStringLiteral("ссылка только через переадресацию");
        return;
    }
    if (scan.linkElements == 0) seen.nearest = QStringLiteral("на странице нет ни одной ссылки");
}

} // namespace

db::Evidence pageEvidence(const QString& requested, const FetchedPage& page, const PageScan& scan,
                          const std::vector<AnchorVerdict>& anchors) {
    db::Evidence e;
    e.requested = requested;
    e.finalUrl = page.info.finalUrl.isEmpty() ? requested : page.info.finalUrl;
    e.status = page.info.status;
    e.charset = QString::fromLatin1(scan.encoding.isEmpty() ? page.encoding : scan.encoding);
    e.charsetSource = sourceOf(scan.encoding.isEmpty() ? page.charsetSource : scan.charsetSource);
    e.robotsHeader = QString::fromLatin1(page.info.robots).simplified();
    QStringList meta;
    if (scan.robotsNoindex) meta << QStringLiteral("noindex");
    if (scan.robotsNofollow) meta << QStringLiteral("nofollow");
    e.robotsMeta = meta.join(QStringLiteral(", "));
    e.noindex = scan.robotsNoindex || robotsHeaderWords(page.info.robots).noindex;
    e.size = page.size;
    e.sha256 = page.sha256;
    for (const AnchorVerdict& a : anchors) {
        db::LinkSeen seen;
        seen.needle = a.stored;
        seen.found = a.presence.found;
        if (a.presence.found && a.presence.link >= 0 && size_t(a.presence.link) < scan.links.size()) {
            const PageLink& l = scan.links[size_t(a.presence.link)];
            seen.tag = l.tag;
            seen.href = l.url().toString();
            seen.rel = l.rel;
            seen.text = l.text;
        } else if (!a.presence.found) {
            explainMiss(seen, a, scan);
        }
        e.links.push_back(std::move(seen));
    }
    return e;
}

void keepEvidence(db::Database& db, int linkId, const db::Evidence& evidence, bool found,
                  const std::vector<AnchorVerdict>& anchors, const QString& pageText) {
    if (!db.checks.isOpen() || linkId == 0) return;
    const auto subject = db::CheckSubject::LinkPage;
    const bool wasFound = db.checks.lastVerdictFound(subject, linkId);
    const QByteArray encoded = db::encodeEvidence(evidence);
    // A subject never checked has no evidence either: not looked for on a first run.
    const bool checkedBefore = !db.checks.neverChecked(subject, linkId);
    const std::optional<db::EncodedEvidence> last =
        checkedBefore ? db.checks.evidence().lastFoundEncoded(db.checks.connection(), int(subject), linkId)
                      : std::nullopt;
    const bool asLastFound = last && last->data == encoded;
    QStringList events;
    // A page seen as at the last find (the usual check) has nothing to tell: the find is not read back.
    if (!asLastFound) {
        const std::optional<db::Evidence> decoded = last ? db::decodeEvidence(last->data) : std::nullopt;
        const db::Evidence before = decoded ? *decoded : db::Evidence{};
        // Compared as stored, with the same cuts of long texts and addresses on both sides; without a find
        // to compare with, only the agreed text is compared, with the text as found.
        const std::optional<db::Evidence> stored = last ? db::decodeEvidence(encoded) : std::nullopt;
        const db::Evidence& now = stored ? *stored : evidence;
        // The page's own changes once, then each anchor's against the same page.
        db::Evidence pageBefore = before, pageNow = now;
        pageBefore.links.clear();
        pageNow.links.clear();
        events = db::changeEvents(pageBefore, pageNow);
        for (const AnchorVerdict& a : anchors) {
            db::Evidence one = before;
            one.links.clear();
            if (const db::LinkSeen* s = now.link(a.stored)) one.links.push_back(*s);
            for (const QString& ev : db::changeEvents(before, one, a.agreed))
                events << (anchors.size() > 1 ? ev + QStringLiteral(" (") + a.stored + QStringLiteral(")")
                                              : ev);
        }
    }
    // While the link stays missing, the checks after the first miss compare with the same find: what was
    // told since that find is not told again.
    if (!events.isEmpty() && last)
        for (const db::ChangeEvent& told :
             db.checks.evidence().events(db.checks.connection(), int(subject), linkId)) {
            if (told.at <= last->at) break;
            events.removeAll(told.text);
        }
    const QDateTime now = QDateTime::currentDateTime();
    const db::KnownNewest newest = !checkedBefore                         ? db::KnownNewest::None
                                   : found && asLastFound && last->newest ? db::KnownNewest::Same
                                                                          : db::KnownNewest::Unknown;
    db.checks.recordEvidence(subject, linkId, now, found, encoded, events, newest);
    // The page is kept where its verdict changed: found after none, missing after a find.
    if (!pageText.isEmpty() && found != wasFound)
        db.checks.keepSnapshot(subject, linkId, now, found, pageText, evidence.sha256);
}

} // namespace zentaro::web
