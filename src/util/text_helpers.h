#pragma once

#include <optional>

#include <QString>

namespace zentaro {

// Removes the space character (and nothing else) from both ends; a text of spaces only comes back unchanged.
QString DelLabelsBeginEnd(const QString& S);

// Parses a number written with either "," or "." as decimal separator, in the default locale.
// Empty (after trimming) gives 0; text that is not a number gives no value.
std::optional<double> StrToNormalFloat(const QString& S);

} // namespace zentaro
