#pragma once

#include <QLocale>

namespace zentaro {

// The locale for dates and numbers shown and written by the program: the system's, or Russian formats
// when the system runs the bare C/POSIX locale.
QLocale regionalLocale();

// Makes regionalLocale() the default QLocale of the process.
void applyRegionalLocale();

} // namespace zentaro
