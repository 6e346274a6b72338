// One table file (an SQLite database): reading it and writing it whole, safely.
#include "db/table_file.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <memory>
#include <vector>

#include <fcntl.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHashFunctions>
#include <QStringView>

#include "db/sqlite_util.h"
#include "db/table.h"

namespace zentaro::db {

namespace {

const char* const kFormat = "zentaro-table";
const char* const kVersion = "1";

using sql::DbPtr;
using sql::exec;
using sql::prepare;
using sql::StmtPtr;

QString sqliteError(sqlite3* db) {
    return sql::errorText(db);
}

// Text is kept as UTF-16 in the file, as in memory, so neither saving nor loading converts it.
void bindText(sqlite3_stmt* s, int i, const QString& text) {
    sqlite3_bind_text16(s, i, text.utf16(), int(text.size() * 2), SQLITE_TRANSIENT);
}

void bindStoredText(sqlite3_stmt* s, int i, const QString& text) {
    sqlite3_bind_text16(s, i, text.utf16(), int(text.size() * 2), SQLITE_STATIC);
}

QString columnText(sqlite3_stmt* s, int i) {
    const void* p = sqlite3_column_text16(s, i);
    const int bytes = sqlite3_column_bytes16(s, i);
    return p ? QString(reinterpret_cast<const QChar*>(p), bytes / 2) : QString();
}

// Equal texts of one column share one string buffer: flags, anchor texts and the addresses anchors point
// to repeat across hundreds of thousands of records, and each separate copy costs a heap block. A column
// whose texts are nearly all different stops sharing after a sample, so it pays for no further look-ups;
// the number of texts remembered is capped, so a column of many different texts cannot grow the pool
// beyond a few megabytes while loading.
class SharedTexts {
public:
    bool on() const { return m_on; }
    static size_t hashOf(QStringView text) { return qHash(text, kSeed); }

    // The look-ups of a large column land all over memory; the loader announces them a batch ahead, in
    // three steps (slot, remembered text, its characters), so each step finds its memory in the cache.
    void prefetchSlot(size_t hash) const {
        if (m_on) __builtin_prefetch(&m_slots[hash & m_mask]);
    }
    void prefetchText(size_t hash) const {
        if (!m_on) return;
        if (const Slot& slot = m_slots[hash & m_mask]; slot.index != 0)
            __builtin_prefetch(&m_texts[slot.index - 1]);
    }
    void prefetchChars(size_t hash) const {
        if (!m_on) return;
        if (const Slot& slot = m_slots[hash & m_mask]; slot.index != 0)
            __builtin_prefetch(m_texts[slot.index - 1].constData());
    }

    QString take(QStringView text, size_t hash) {
        if (text.isEmpty()) return {};
        if (!m_on) return text.toString();
        ++m_lookups;
        // Open addressing over indexes into m_texts; a slot keeps part of the text's hash, so a probe
        // compares characters only when hash and length agree.
        const uint32_t tag = uint32_t(quint64(hash) >> 32);
        size_t i = hash & m_mask;
        for (; m_slots[i].index != 0; i = (i + 1) & m_mask) {
            const Slot& slot = m_slots[i];
            if (slot.tag != tag) continue;
            const QString& known = m_texts[slot.index - 1];
            if (known.size() == text.size() &&
                std::memcmp(known.constData(), text.data(), size_t(text.size()) * sizeof(QChar)) == 0) {
                ++m_hits;
                return known;
            }
        }
        QString s = text.toString();
        if (m_lookups == kSample && m_hits * 32 < m_lookups) {
            m_on = false;
            m_slots = {};
            m_texts = {};
        } else if (m_texts.size() < kMaxTexts) {
            m_texts.push_back(s);
            m_slots[i] = {tag, uint32_t(m_texts.size())};
            if (m_texts.size() * 2 > m_slots.size()) grow();
        }
        return s;
    }

private:
    struct Slot {
        uint32_t tag = 0;   // high half of the hash; the low bits choose the slot
        uint32_t index = 0; // 1-based into m_texts; 0 for an empty slot
    };

    void grow() {
        std::vector<Slot> table(m_slots.size() * 2);
        m_mask = table.size() - 1;
        for (const Slot& slot : m_slots) {
            if (slot.index == 0) continue;
            size_t i = hashOf(m_texts[slot.index - 1]) & m_mask;
            while (table[i].index != 0)
                i = (i + 1) & m_mask;
            table[i] = slot;
        }
        m_slots = std::move(table);
    }

    static constexpr size_t kSeed = 0x9e3779b9;
    static constexpr qsizetype kSample = 16384;
    static constexpr size_t kMaxTexts = size_t(1) << 17;
    std::vector<QString> m_texts;
    std::vector<Slot> m_slots = std::vector<Slot>(64);
    size_t m_mask = 63;
    qsizetype m_lookups = 0;
    qsizetype m_hits = 0;
    bool m_on = true;
};

// Texts read from the records wait here, copied, until a batch of look-ups is due.
struct PendingTexts {
    struct Text {
        int row;
        int field;
        int column;
        qsizetype offset;
        qsizetype size;
        size_t hash;
    };
    static constexpr size_t kBatch = 64;
    static constexpr qsizetype kMaxChars = qsizetype(1) << 16;
    std::vector<Text> texts;
    std::vector<QChar> chars;

    bool full() const { return texts.size() >= kBatch || qsizetype(chars.size()) >= kMaxChars; }
    void flush(Table& table, std::vector<SharedTexts>& shared) {
        for (const Text& t : texts)
            shared[size_t(t.column)].prefetchText(t.hash);
        for (const Text& t : texts)
            shared[size_t(t.column)].prefetchChars(t.hash);
        for (const Text& t : texts)
            table.setRawString(
                t.row, t.field,
                shared[size_t(t.column)].take(QStringView(chars.data() + t.offset, t.size), t.hash));
        texts.clear();
        chars.clear();
    }
};

bool writeDatabase(const Table& table, const QString& tmp, QString* err, const TableFile::Notes& notes) {
    sqlite3* raw = nullptr;
    if (sqlite3_open_v2(QFile::encodeName(tmp).constData(), &raw, SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOMUTEX,
                        nullptr) != SQLITE_OK) {
        if (err) *err = raw ? sqliteError(raw) : QStringLiteral("нет памяти");
        sqlite3_close_v2(raw);
        return false;
    }
    DbPtr db(raw);
    if (!exec(raw, "PRAGMA encoding='UTF-16le'; PRAGMA journal_mode=OFF; PRAGMA synchronous=OFF; BEGIN;",
              err))
        return false;
    if (!exec(raw,
              "CREATE TABLE zentaro_table(key TEXT PRIMARY KEY, value TEXT);"
              "CREATE TABLE fields(pos INTEGER PRIMARY KEY, name TEXT NOT NULL, type TEXT NOT NULL, size "
              "INTEGER);",
              err))
        return false;
    {
        StmtPtr meta = prepare(raw, QStringLiteral("INSERT INTO zentaro_table VALUES(?, ?)"));
        if (!meta) {
            *err = sqliteError(raw);
            return false;
        }
        TableFile::Notes rows = {{QStringLiteral("format"), QString::fromLatin1(kFormat)},
                                 {QStringLiteral("version"), QString::fromLatin1(kVersion)},
                                 {QStringLiteral("name"), table.tableName()}};
        for (const auto& note : notes)
            if (std::none_of(rows.begin(), rows.begin() + 3,
                             [&](const auto& r) { return r.first == note.first; }))
                rows.push_back(note);
        for (const auto& [k, v] : rows) {
            bindText(meta.get(), 1, k);
            bindText(meta.get(), 2, v);
            if (sqlite3_step(meta.get()) != SQLITE_DONE) {
                *err = sqliteError(raw);
                return false;
            }
            sqlite3_reset(meta.get());
        }
    }
    const std::vector<int> stored = table.storedFields();
    QString create = QStringLiteral("CREATE TABLE records(");
    QString insert = QStringLiteral("INSERT INTO records VALUES(");
    {
        StmtPtr fs = prepare(raw, QStringLiteral("INSERT INTO fields VALUES(?, ?, ?, ?)"));
        if (!fs) {
            *err = sqliteError(raw);
            return false;
        }
        for (size_t i = 0; i < stored.size(); ++i) {
            const FieldDef& f = table.field(stored[i]);
            sqlite3_bind_int(fs.get(), 1, int(i));
            bindText(fs.get(), 2, f.name);
            bindText(fs.get(), 3, fieldTypeName(f.type));
            sqlite3_bind_int(fs.get(), 4, f.size);
            if (sqlite3_step(fs.get()) != SQLITE_DONE) {
                *err = sqliteError(raw);
                return false;
            }
            sqlite3_reset(fs.get());
            create += (i ? QStringLiteral(", c") : QStringLiteral("c")) + QString::number(i);
            insert += i ? QStringLiteral(", ?") : QStringLiteral("?");
        }
    }
    if (stored.empty()) {
        create += QStringLiteral("c0");
        insert += QStringLiteral("NULL");
    }
    create += u')';
    insert += u')';
    if (!exec(raw, create.toUtf8().constData(), err)) return false;
    StmtPtr ins = prepare(raw, insert);
    if (!ins) {
        *err = sqliteError(raw);
        return false;
    }
    for (int row = 0; row < table.rowCapacity(); ++row) {
        if (!table.rowAlive(row) || row == table.insertRow()) continue;
        TableFile::bindRecord(ins.get(), table, stored, row);
        if (sqlite3_step(ins.get()) != SQLITE_DONE) {
            *err = sqliteError(raw);
            return false;
        }
        sqlite3_reset(ins.get());
    }
    ins.reset();
    if (!exec(raw, "COMMIT;", err)) return false;
    if (sqlite3_close_v2(db.release()) != SQLITE_OK) {
        *err = QStringLiteral("ошибка закрытия файла");
        return false;
    }
    return true;
}

} // namespace

bool TableFile::syncPath(const QString& path, bool directory) {
    const int fd = ::open(QFile::encodeName(path).constData(), directory ? O_RDONLY | O_DIRECTORY : O_RDONLY);
    if (fd < 0) return false;
    const bool ok = ::fsync(fd) == 0;
    ::close(fd);
    return ok;
}

void TableFile::bindRecord(sqlite3_stmt* ins, const Table& table, const std::vector<int>& stored, int row) {
    const bool edited = row == table.editRow();
    for (size_t i = 0; i < stored.size(); ++i) {
        const int f = stored[i];
        const int p = int(i) + 1;
        if (edited) {
            // The record being edited is written as it was last posted.
            const QVariant v = table.postedValue(row, f);
            if (!v.isValid()) {
                sqlite3_bind_null(ins, p);
                continue;
            }
            switch (table.field(f).type) {
            case FieldType::Integer:
                sqlite3_bind_int64(ins, p, v.toLongLong());
                break;
            case FieldType::Date:
                sqlite3_bind_int64(ins, p, v.toDate().toJulianDay());
                break;
            case FieldType::Float:
                sqlite3_bind_double(ins, p, v.toDouble());
                break;
            case FieldType::String:
                bindText(ins, p, v.toString());
                break;
            }
            continue;
        }
        switch (table.field(f).type) {
        case FieldType::Integer:
        case FieldType::Date: {
            const qint64 v = table.rawInt(row, f);
            if (v == kNullInt)
                sqlite3_bind_null(ins, p);
            else
                sqlite3_bind_int64(ins, p, v);
            break;
        }
        case FieldType::Float: {
            const double v = table.rawFloat(row, f);
            if (std::isnan(v))
                sqlite3_bind_null(ins, p);
            else
                sqlite3_bind_double(ins, p, v);
            break;
        }
        case FieldType::String: {
            const QString& v = table.rawString(row, f);
            if (v.isEmpty())
                sqlite3_bind_null(ins, p);
            else
                bindStoredText(ins, p, v);
            break;
        }
        }
    }
}

bool TableFile::save(const Table& table, const QString& path, QString* error, const Notes& notes) {
    QString err;
    const QString tmp = path + QStringLiteral(".tmp");
    const QString fileName = QFileInfo(path).fileName();
    auto fail = [&](const QString& why) {
        QFile::remove(tmp);
        if (error) *error = QStringLiteral("Не удалось сохранить таблицу \"%1\": %2").arg(fileName, why);
        return false;
    };
    QFile::remove(tmp);
    const int fd = ::open(QFile::encodeName(tmp).constData(), O_CREAT | O_EXCL | O_WRONLY, 0600);
    if (fd < 0) return fail(QString::fromLocal8Bit(strerror(errno)));
    ::close(fd);
    if (!writeDatabase(table, tmp, &err, notes)) return fail(err);
    if (!TableFile::syncPath(tmp, false)) return fail(QStringLiteral("не удалось записать файл на диск"));
    if (::rename(QFile::encodeName(tmp).constData(), QFile::encodeName(path).constData()) != 0)
        return fail(QString::fromLocal8Bit(strerror(errno)));
    TableFile::syncPath(QFileInfo(path).absolutePath(), true);
    return true;
}

bool TableFile::load(Table& table, const QString& path, QString* error) {
    const QString fileName = QFileInfo(path).fileName();
    auto fail = [&](const QString& why) {
        table.clearRecords();
        table.finishLoad();
        if (error) *error = QStringLiteral("Не удалось загрузить таблицу \"%1\": %2").arg(fileName, why);
        return false;
    };
    if (!QFileInfo::exists(path)) return fail(QStringLiteral("файл не найден"));
    sqlite3* raw = nullptr;
    const int rc = sqlite3_open_v2(QFile::encodeName(path).constData(), &raw,
                                   SQLITE_OPEN_READONLY | SQLITE_OPEN_NOMUTEX, nullptr);
    DbPtr db(raw);
    if (rc != SQLITE_OK) return fail(raw ? sqliteError(raw) : QStringLiteral("нет памяти"));
    return loadFrom(raw, "main", table, nullptr, fileName, error);
}

bool TableFile::loadFrom(sqlite3* raw, const char* schema, Table& table, std::vector<qint64>* rowids,
                         const QString& fileName, QString* error) {
    auto fail = [&](const QString& why) {
        table.clearRecords();
        table.finishLoad();
        if (rowids) rowids->clear();
        if (error) *error = QStringLiteral("Не удалось загрузить таблицу \"%1\": %2").arg(fileName, why);
        return false;
    };
    const QString sc = QString::fromLatin1(schema);
    const QString foreign = QStringLiteral("файл повреждён или не является файлом таблицы Zentaro");
    const QString damagedFields = QStringLiteral("описание полей не соответствует записям файла");
    {
        StmtPtr meta =
            prepare(raw, QStringLiteral("SELECT value FROM %1.zentaro_table WHERE key = 'format'").arg(sc));
        if (!meta || sqlite3_step(meta.get()) != SQLITE_ROW ||
            qstrcmp(reinterpret_cast<const char*>(sqlite3_column_text(meta.get(), 0)), kFormat) != 0)
            return fail(foreign);
    }
    {
        // A file renamed from another table's file holds that table's records: never load it here.
        StmtPtr name =
            prepare(raw, QStringLiteral("SELECT value FROM %1.zentaro_table WHERE key = 'name'").arg(sc));
        if (!name || sqlite3_step(name.get()) != SQLITE_ROW) return fail(foreign);
        const QString stored = columnText(name.get(), 0);
        if (stored != table.tableName())
            return fail(QStringLiteral("файл содержит другую таблицу (%1)").arg(stored.left(64)));
    }
    struct FileField {
        QString name;
        FieldType type;
        int size;
    };
    std::vector<FileField> fileFields;
    {
        StmtPtr fs =
            prepare(raw, QStringLiteral("SELECT name, type, size, pos FROM %1.fields ORDER BY pos").arg(sc));
        if (!fs) return fail(foreign);
        int step;
        while ((step = sqlite3_step(fs.get())) == SQLITE_ROW) {
            FileField f;
            f.name = columnText(fs.get(), 0);
            if (!fieldTypeFromName(columnText(fs.get(), 1), f.type)) return fail(foreign);
            f.size = sqlite3_column_int(fs.get(), 2);
            // Field i describes column c<i>: a gap or a repeated name would put values under other fields.
            if (sqlite3_column_int64(fs.get(), 3) != qint64(fileFields.size()) ||
                std::any_of(fileFields.begin(), fileFields.end(), [&](const FileField& o) {
                    return o.name.compare(f.name, Qt::CaseInsensitive) == 0;
                }))
                return fail(damagedFields);
            fileFields.push_back(f);
        }
        if (step != SQLITE_DONE) return fail(sqliteError(raw));
    }
    if (fileFields.empty() && !table.storedFields().empty()) return fail(damagedFields);
    if (table.fieldCount() == 0) {
        for (const FileField& f : fileFields)
            table.addFieldDef(f.name, f.type, f.size);
    }
    if (!table.isActive()) table.createDataSet();
    // File columns map to the table's stored fields by name; a column of another type is a foreign file. A
    // name the table does not know (renamed, blank) leaves a column that nothing would read: loading without
    // it and storing the table again would erase that column, so the file is refused as damaged.
    std::vector<int> target(fileFields.size(), -1);
    for (size_t i = 0; i < fileFields.size(); ++i) {
        const int f = table.fieldIndex(fileFields[i].name);
        if (f < 0 || table.field(f).kind != FieldKind::Stored)
            return fail(QStringLiteral("%1 (неизвестное поле \"%2\")")
                            .arg(damagedFields, fileFields[i].name.left(64)));
        if (table.field(f).type != fileFields[i].type) return fail(foreign);
        target[i] = f;
    }
    table.clearRecords();
    if (rowids) rowids->clear();
    StmtPtr rs = prepare(raw, QStringLiteral("SELECT rowid, * FROM %1.records").arg(sc));
    if (!rs) return fail(sqliteError(raw));
    // Column 0 is the record's key in the file; the stored fields follow it, one column c<i> per field. A
    // file whose columns the fields do not describe is refused rather than loaded with blank values (which
    // a later save would make permanent).
    const int ncols = int(fileFields.size());
    if (sqlite3_column_count(rs.get()) - 1 != std::max(ncols, 1)) return fail(damagedFields);
    for (int c = 0; c < ncols; ++c)
        if (qstrcmp(sqlite3_column_name(rs.get(), c + 1), QByteArray("c" + QByteArray::number(c))) != 0)
            return fail(damagedFields);
    {
        // Room for every record up front spares each column its regrowth copies and the spare capacity those
        // leave behind. Keys are distinct and positive, so the largest bounds the count at the cost of one
        // look-up rather than a pass over the file; the file's size bounds it too (a record takes at least
        // a few bytes per field), so a forged key cannot reserve more than the file could hold.
        const auto number = [&](const QString& sql) -> qint64 {
            StmtPtr st = prepare(raw, sql);
            return st && sqlite3_step(st.get()) == SQLITE_ROW ? sqlite3_column_int64(st.get(), 0) : 0;
        };
        const qint64 lastKey = number(QStringLiteral("SELECT max(rowid) FROM %1.records").arg(sc));
        const qint64 fileBytes = number(QStringLiteral("PRAGMA %1.page_count").arg(sc)) *
                                 number(QStringLiteral("PRAGMA %1.page_size").arg(sc));
        const qint64 n = std::clamp<qint64>(std::min(lastKey, fileBytes / (ncols + 5)), 0,
                                            std::numeric_limits<int>::max());
        table.reserveRows(int(n));
        if (rowids) rowids->reserve(size_t(n));
    }
    std::vector<SharedTexts> shared(static_cast<size_t>(ncols));
    PendingTexts pending;
    int step;
    while ((step = sqlite3_step(rs.get())) == SQLITE_ROW) {
        const int row = table.appendRawRow();
        if (rowids) rowids->push_back(sqlite3_column_int64(rs.get(), 0));
        for (int c = 0; c < ncols; ++c) {
            const int f = target[size_t(c)];
            const int i = c + 1;
            if (f < 0 || sqlite3_column_type(rs.get(), i) == SQLITE_NULL) continue;
            switch (table.field(f).type) {
            case FieldType::Integer:
            case FieldType::Date:
                table.setRawInt(row, f, sqlite3_column_int64(rs.get(), i));
                break;
            case FieldType::Float:
                table.setRawFloat(row, f, sqlite3_column_double(rs.get(), i));
                break;
            case FieldType::String: {
                const void* p = sqlite3_column_text16(rs.get(), i);
                QStringView text(reinterpret_cast<const QChar*>(p),
                                 p ? sqlite3_column_bytes16(rs.get(), i) / 2 : 0);
                const int size = table.field(f).size;
                if (size > 0 && text.size() > size) text.truncate(size);
                SharedTexts& pool = shared[size_t(c)];
                if (text.isEmpty() || !pool.on()) {
                    table.setRawString(row, f, text.toString());
                    break;
                }
                const size_t hash = SharedTexts::hashOf(text);
                pool.prefetchSlot(hash);
                pending.texts.push_back({row, f, c, qsizetype(pending.chars.size()), text.size(), hash});
                pending.chars.insert(pending.chars.end(), text.begin(), text.end());
                break;
            }
            }
        }
        if (pending.full()) pending.flush(table, shared);
    }
    if (step != SQLITE_DONE) return fail(sqliteError(raw));
    pending.flush(table, shared);
    table.finishLoad();
    return true;
}

} // namespace zentaro::db
