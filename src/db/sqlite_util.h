// Small RAII and statement helpers over the SQLite C interface.
#pragma once

#include <memory>

#include <sqlite3.h>

#include <QByteArray>
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

} // namespace zentaro::db::sql
