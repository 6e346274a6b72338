// The trust-site list's filters and the sites pane's commands on the current site.
#include "db/site_view.h"

#include <unordered_set>

#include "db/database.h"
#include "db/record_rules.h"
#include "db/table.h"

namespace zentaro::db {

namespace {

bool hasId(const Table& t) {
    return t.currentRow() >= 0 && !t.isNull(QStringLiteral("ID"));
}

} // namespace

void cbSiteCatClick(Database& db, RecordRules& rules) {
    if (!hasId(db.tbCat)) return;
    if (rules.siteCatChecked()) {
        setFilterIfDifferent(db.tbSite, QStringLiteral("CatID=") + db.tbCat.asString(QStringLiteral("ID")));
        db.tbSite.setFiltered(true);
    } else {
        db.tbSite.setFiltered(false);
    }
}

bool ShowTrustSite(Database& db) {
    Table& links = db.tbLink;
    Table& sites = db.tbSite;
    const bool linksWereOn = links.filtered();
    links.setFiltered(false);
    if (links.currentRow() < 0 || sites.currentRow() < 0) {
        links.setFiltered(linksWereOn);
        return false;
    }
    sites.disableControls();
    links.disableControls();
    const int siteIdField = links.fieldIndex(QStringLiteral("SiteID"));
    std::unordered_set<qint64> named;
    for (int row = 0; row < links.rowCapacity(); ++row) {
        if (!links.rowAlive(row)) continue;
        const qint64 id = links.rawInt(row, siteIdField);
        if (id != kNullInt) named.insert(id);
    }
    const bool any = !named.empty();
    if (any) {
        // Each shown site once, even when its new mark takes it out of the view.
        std::vector<int> shown;
        shown.reserve(size_t(sites.recordCount()));
        for (int pos = 0; pos < sites.recordCount(); ++pos)
            shown.push_back(sites.rowAt(pos));
        const int idField = sites.fieldIndex(QStringLiteral("ID"));
        const int fs1 = sites.fieldIndex(QStringLiteral("FS1"));
        for (int row : shown) {
            const qint64 id = sites.rawInt(row, idField);
            sites.setRowValue(row, fs1,
                              id != kNullInt && named.count(id) ? QStringLiteral("1") : QStringLiteral("0"));
        }
        sites.refreshView();
        sites.setFilter(QStringLiteral("FS1=0"));
        sites.setFiltered(true);
    }
    links.setFiltered(linksWereOn);
    links.enableControls();
    sites.enableControls();
    return any;
}

void sbShowSiteClick(Database& db, RecordRules& rules) {
    if (rules.siteCatChecked()) {
        rules.setSiteCatChecked(false);
        cbSiteCatClick(db, rules);
    }
    rules.setSiteCatEnabled(false);
    ShowTrustSite(db);
}

void SpeedButton5Click(Database& db, RecordRules& rules) {
    rules.setSiteCatEnabled(true);
    rules.setSiteCatChecked(false);
    db.tbSite.setFiltered(false);
    db.tbSite.setFilter(QString());
}

QString trustSiteAddress(const Database& db) {
    const QString reg = db.tbSite.asString(QStringLiteral("RegURL"));
    return reg.isEmpty() ? db.tbSite.asString(QStringLiteral("Site")) : reg;
}

LinkHereResult canLinkHere(const Database& db) {
    if (!hasId(db.tbSite)) return LinkHereResult::NoSite;
    // A link must belong to a project: without one the new record would be shown nowhere.
    if (!hasId(db.tbProject)) return LinkHereResult::NoProject;
    return LinkHereResult::Done;
}

LinkHereResult insertLinkHere(Database& db) {
    const LinkHereResult can = canLinkHere(db);
    if (can != LinkHereResult::Done) return can;
    const QVariant siteId = db.tbSite.value(QStringLiteral("ID"));
    QString site = db.tbSite.asString(QStringLiteral("Site"));
    const QVariant tic = db.tbSite.value(QStringLiteral("TIC"));
    const QVariant pr = db.tbSite.value(QStringLiteral("PR"));
    if (!site.contains(QStringLiteral("http"))) site.prepend(QStringLiteral("http://"));
    Table& links = db.tbLink;
    if (!links.insert()) return LinkHereResult::NoSite;
    links.edit();
    links.setValue(QStringLiteral("SiteID"), siteId);
    const QString url = site + QStringLiteral("/<страница>");
    links.setValue(QStringLiteral("PageURL"),
                   url.left(links.field(links.fieldIndex(QStringLiteral("PageURL"))).size));
    links.setValue(QStringLiteral("TIC"), tic);
    links.setValue(QStringLiteral("PR"), pr);
    links.post();
    return LinkHereResult::Done;
}

AccountData accountDataFor(const Database& db) {
    const QVariant account = db.tbLink.value(QStringLiteral("AccountID"));
    if (!account.isValid()) return {};
    const int row = db.tbAccount.findRow(QStringLiteral("ID"), account);
    if (row < 0) return {};
    const Table& a = db.tbAccount;
    auto text = [&](const char* f) {
        return a.rowValue(row, a.fieldIndex(QString::fromLatin1(f))).toString();
    };
    return {text("User"), text("Password"), text("email")};
}

bool accountDataFrozen(const Database& db) {
    return db.isAuto || db.tbLink.controlsDisabled();
}

bool isLostLinkRow(const Table& links, int pos) {
    const int row = links.rowAt(pos);
    if (row < 0) return false;
    return links.rowValue(row, links.fieldIndex(QStringLiteral("ID"))).isValid() &&
           links.rowValue(row, links.fieldIndex(QStringLiteral("PageStatus"))).toString() ==
               QLatin1String("2");
}

} // namespace zentaro::db
