// Keeps the check history tied to the right records when the tables are replaced as a whole.
#pragma once

#include <QString>

namespace zentaro::db {

class Database;

// The check history is kept under the numbers of the records of the tables it was written beside. When the
// tables are replaced as a whole (a text import, a restore) those numbers may belong to other records, so the
// history must be replaced with them — and a crash must never leave the new tables with the old history.
//
// The link table's file carries a mark of the history that belongs to it, changed in the same transaction
// that replaces the tables; the history file carries the same mark (SQLite's application id). A history whose
// mark differs from the tables' is not theirs: at the next opening it is set aside as "checks.adb.previous",
// and a history prepared for the new tables ("checks.adb.next", marked as they are) takes its place, or a
// fresh one is made.

// The history file's name in the data folder.
QString historyPath(const QString& baseDir);
// Where a history prepared for tables about to be written waits until they are.
QString nextHistoryPath(const QString& baseDir);

// A new mark for tables about to replace the current ones.
int newHistoryMark();
// The tables' mark as their files hold it (0: written before marks were kept).
int tablesHistoryMark(const Database& db);
// Gives the tables a new mark, written with their next write.
void markTables(Database& db, int mark);

// The mark of a history file; false when it cannot be read.
bool readHistoryMark(const QString& path, int& mark);
// Copies a history file (a reserve copy's) to the target with the mark, beside it and renamed over it.
bool prepareHistory(const QString& from, const QString& target, int mark, QString* error);
// Renames the history file and its write-ahead log aside as "checks.adb.previous" (replacing an older one).
// True when no history file is left in place.
bool setHistoryAside(const QString& baseDir);

// Opens the history for the loaded tables: a history marked for other tables is set aside first, and one
// prepared for these takes its place. False with the error text when no history could be opened.
bool openHistoryFor(Database& db, const QString& baseDir, QString* error);

// After the tables were replaced and written: the old history goes aside and the one prepared for the new
// tables (or a fresh one) is opened. Must not run before the tables' write is committed.
bool replaceHistory(Database& db, const QString& baseDir, QString* error);

// Ends a replacement of the tables (marked with markTables inside its change): writes the tables at once
// and then replaces the history. When the write fails the outcomes are only hidden; the write is tried
// again later, and the next opening sets the history aside.
void finishReplacement(Database& db, const QString& baseDir);

} // namespace zentaro::db
