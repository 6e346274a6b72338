// Text files in Windows-1251, UTF-8 or UTF-16: reading, writing, and the size cap.
#pragma once

#include <optional>

#include <QString>
#include <QStringList>

namespace zentaro {

// The largest text file written or read: what one writes the other reads.
inline constexpr qint64 kMaxTextFileBytes = 256LL * 1024 * 1024;

// Whether every character of the lines has a place in Windows-1251.
bool fitsCodePage(const QStringList& lines);
// The lines each ending with CR LF: in Windows-1251 when every character fits it, otherwise in UTF-8 after a
// byte-order mark, so that no character is lost (both are read back by decodeLines).
QByteArray encodeLines(const QStringList& lines);
// Writes the lines beside the target and renames the file over it; false with the error text, also when the
// file would be larger than maxBytes.
bool writeTextFile(const QString& path, const QStringList& lines, QString* error,
                   qint64 maxBytes = kMaxTextFileBytes);
// How a file without a byte-order mark is read.
enum class Unmarked {
    GuessUtf8, // lists people write: UTF-8 when the bytes are valid UTF-8 holding more than ASCII
    CodePage   // files the program wrote: always Windows-1251, as encodeLines wrote them
};
// Decodes a text file: UTF-8 or UTF-16 by byte-order mark, otherwise as unmarked says; lines end at CR LF,
// LF or CR.
QStringList decodeLines(const QByteArray& bytes, Unmarked unmarked = Unmarked::GuessUtf8);
// Reads a text file of at most maxBytes into lines; no value (and the error text) when it cannot be read.
std::optional<QStringList> readTextFile(const QString& path, QString* error,
                                        qint64 maxBytes = kMaxTextFileBytes,
                                        Unmarked unmarked = Unmarked::GuessUtf8);

} // namespace zentaro
