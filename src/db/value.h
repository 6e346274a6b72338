// Cell values: integers, dates, texts, and their text forms in the regional format.
#pragma once

#include <cstdint>
#include <limits>

#include <QDate>
#include <QString>
#include <QVariant>

namespace zentaro::db {

enum class FieldType { Integer, String, Date, Float };

// Integers and dates (as Julian day numbers) share one column type; this value marks an empty cell.
inline constexpr qint64 kNullInt = std::numeric_limits<qint64>::min();

QString fieldTypeName(FieldType t);
bool fieldTypeFromName(const QString& name, FieldType& out);

// Text of a value as shown and edited in the regional format; empty for an empty value.
QString formatValue(FieldType type, const QVariant& v);
// Parses text in the regional format; an empty text gives an empty value. False when the text is no such
// value.
// Numbers are accepted with either decimal separator.
bool parseValue(FieldType type, const QString& text, QVariant& out);
// Why a typed text cannot be stored in a field of the type, in the user's words.
QString refusedValueText(FieldType type, const QString& text);

} // namespace zentaro::db
