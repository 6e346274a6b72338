// Cell values: integers, dates, texts, and their text forms in the regional format.
#include "db/value.h"

#include <cmath>
#include <optional>

#include <QLocale>

#include "util/text_helpers.h"
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
        // Either decimal separator, as in imported lists; then the regional form with grouped thousands.
        if (text.trimmed().isEmpty()) {
            out = QVariant();
            return true;
        }
        if (const std::optional<double> plain = StrToNormalFloat(text)) {
            out = *plain;
            return true;
        }
        const double f = loc.toDouble(text.trimmed(), &ok);
        if (ok && std::isfinite(f)) out = f;
        return ok && std::isfinite(f);
    }
    }
    return false;
}

QString refusedValueText(FieldType type, const QString& text) {
    switch (type) {
    case FieldType::Date:
        return QStringLiteral("\"%1\" — не дата. Введите дату в виде %2.")
            .arg(text, QLocale().toString(QDate(2014, 12, 8), QLocale::ShortFormat));
    case FieldType::Float:
        return QStringLiteral("\"%1\" — не число. Введите число, например %2.")
            .arg(text, QLocale().toString(800.25));
    case FieldType::Integer:
        return QStringLiteral("\"%1\" — не целое число.").arg(text);
    case FieldType::String:
        break;
    }
    return QStringLiteral("Значение \"%1\" не сохранено.").arg(text);
}

} // namespace zentaro::db
