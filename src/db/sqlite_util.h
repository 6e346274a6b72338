// Small RAII and statement helpers over the SQLite C interface.
#pragma once

#include <cstdio>
#include <initializer_list>
#include <memory>
#include <utility>

#include <sqlite3.h>

#include <QByteArray>
#include <QDateTime>
#include <QString>

namespace zentaro::db::sql {

struct DbCloser {
    void operator()(sqlite3* db) const { sqlite3_close_v2(db); }
};
struct StmtCloser {
    void operator()(sqlite3_stmt* s) const { sqlite3_finalize(s); }
};
using DbPtr = std::unique_ptr<sqlite3, DbCloser>;
using StmtPtr = std::unique_ptr<sqlite3_stmt, StmtCloser>;

inline QString errorText(sqlite3* db) {
    return QString::fromUtf8(sqlite3_errmsg(db));
}

inline bool exec(sqlite3* db, const char* sql, QString* err) {
    char* msg = nullptr;
    if (sqlite3_exec(db, sql, nullptr, nullptr, &msg) == SQLITE_OK) return true;
    if (err) *err = QString::fromUtf8(msg ? msg : "unknown error");
    sqlite3_free(msg);
    return false;
}

inline bool exec(sqlite3* db, const QString& sql, QString* err) {
    return exec(db, sql.toUtf8().constData(), err);
}

inline StmtPtr prepare(sqlite3* db, const QString& sql) {
    sqlite3_stmt* s = nullptr;
    const QByteArray utf8 = sql.toUtf8();
    if (sqlite3_prepare_v2(db, utf8.constData(), int(utf8.size()), &s, nullptr) != SQLITE_OK) return nullptr;
    return StmtPtr(s);
}

// Prepares each statement into its place; false, with SQLite's text in err, when one does not prepare.
inline bool prepareAll(sqlite3* db, std::initializer_list<std::pair<StmtPtr*, QString>> statements,
                       QString* err) {
    for (const auto& [place, sql] : statements) {
        *place = prepare(db, sql);
        if (*place) continue;
        if (err) *err = errorText(db);
        return false;
    }
    return true;
}

// A time as the history stores it (ISO 8601 with milliseconds, as QDateTime writes it). A local time, the
// usual case, is written directly: Qt's general formatter costs a visible share of a run's writes.
inline QString timeText(const QDateTime& at) {
    if (at.timeSpec() != Qt::LocalTime || !at.isValid()) return at.toString(Qt::ISODateWithMs);
    const QDate d = at.date();
    const QTime t = at.time();
    if (d.year() < 1 || d.year() > 9999) return at.toString(Qt::ISODateWithMs);
    char text[32];
    std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d.%03d", d.year(), d.month(), d.day(),
                  t.hour(), t.minute(), t.second(), t.msec());
    return QString::fromLatin1(text);
}

// Deletes the rows of a subject (?1, ?2) in a history table beyond its newest keep.
inline QString keepNewestSql(const char* table, int keep) {
    return QStringLiteral(
               "DELETE FROM checks.%1 WHERE subject=?1 AND rid=?2 AND id <= (SELECT id FROM checks.%1 "
               "WHERE subject=?1 AND rid=?2 ORDER BY id DESC LIMIT 1 OFFSET %2)")
        .arg(QLatin1String(table))
        .arg(keep);
}

} // namespace zentaro::db::sql
