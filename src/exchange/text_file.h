#pragma once

#include <optional>

#include <QString>
#include <QStringList>

namespace zentaro::exchange {

// The lines in the 8-bit code page of the program's texts (Windows-1251), each ending with CR LF.
QByteArray encodeLines(const QStringList& lines);
// Writes the lines beside the target and renames the file over it; false with the error text.
bool writeTextFile(const QString& path, const QStringList& lines, QString* error);
// Decodes a text file: UTF-8 or UTF-16 by byte-order mark, else Windows-1251; lines end at CR LF, LF or CR.
QStringList decodeLines(const QByteArray& bytes);
// Reads a text file of at most 64 MB into lines; no value (and the error text) when it cannot be read.
std::optional<QStringList> readTextFile(const QString& path, QString* error);

} // namespace zentaro::exchange
