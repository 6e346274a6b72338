// The text form of a table and of the whole base, as the export of all tables writes and its import reads.
#pragma once

#include <QDateTime>
#include <QString>
#include <QStringList>

#include "db/forward.h"

namespace zentaro::db {

// The text form of a table: a header line, the structure section (stored fields: name, class, size) and the
// data section (one line per record, every field in field-list order followed by "|").
QStringList exportTableLines(const Table& table, const QDateTime& when);
// One value as the text form writes it: stored codes, regional dates and numbers without grouping.
QString exportValue(const Table& table, int row, int field);

// A structure line: name up to the first blank or comma, class up to the next comma, size after it. False
// for a class outside the known ones or a size that is no number.
bool InsertTableField(const QString& S, QString& name, QString& className, int& size);
// A data line split at "|" (text after the last one dropped); empty list when it holds no "|".
QStringList splitDataLine(const QString& S);
// The section lines between a line that is the start marker (any letter case) and the line that is exactly
// the end marker.
QStringList sectionLines(const QStringList& lines, const QString& start, const QString& end);

// The seven data tables' file names in the text folder ("project.txt" … "account.txt").
QString textFileName(const Table& table);

// Writes every data table into folder/<table>.txt; an empty table asks "В таблице … нет записей!" first
// (No keeps its older file). False with the error text when a file could not be written, and after a failed
// load (nothing written).
// unreadable receives "table ID" of every record holding "|" or a line break, which will not read back.
bool AllTbExport(Database& db, const QString& folder, UserInterface& ui, QString* error,
                 QStringList* unreadable = nullptr);
// Reads and checks all seven files first (one closed data section each, every record of the table's width,
// IDs present, positive and unique); only when every one is good are the tables replaced, as one change of
// the store, and written at once; the check history then starts afresh (the old one set aside). False with
// the error text (file, line, why) otherwise, every table as it was; refused after a failed load.
bool AllTbImport(Database& db, const QString& folder, QString* error);

} // namespace zentaro::db
