// Value comparisons the table engine's files share: equality by field type and integer-backed columns.
#pragma once

#include <QDate>
#include <QVariant>

#include "db/table.h"

namespace zentaro::db::detail {

inline bool sameValue(FieldType type, const QVariant& a, const QVariant& b) {
    if (!a.isValid() || !b.isValid()) return a.isValid() == b.isValid();
    switch (type) {
    case FieldType::Integer:
        return a.toLongLong() == b.toLongLong();
    case FieldType::String:
        return a.toString() == b.toString();
    case FieldType::Date:
        return a.toDate() == b.toDate();
    case FieldType::Float:
        return a.toDouble() == b.toDouble();
    }
    return false;
}

inline bool isIntColumn(FieldType t) {
    return t == FieldType::Integer || t == FieldType::Date;
}

} // namespace zentaro::db::detail
