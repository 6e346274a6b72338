// The field definitions of the eight tables and the words shown for their codes.
#pragma once

#include <QString>

namespace zentaro::db {

class Table;

// Words shown for the one-character codes of the yes/no flags and the link status.
QString yesNoText(const QString& code);
QString statusText(const QString& code);

// Field definitions of the eight tables (field-list order, stored positions, lookups, text rules).
void defineProjectTable(Table& t);
void defineCatTable(Table& t);
void defineCat2Table(Table& t);
void defineSiteTable(Table& t, Table& cat);
void defineLinkTable(Table& t, Table& site, Table& cat2);
void defineAncorTable(Table& t);
void defineAccountTable(Table& t);
void defineSetsTable(Table& t);

} // namespace zentaro::db
