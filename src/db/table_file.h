#pragma once

#include <QString>

namespace zentaro::db {

class Table;

// A table file is one SQLite database holding the table's stored field definitions and its records.
namespace TableFile {

// Writes beside the target, syncs and renames over it, so the old file stays whole if anything fails.
// The file is readable by its owner only. False with a Russian error text on failure.
bool save(const Table& table, const QString& path, QString* error);

// Replaces the table's records with the file's. A table without fields takes the file's definition.
// A missing, damaged or foreign file gives false, an error text and an empty table.
bool load(Table& table, const QString& path, QString* error);

} // namespace TableFile

} // namespace zentaro::db
