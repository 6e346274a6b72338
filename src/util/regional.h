// Regional formats of dates and numbers the program shows and writes.
#pragma once

#include <optional>

#include <QDate>
#include <QLocale>
#include <QString>

namespace zentaro {

// The locale for dates and numbers shown and written by the program: the system's, or Russian formats
// when the system runs the bare C/POSIX locale.
QLocale regionalLocale();

// Makes regionalLocale() the default QLocale of the process.
void applyRegionalLocale();

// The default locale's short date format with the year always written with four digits ("M/d/yy" becomes
// "M/d/yyyy"): two-digit years read back into the wrong century.
QString dateFormat();
// A date in dateFormat().
QString formatDate(const QDate& d);
// Reads a date written day, month and year in the default locale's order (dotted dates always day first),
// with one- or two-digit day and month and a two- or four-digit year, blanks around allowed; an ISO
// yyyy-MM-dd date is read as well. A two-digit year falls in the hundred years ending twenty years after
// today. No value for anything else, or for a year before minYear (a typing slip unless the text is the
// program's own, which may carry such a date from a file read before).
std::optional<QDate> readDate(QStringView text, int minYear = 1000);

} // namespace zentaro
