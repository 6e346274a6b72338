// Keeps the check history tied to the right records when the tables are replaced as a whole.
#include "db/history_file.h"

#include <climits>
#include <cstdio>
#include <functional>

#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>

#include "db/database.h"
#include "db/reserve_copy.h"
#include "db/sqlite_util.h"
#include "db/table_file.h"

namespace zentaro::db {

namespace {

const QString kMarkKey = QStringLiteral("history");

bool renameOver(const QString& from, const QString& to) {
    return ::rename(QFile::encodeName(from).constData(), QFile::encodeName(to).constData()) == 0;
}

// A file's write-ahead log and its index belong to that file alone: left beside a new file of the same name
// they would be played into it.
void removeLogs(const QString& path) {
    QFile::remove(path + QStringLiteral("-wal"));
    QFile::remove(path + QStringLiteral("-shm"));
}

bool withFile(const QString& path, const std::function<bool(sqlite3*)>& work) {
    if (!QFileInfo(path).isFile()) return false;
    sqlite3* raw = nullptr;
    // Opened for writing, so that a log left by a crash is played in first; never created.
    const int rc = sqlite3_open_v2(QFile::encodeName(path).constData(), &raw,
                                   SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOMUTEX, nullptr);
    sql::DbPtr db(raw);
    if (rc != SQLITE_OK) return false;
    sqlite3_busy_timeout(raw, 500);
    return work(raw);
}

bool markOf(sqlite3* db, const char* schema, int& mark) {
    sql::StmtPtr s = sql::prepare(db, QStringLiteral("PRAGMA %1.application_id").arg(QLatin1String(schema)));
    if (!s || sqlite3_step(s.get()) != SQLITE_ROW) return false;
    mark = sqlite3_column_int(s.get(), 0);
    return true;
}

} // namespace

QString historyPath(const QString& baseDir) {
    return baseDir + QStringLiteral("checks.adb");
}

QString nextHistoryPath(const QString& baseDir) {
    return baseDir + QStringLiteral("checks.adb.next");
}

int newHistoryMark() {
    return int(QRandomGenerator::global()->bounded(1, INT_MAX));
}

int tablesHistoryMark(const Database& db) {
    return db.store.note(db.tbLink, kMarkKey).toInt();
}

void markTables(Database& db, int mark) {
    db.store.setNote(db.tbLink, kMarkKey, QString::number(mark));
}

bool readHistoryMark(const QString& path, int& mark) {
    return withFile(path, [&](sqlite3* db) { return markOf(db, "main", mark); });
}

bool prepareHistory(const QString& from, const QString& target, int mark, QString* error) {
    QFile::remove(target);
    removeLogs(target);
    if (!CopyFile(from, target, error)) return false;
    const bool marked = withFile(target, [&](sqlite3* db) {
        return sql::exec(db, QStringLiteral("PRAGMA main.application_id = %1").arg(mark), error);
    });
    if (!marked) {
        if (error && error->isEmpty()) *error = QStringLiteral("файл истории проверок повреждён");
        QFile::remove(target);
        removeLogs(target);
        return false;
    }
    return TableFile::syncPath(target, false);
}

bool setHistoryAside(const QString& baseDir) {
    const QString path = historyPath(baseDir);
    const QString aside = path + QStringLiteral(".previous");
    if (!QFileInfo::exists(path)) {
        removeLogs(path);
        return true;
    }
    // The log goes first: a crash between the two renames leaves the file without its log (its last outcomes
    // lost), never a log beside a file it does not belong to.
    QFile::remove(aside + QStringLiteral("-wal"));
    if (QFileInfo::exists(path + QStringLiteral("-wal")) &&
        !renameOver(path + QStringLiteral("-wal"), aside + QStringLiteral("-wal")))
        return false;
    QFile::remove(path + QStringLiteral("-shm"));
    if (!renameOver(path, aside)) return false;
    TableFile::syncPath(QFileInfo(path).absolutePath(), true);
    return true;
}

bool openHistoryFor(Database& db, const QString& baseDir, QString* error) {
    const int tables = tablesHistoryMark(db);
    const QString path = historyPath(baseDir), next = nextHistoryPath(baseDir);
    int mark = 0;
    const bool exists = QFileInfo::exists(path);
    const bool foreign = exists && readHistoryMark(path, mark) && mark != tables;
    if (foreign && !setHistoryAside(baseDir)) {
        if (error) *error = QStringLiteral("не удалось переименовать \"%1\"").arg(QFileInfo(path).fileName());
        return false;
    }
    // A history prepared for exactly these tables takes the place of the one set aside.
    int nextMark = 0;
    if ((foreign || !exists) && readHistoryMark(next, nextMark) && nextMark == tables) {
        removeLogs(path);
        renameOver(next, path);
    }
    QFile::remove(next);
    removeLogs(next);
    if (!QFileInfo::exists(path)) removeLogs(path);
    if (!db.checks.open(path, error)) return false;
    // A fresh file (or one of a version before marks) gets the tables' mark.
    sqlite3* c = db.store.connection();
    int now = 0;
    if (markOf(c, "checks", now) && now != tables)
        sql::exec(c, QStringLiteral("PRAGMA checks.application_id = %1").arg(tables), nullptr);
    return true;
}

bool replaceHistory(Database& db, const QString& baseDir, QString* error) {
    db.checks.close();
    return openHistoryFor(db, baseDir, error);
}

void finishReplacement(Database& db, const QString& baseDir) {
    if (!db.checks.isOpen() || baseDir.isEmpty()) return;
    QString err;
    if (!db.store.flush(&err)) {
        db.checks.forgetAll();
        return;
    }
    if (!replaceHistory(db, baseDir, &err) && db.checks.onTrouble)
        db.checks.onTrouble(QStringLiteral("История проверок недоступна: ") + err);
}

} // namespace zentaro::db
