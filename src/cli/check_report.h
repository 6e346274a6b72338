#pragma once

#include <optional>
#include <unordered_set>
#include <vector>

#include <QByteArray>
#include <QDate>
#include <QDateTime>
#include <QString>
#include <QStringList>

#include "db/check_history.h"

namespace zentaro::db {
class Database;
}
namespace zentaro::web {
struct RunTally;
}

namespace zentaro::cli {

// How a check from the command line prints its results.
enum class OutputFormat { Text, Json, Csv };
// "text", "json" or "csv"; no value for any other name.
std::optional<OutputFormat> formatNamed(const QString& name);

// One checked link page (or site) as scripts read it.
struct CheckedPage {
    int id = 0;
    QString project; // empty for sites
    QString address;
    QString outcome; // one fixed English word: found, nofollow, missing, not-fetched, ...
    QString reason;  // the words the window shows
    QString detail;
    QDate lostSince;
    std::optional<double> price;
    // Presence checks: what the page showed (the evidence in force) and what changed in this run.
    std::optional<db::Evidence> evidence;
    QStringList changes;
};

// The link pages (sites, for metrics) whose last outcome is of the kind and no older than since, by record
// number; onlyProject 0 takes every project.
std::vector<CheckedPage> checkedPages(const db::Database& db, db::CheckKind kind, const QDateTime& since,
                                      int onlyProject);

// The run's summary, and its pages when given, as one JSON document; result is "finished", "stopped" or
// "failed".
QByteArray summaryJson(const QString& check, const QString& result, const web::RunTally& tally,
                       const std::vector<CheckedPage>* pages);
// Without pages: a header row and one row of counts; with pages: a header row and one row per page.
QByteArray summaryCsv(const web::RunTally& tally, const std::vector<CheckedPage>* pages);

// The link pages that were lost (found, then missing) or unreachable when it was taken.
struct LossSnapshot {
    std::unordered_set<int> lost, unreachable;
};
LossSnapshot snapshotLosses(const db::Database& db);

// Link pages lost or turned unreachable by checks made since a moment.
struct Losses {
    int lost = 0;
    double lostPrice = 0;
    int unreachable = 0;
    bool any() const { return lost > 0 || unreachable > 0; }
};
// Counts the pages whose checks since the moment found them lost or unreachable; with before, the pages
// that were so already are left out.
Losses lossesSince(const db::Database& db, const QDateTime& since, const LossSnapshot* before = nullptr);

// A sum of money as the user reads it: "4 500 ₽" (kopecks only when there are any).
QString moneyText(double amount);
// The lines of the desktop notification after a run: "Пропало ссылок: 3 (на сумму 4 500
// ₽)", "Страницы недоступны: 2".
QString noticeText(const Losses& losses);
// The bar over the links grid: "С 05.12.2026 пропало 3 ссылки на 4 500 ₽,
// недоступны 2 страницы".
QString barText(const Losses& losses, const QDate& since);

// Settings rows of the watch over the links: when the last presence check from the command line finished,
// when the window last started, whether the daily check is on and at which hour.
inline const QString kLastCheckKey = QStringLiteral("check.lastRun");
inline const QString kLastStartKey = QStringLiteral("check.lastStart");
inline const QString kTimerKey = QStringLiteral("check.timer");
inline const QString kHourKey = QStringLiteral("check.hour");

// The file beside the tables that tells an open window a scheduled check could not run.
QString skippedCheckFile(const QString& baseDir);

// What the bar over the links grid says at start.
struct WatchNote {
    QString text;                  // empty: no bar
    bool offerShow = false;        // there are lost or unreachable pages to show
    bool lostLinks = false;        // ... and lost links among them
    bool offerCheck = false;       // the daily check is overdue
    std::unordered_set<int> pages; // the link pages counted: lost and unreachable
};
// Losses found by checks since the window last started, and a daily check that is on but has not run for
// more than two days.
WatchNote watchNote(const db::Database& db, const QDateTime& lastStart, bool timerOn,
                    const QDateTime& lastRun, const QDateTime& now);
// The same read from the settings rows, which then take now as the window's last start.
WatchNote takeWatchNote(db::Database& db, const QDateTime& now);

} // namespace zentaro::cli
