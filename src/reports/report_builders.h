// Builders of the pie reports: their slices and title from the tables.
#pragma once

#include <optional>
#include <vector>

#include <QString>
#include <QStringList>

namespace zentaro::db {
class Database;
}

namespace zentaro::reports {

// One pie slice: its value, its label and its colour (none: the chart's next palette colour).
struct Slice {
    double value = 0;
    QString label;
    std::optional<unsigned> rgb; // 0xRRGGBB
};

// What a report puts on the chart: the slices of the pie and the one title line.
struct Report {
    std::vector<Slice> slices;
    QString title;
};

// The seven report names in the order of the report chooser.
const QStringList& reportNames();

// The builders read the tables without moving any current record or filter: links are grouped by project in
// one pass. reportName is the chooser's text, used in the titles.
Report RunRep1(const db::Database& db, const QString& reportName);
Report RunRep2(const db::Database& db, const QString& reportName);
Report RunRep3(const db::Database& db, const QString& reportName, bool isPR);
Report RunRep4(const db::Database& db, const QString& reportName, bool isGoogle);
Report RunRep5(const db::Database& db, const QString& reportName);

// The report whose name equals the text exactly; none for any other text.
std::optional<Report> bGetReportClick(const db::Database& db, const QString& cbRepText);

} // namespace zentaro::reports
