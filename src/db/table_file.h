// One table file (an SQLite database): reading it and writing it whole, safely.
#pragma once

#include <utility>
#include <vector>

#include <QString>

struct sqlite3;
struct sqlite3_stmt;

namespace zentaro::db {

class Table;

// A table file is one SQLite database holding the table's stored field definitions and its records.
namespace TableFile {

// Writes beside the target, syncs and renames over it, so the old file stays whole if anything fails.
// The file is readable by its owner only. False with a Russian error text on failure. notes are key-value
// rows kept in the file's header beside the table's own (those a store wrote into the file it replaces).
using Notes = std::vector<std::pair<QString, QString>>;
bool save(const Table& table, const QString& path, QString* error, const Notes& notes = {});

// Replaces the table's records with the file's. A table without fields takes the file's definition.
// A missing, damaged or foreign file gives false, an error text and an empty table.
bool load(Table& table, const QString& path, QString* error);

// The same from a table file attached to an open connection under the schema name. rowids receives each
// loaded row's key in the file, so that later changes can be written record by record.
bool loadFrom(sqlite3* db, const char* schema, Table& table, std::vector<qint64>* rowids,
              const QString& fileName, QString* error);

// Flushes a file's or a folder's entry to the disk.
bool syncPath(const QString& path, bool directory);

// Binds the row's stored fields, in file order, to the statement's parameters 1, 2, …
void bindRecord(sqlite3_stmt* stmt, const Table& table, const std::vector<int>& stored, int row);

} // namespace TableFile

} // namespace zentaro::db
