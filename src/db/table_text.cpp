// The text form of a table and of the whole base, as the export of all tables writes and its import reads.
#include "db/table_text.h"

#include <algorithm>
#include <cmath>
#include <unordered_set>

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLocale>

#include "db/database.h"
#include "db/history_file.h"
#include "util/text_file.h"
#include "util/regional.h"
#include "util/text_helpers.h"
#include "util/user_interface.h"

namespace zentaro::db {

namespace {

QString className(FieldType t) {
    switch (t) {
    case FieldType::Integer:
        return QStringLiteral("TIntegerField");
    case FieldType::String:
        return QStringLiteral("TStringField");
    case FieldType::Date:
        return QStringLiteral("TDateField");
    case FieldType::Float:
        return QStringLiteral("TFloatField");
    }
    return {};
}

// One value of the text form into its field's stored form, read from the text in place (the files hold
// millions of them).
class ValueReader {
public:
    static bool readInt(QStringView text, qint64& out) {
        bool ok = false;
        out = text.trimmed().toLongLong(&ok);
        return ok && out >= INT32_MIN && out <= INT32_MAX;
    }
    bool readFloat(QStringView text, double& out) const {
        bool ok = false;
        out = m_locale.toDouble(text.trimmed(), &ok);
        // "inf" and "nan" read as numbers, but no field holds them: the grid refuses them, and a sum with
        // one is no sum.
        return ok && std::isfinite(out);
    }
    static bool readDate(QStringView text, qint64& julianDay) {
        // A stored date of an early year (a slip read in before) must not refuse the whole file.
        const std::optional<QDate> d = zentaro::readDate(text, 1);
        if (!d) return false;
        julianDay = d->toJulianDay();
        return true;
    }

private:
    QLocale m_locale;
};

// A table read from its text, parsed into the stored forms of its fields: one column per field, filled only
// for stored fields. An empty value is kNone / NaN / a null string.
struct TextTable {
    static constexpr qint64 kNone = INT64_MIN;
    struct Column {
        std::vector<qint64> ints;
        std::vector<double> floats;
        std::vector<QString> strings;
    };
    std::vector<Column> columns;
    int rows = 0;
};

// A marker counts as a whole line, blanks around it aside: a record line always ends in "|", so no value
// can pass for one.
bool isMarker(const QString& line, QLatin1String marker, Qt::CaseSensitivity cs) {
    return line.trimmed().compare(marker, cs) == 0;
}

// Reads one table's text and checks all of it before anything changes: one header naming the table, one data
// section that is closed (a file cut short never reads as fewer records), every record with the table's field
// count, and an ID that is present, positive and unique. The error names the file, the line and why.
bool readTextTable(const Table& table, const QString& path, TextTable& out, QString* error) {
    const QString name = QFileInfo(path).fileName();
    // A file left unwritten (an empty table answered "No" at export) is named with what to do about it.
    if (!QFileInfo::exists(path)) {
        if (error)
            *error = QStringLiteral("нет файла \"%1\" (таблица %2) в папке \"%3\". Выгрузите все таблицы "
                                    "заново, отвечая \"Да\" на вопрос о пустой таблице.")
                         .arg(name, table.tableName(), QDir::toNativeSeparators(QFileInfo(path).path()));
        return false;
    }
    // The export writes Windows-1251, or UTF-8 after its mark: text in the code page that happens to be valid
    // UTF-8 must not be read as UTF-8.
    const std::optional<QStringList> read = readTextFile(path, error, kMaxTextFileBytes, Unmarked::CodePage);
    if (!read) {
        if (error) *error = QStringLiteral("\"%1\": %2").arg(name, *error);
        return false;
    }
    const QStringList& lines = *read;
    const auto refuse = [&](qsizetype line, const QString& why) {
        if (error) *error = QStringLiteral("\"%1\", строка %2: %3").arg(name).arg(line + 1).arg(why);
        return false;
    };
    const auto refuseFile = [&](const QString& why) {
        if (error) *error = QStringLiteral("\"%1\": %2").arg(name, why);
        return false;
    };
    qsizetype header = 0;
    while (header < lines.size() && lines[header].trimmed().isEmpty())
        ++header;
    if (header == lines.size()) return refuseFile(QStringLiteral("файл пуст"));
    if (!lines[header].startsWith(table.tableName() + u','))
        return refuse(header, QStringLiteral("файл не является выгрузкой таблицы %1").arg(table.tableName()));

    qsizetype dataStart = -1, dataEnd = -1;
    bool inStructure = false;
    std::vector<std::pair<qsizetype, QString>> structure; // line and field name
    for (qsizetype i = header + 1; i < lines.size(); ++i) {
        const QString& line = lines[i];
        if (isMarker(line, QLatin1String("[data]"), Qt::CaseInsensitive)) {
            if (dataStart >= 0)
                return refuse(i,
                              QStringLiteral("второй раздел [data] (первый в строке %1)").arg(dataStart + 1));
            dataStart = i;
            inStructure = false;
        } else if (dataEnd >= 0 && !line.trimmed().isEmpty()) {
            // A record after the end of the section would be left out without a word.
            return refuse(i, QStringLiteral("текст после строки [/data] (строка %1)").arg(dataEnd + 1));
        } else if (dataStart >= 0 && isMarker(line, QLatin1String("[/data]"), Qt::CaseSensitive)) {
            dataEnd = i;
        } else if (dataStart < 0 && isMarker(line, QLatin1String("[structure]"), Qt::CaseInsensitive)) {
            inStructure = true;
            structure.clear();
        } else if (inStructure && isMarker(line, QLatin1String("[/structure]"), Qt::CaseSensitive)) {
            inStructure = false;
        } else if (inStructure && !line.trimmed().isEmpty()) {
            QString field, cls;
            int size = 0;
            if (!InsertTableField(line, field, cls, size))
                return refuse(i, QStringLiteral("неверная строка структуры \"%1\"").arg(line.left(100)));
            structure.emplace_back(i, field);
        }
    }
    // The values of a record follow the table's fields: a structure naming other fields, or the same in
    // another order, is a file whose values would land under the wrong fields.
    const std::vector<int> stored = table.storedFields();
    for (size_t k = 0; k < structure.size() || (!structure.empty() && k < stored.size()); ++k) {
        const QString expected = k < stored.size() ? table.field(stored[k]).name : QString();
        if (k < structure.size() && structure[k].second.compare(expected, Qt::CaseInsensitive) == 0) continue;
        const qsizetype at = k < structure.size() ? structure[k].first : structure.back().first + 1;
        return refuse(at, expected.isEmpty()
                              ? QStringLiteral("в структуре лишнее поле %1").arg(structure[k].second)
                              : QStringLiteral("в структуре ожидалось поле %1").arg(expected));
    }
    if (dataStart < 0) return refuseFile(QStringLiteral("нет раздела [data]"));
    if (dataEnd < 0)
        return refuseFile(QStringLiteral("файл обрезан: раздел [data] из строки %1 не закрыт строкой [/data]")
                              .arg(dataStart + 1));

    // The records of the whole file are read and checked before any table changes.
    const ValueReader reader;
    const int fields = table.fieldCount();
    const int idField = table.fieldIndex(QStringLiteral("ID"));
    std::unordered_set<qint64> ids;
    out.columns.assign(size_t(fields), {});
    for (qsizetype i = dataStart + 1; i < dataEnd; ++i) {
        const QString& s = lines[i];
        if (s.trimmed().isEmpty()) continue;
        // One "|" after every field and nothing beyond the last: a record cut short, one with a "|" inside a
        // value or one of another table would put values under the wrong fields.
        const qsizetype lastBar = s.lastIndexOf(u'|');
        const qsizetype bars = s.count(u'|');
        if (bars != fields || !QStringView(s).mid(lastBar + 1).trimmed().isEmpty())
            return refuse(
                i, QStringLiteral("в записи %1 полей вместо %2").arg(lastBar < 0 ? 0 : bars).arg(fields));
        qsizetype start = 0;
        for (int f = 0; f < fields; ++f) {
            const qsizetype bar = s.indexOf(u'|', start);
            const QStringView value = QStringView(s).mid(start, bar - start);
            start = bar + 1;
            const FieldDef& def = table.field(f);
            if (def.kind != FieldKind::Stored) continue;
            TextTable::Column& col = out.columns[size_t(f)];
            bool ok = true;
            switch (def.type) {
            case FieldType::Integer:
            case FieldType::Date: {
                qint64 v = TextTable::kNone;
                if (!value.isEmpty())
                    ok = def.type == FieldType::Integer ? ValueReader::readInt(value, v)
                                                        : ValueReader::readDate(value, v);
                col.ints.push_back(v);
                break;
            }
            case FieldType::Float: {
                double v = std::nan("");
                if (!value.isEmpty()) ok = reader.readFloat(value, v);
                col.floats.push_back(v);
                break;
            }
            case FieldType::String:
                ok = def.size <= 0 || value.size() <= def.size;
                col.strings.push_back(value.toString());
                break;
            }
            if (!ok)
                return refuse(i, QStringLiteral("недопустимое значение поля %1: \"%2\"")
                                     .arg(def.name, value.left(100).toString()));
            if (f != idField) continue;
            // Records are known by their ID: a missing, negative or repeated one would lose or merge records.
            const qint64 id = col.ints.back();
            if (id == TextTable::kNone) return refuse(i, QStringLiteral("нет номера записи (ID)"));
            if (id <= 0) return refuse(i, QStringLiteral("номер записи (ID) %1 не больше нуля").arg(id));
            if (!ids.insert(id).second)
                return refuse(i, QStringLiteral("номер записи (ID) %1 повторяется").arg(id));
        }
        ++out.rows;
    }
    return true;
}

} // namespace

QString exportValue(const Table& table, int row, int field) {
    const FieldDef& f = table.field(field);
    if (f.kind == FieldKind::Calculated) return {};
    const QVariant v = table.rowValue(row, field);
    if (!v.isValid()) return {};
    if (f.kind == FieldKind::Lookup) return v.toString();
    if (f.type == FieldType::Float) {
        QLocale plain;
        plain.setNumberOptions(QLocale::OmitGroupSeparator);
        return plain.toString(v.toDouble(), 'g', 15);
    }
    return formatValue(f.type, v);
}

QStringList exportTableLines(const Table& table, const QDateTime& when) {
    const QLocale loc;
    QString stamp = formatDate(when.date());
    if (when.time() != QTime(0, 0)) stamp += u' ' + loc.toString(when.time(), QStringLiteral("H:mm:ss"));
    QStringList out{table.tableName() + QStringLiteral(", ") + stamp + QStringLiteral(", [1.1]"),
                    QStringLiteral("[structure]")};
    for (const int f : table.storedFields())
        out << table.field(f).name + QStringLiteral(", ") + className(table.field(f).type) +
                   QStringLiteral(", ") + QString::number(table.field(f).size);
    out << QStringLiteral("[/structure]") << QString() << QStringLiteral("[data]");
    // Every record, the filter ignored, in the table's order.
    std::vector<int> rows;
    if (!table.filtered()) {
        for (int pos = 0; pos < table.recordCount(); ++pos)
            rows.push_back(table.rowAt(pos));
    } else {
        for (int row = 0; row < table.rowCapacity(); ++row)
            if (table.rowAlive(row) && row != table.insertRow()) rows.push_back(row);
    }
    for (const int row : rows) {
        QString line;
        for (int f = 0; f < table.fieldCount(); ++f)
            line += exportValue(table, row, f) + u'|';
        out << line;
    }
    out << QStringLiteral("[/data]");
    return out;
}

bool InsertTableField(const QString& S, QString& name, QString& cls, int& size) {
    if (S.isEmpty()) return true;
    qsizetype cut = 0;
    while (cut < S.size() && S[cut] != u' ' && S[cut] != u',')
        ++cut;
    name = DelLabelsBeginEnd(S.left(cut));
    const qsizetype comma = S.indexOf(u',', cut + 1);
    cls = DelLabelsBeginEnd(S.mid(cut + 1, comma < 0 ? -1 : comma - cut - 1));
    bool ok = comma >= 0;
    size = ok ? DelLabelsBeginEnd(S.mid(comma + 1)).toInt(&ok) : 0;
    static const QStringList known = {"tintegerfield", "tstringfield",   "tdatetimefield", "tdatefield",
                                      "tfloatfield",   "ttimefield",     "tbooleanfield",  "tbytesfield",
                                      "twordfield",    "tcurrencyfield", "tmemofield"};
    return ok && known.contains(cls.toLower());
}

QStringList splitDataLine(const QString& S) {
    QStringList values;
    qsizetype start = 0;
    for (qsizetype i = 0; i < S.size(); ++i)
        if (S[i] == u'|') {
            values << S.mid(start, i - start);
            start = i + 1;
        }
    return values;
}

QStringList sectionLines(const QStringList& lines, const QString& start, const QString& end) {
    QStringList out;
    bool inside = false;
    // Markers count only as whole lines: a value may hold their text, and a data line always ends in "|".
    for (const QString& line : lines) {
        if (line == end) break;
        if (line.compare(start, Qt::CaseInsensitive) == 0) {
            inside = true;
            out.clear();
            continue;
        }
        if (inside && !line.isEmpty()) out << line;
    }
    return out;
}

QString textFileName(const Table& table) {
    return tableFileName(table).replace(QStringLiteral(".adb"), QStringLiteral(".txt"));
}

bool AllTbExport(Database& db, const QString& folder, UserInterface& ui, QString* error,
                 QStringList* unreadable) {
    // Tables that did not load whole would go out as their first part (or empty), over the files of an
    // earlier whole export.
    if (db.BaseLoadError) {
        if (error)
            *error = db.baseLoadFailure +
                     QStringLiteral(".\r\nЭкспорт невозможен: таблицы загружены не полностью.");
        return false;
    }
    const QDateTime now = QDateTime::currentDateTime();
    // A first export makes its folder (owner-only, as the data).
    if (!QDir().mkpath(folder)) {
        if (error) *error = QStringLiteral("не удалось создать папку \"%1\"").arg(folder);
        return false;
    }
    QFile::setPermissions(folder, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    for (Table* t : db.dataTables()) {
        t->checkBrowseMode();
        bool empty = true;
        for (int row = 0; row < t->rowCapacity() && empty; ++row)
            empty = !t->rowAlive(row) || row == t->insertRow();
        if (empty && !ui.askYesNo(QStringLiteral("В таблице ") + t->tableName() +
                                      QStringLiteral(" нет записей!\r\nПродолжить экспорт?"),
                                  QStringLiteral("Предупреждение")))
            continue;
        const QStringList lines = exportTableLines(*t, now);
        if (unreadable) {
            // A value with "|" or a line break shifts or splits its record when read back.
            const int id = t->fieldIndex(QStringLiteral("ID"));
            for (int row = 0; row < t->rowCapacity(); ++row) {
                if (!t->rowAlive(row) || row == t->insertRow()) continue;
                for (int f = 0; f < t->fieldCount(); ++f) {
                    const QString v = exportValue(*t, row, f);
                    if (v.contains(u'|') || v.contains(u'\n') || v.contains(u'\r')) {
                        *unreadable << t->tableName() + u' ' + t->rowValue(row, id).toString();
                        break;
                    }
                }
            }
        }
        QString err;
        if (!writeTextFile(QDir(folder).filePath(textFileName(*t)), lines, &err)) {
            if (error) *error = QStringLiteral("\"%1\": %2").arg(textFileName(*t), err);
            return false;
        }
    }
    return true;
}

bool AllTbImport(Database& db, const QString& folder, QString* error) {
    // After a failed load nothing is written to the data files: an import would be lost at exit.
    if (db.BaseLoadError) {
        if (error)
            *error = db.baseLoadFailure +
                     QStringLiteral(".\r\nИмпорт невозможен: таблицы загружены не полностью, и изменения не "
                                    "были бы сохранены.");
        return false;
    }
    const auto tables = db.dataTables();
    std::vector<TextTable> texts(tables.size());
    for (size_t i = 0; i < tables.size(); ++i)
        if (!readTextTable(*tables[i], QDir(folder).filePath(textFileName(*tables[i])), texts[i], error))
            return false;
    // Every file is good: the tables are replaced, as one change of the files, together with the new mark
    // that tells their history from the old one (outcomes kept under the old numbers would belong to whatever
    // the files give those numbers now).
    const int mark = newHistoryMark();
    const QString baseDir = db.store.folderOf(db.tbLink);
    {
        const Change change(db.store);
        db.InsFlag = true;
        db.isAuto = true;
        for (size_t i = 0; i < tables.size(); ++i) {
            Table& t = *tables[i];
            t.checkBrowseMode();
            TableObserver* observer = t.observer();
            t.setObserver(nullptr);
            t.clearRecords();
            const TextTable& text = texts[i];
            for (int r = 0; r < text.rows; ++r) {
                const int row = t.appendRawRow();
                for (int f = 0; f < t.fieldCount(); ++f) {
                    if (t.field(f).kind != FieldKind::Stored) continue;
                    const TextTable::Column& col = text.columns[size_t(f)];
                    switch (t.field(f).type) {
                    case FieldType::Integer:
                    case FieldType::Date:
                        if (col.ints[size_t(r)] != TextTable::kNone) t.setRawInt(row, f, col.ints[size_t(r)]);
                        break;
                    case FieldType::Float:
                        if (!std::isnan(col.floats[size_t(r)])) t.setRawFloat(row, f, col.floats[size_t(r)]);
                        break;
                    case FieldType::String:
                        if (!col.strings[size_t(r)].isEmpty()) t.setRawString(row, f, col.strings[size_t(r)]);
                        break;
                    }
                }
            }
            t.setObserver(observer);
            t.setIndexFieldNames(QStringLiteral("ID"));
            t.finishLoad();
            db.store.rewrite(t);
        }
        markTables(db, mark);
        db.InsFlag = false;
        db.isAuto = false;
    }
    finishReplacement(db, baseDir);
    return true;
}

} // namespace zentaro::db
