#include "db/value.h"

#include <QLocale>

#include "util/regional.h"

namespace zentaro::db {

QString fieldTypeName(FieldType t) {
    switch (t) {
    case FieldType::Integer:
        return QStringLiteral("integer");
    case FieldType::String:
        return QStringLiteral("string");
    case FieldType::Date:
        return QStringLiteral("date");
    case FieldType::Float:
        return QStringLiteral("float");
    }
    return {};
}

bool fieldTypeFromName(const QString& name, FieldType& out) {
    for (FieldType t : {FieldType::Integer, FieldType::String, FieldType::Date, FieldType::Float}) {
        if (fieldTypeName(t) == name) {
            out = t;
            return true;
        }
    }
    return false;
}

QString formatValue(FieldType type, const QVariant& v) {
    if (!v.isValid() || v.isNull()) return {};
    const QLocale loc;
    switch (type) {
    case FieldType::Integer:
        return QString::number(v.toLongLong());
    case FieldType::String:
        return v.toString();
    case FieldType::Date:
        return formatDate(v.toDate());
    case FieldType::Float:
        return loc.toString(v.toDouble(), 'g', 15);
    }
    return {};
}

bool parseValue(FieldType type, const QString& text, QVariant& out) {
    if (text.isEmpty()) {
        out = QVariant();
        return true;
    }
    const QLocale loc;
    bool ok = false;
    switch (type) {
    case FieldType::Integer: {
        const int i = text.trimmed().toInt(&ok);
        if (ok) out = i;
        return ok;
    }
    case FieldType::String:
        out = text;
        return true;
    case FieldType::Date: {
        const std::optional<QDate> d = readDate(text);
        if (!d) return false;
        out = *d;
        return true;
    }
    case FieldType::Float: {
        const double f = loc.toDouble(text.trimmed(), &ok);
        if (ok) out = f;
        return ok;
    }
    }
    return false;
}

} // namespace zentaro::db
