// Small text and number helpers shared by every layer.
#pragma once

#include <optional>

#include <QString>

namespace zentaro {

// Removes the space character (and nothing else) from both ends; a text of spaces only comes back unchanged.
QString DelLabelsBeginEnd(const QString& S);

// Parses a number written with either "," or "." as decimal separator, in the default locale.
// Empty (after trimming) gives 0; text that is not a number gives no value.
std::optional<double> StrToNormalFloat(const QString& S);

// A text for a CSV cell that a spreadsheet will not run as a formula: one beginning with "=", "+", "-", "@",
// a tab or a carriage return gets a leading apostrophe. A plain number ("-5", "-12,50") stays as it is.
QString csvSafeText(const QString& text);
// A CSV cell: safe as above, and quoted (quotes doubled) when it holds the separator, a quote or a line
// break.
QString csvField(const QString& raw, QChar separator);

} // namespace zentaro
