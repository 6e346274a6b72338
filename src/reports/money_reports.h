// Builders of the money and time reports: their bars and table rows from the tables.
#pragma once

#include <optional>
#include <vector>

#include <QByteArray>
#include <QDate>
#include <QLocale>
#include <QString>
#include <QStringList>

namespace zentaro::db {
class Database;
}

namespace zentaro::reports {

// The reports of money and time that follow the seven pies in the report chooser.
enum class MoneyKind { Spending, PlacedLost, LostMoney, LiveLinkPrice };
const QStringList& moneyReportNames();
std::optional<MoneyKind> moneyKindOf(const QString& reportName);

// The months a report by month covers: the last 12 or 24 up to the current one, or every month with data.
enum class Period { Months12, Months24, All };
const QStringList& periodNames();
// All projects or the current one.
const QStringList& projectScopeNames();

struct MoneyOptions {
    Period period = Period::Months12;
    bool currentProjectOnly = false;
    QDate today;
};

// One column of numbers, a value per category; no value where there is nothing to divide by.
struct MoneySeries {
    QString name;
    bool money = false;  // roubles with kopecks; otherwise a count
    bool onChart = true; // drawn as bars; the others only in the table
    std::vector<std::optional<double>> values;
};

// What a report shows: bars per category (a month or a project) and the table of the same numbers.
struct MoneyReport {
    MoneyKind kind = MoneyKind::Spending;
    QString title;
    QString subtitle; // what the numbers count, in a line under the title
    QString categoryTitle;
    QStringList categories;
    std::vector<MoneySeries> series;
    bool stacked = false;
    bool byMonth() const { return kind == MoneyKind::Spending || kind == MoneyKind::PlacedLost; }
};

// "Прочие" gathers the projects after the largest eight.
constexpr int kLargestProjects = 8;
// "Все время" shows at most this many months, the latest ones (a mistyped year must not make a
// thousand-year axis).
constexpr int kMaxMonths = 600;

// Reads the tables and the check history without moving a record or a filter.
MoneyReport buildMoneyReport(const db::Database& db, MoneyKind kind, const MoneyOptions& options);

// A month as the axes and the table name it: "январь 2026".
QString monthName(int year, int month);
// A sum in the given regional format with the currency sign, or a count.
QString valueText(const MoneySeries& s, size_t row, const QLocale& locale);
// The table under the chart: the category column, then every series.
QStringList tableHeader(const MoneyReport& r);
std::vector<QStringList> tableRows(const MoneyReport& r, const QLocale& locale);
// The table as CSV: UTF-8 with a byte-order mark, semicolons, CR LF, numbers in the Russian format without
// group separators or currency sign, so spreadsheets read them as numbers.
QByteArray toCsv(const MoneyReport& r);

} // namespace zentaro::reports
