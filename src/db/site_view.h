// The trust-site list's filters and the sites pane's commands on the current site.
#pragma once

#include <QString>

namespace zentaro::db {

class Database;
class RecordRules;
class Table;

// The trust-site list's filter states (all sites, one category, sites without links) and the commands of
// the sites pane that change them or act on the current site.

// The category box was ticked or unticked (the box's state is already in the rules).
void cbSiteCatClick(Database& db, RecordRules& rules);
// Marks every shown site "FS1" with whether any link names it and shows those that none names.
// False when there was nothing to compute (no link or no site, or no link names a site).
bool ShowTrustSite(Database& db);
// Unticks and disables the category box, then shows the sites without links.
void sbShowSiteClick(Database& db, RecordRules& rules);
// Enables and unticks the category box and shows all sites.
void SpeedButton5Click(Database& db, RecordRules& rules);

// What "Открыть сайт" opens for the current site: its registration page, else the site.
QString trustSiteAddress(const Database& db);

enum class LinkHereResult { Done, NoSite, NoProject };
// Whether a link can be placed on the current site for the current project.
LinkHereResult canLinkHere(const Database& db);
// Adds a link for the current project on the current site, with the site's address, TIC and PR.
LinkHereResult insertLinkHere(Database& db);

// The account boxes of the links pane for the current link; all empty without an account.
struct AccountData {
    QString login;
    QString password;
    QString email;
};
AccountData accountDataFor(const Database& db);
// The account boxes stay as they are during automatic runs and while the link view is switched off.
bool accountDataFrozen(const Database& db);

// The first-column cell of a lost link is painted light red: the row has an ID and status "2".
bool isLostLinkRow(const Table& links, int pos);

} // namespace zentaro::db
