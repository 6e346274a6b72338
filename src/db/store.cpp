// The store: writes every posted change of the tables into their files, in one transaction per action.
#include "db/store.h"

#include <algorithm>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QFile>
#include <QFileInfo>

#include "db/sqlite_util.h"
#include "db/table_file.h"

namespace zentaro::db {

struct Store::Entry {
    Table* table = nullptr;
    QString schema;
    QString path;
    std::vector<int> stored;
    // The file's key of each engine row; 0 for a row the file does not hold yet.
    std::vector<qint64> rowids;
    std::unordered_set<int> dirty;
    std::vector<qint64> deleted;
    bool rewriteAll = false;
    std::vector<std::pair<QString, QString>> notes;
    sql::StmtPtr insert, update, remove;

    qint64& rowidOf(int row) {
        if (size_t(row) >= rowids.size()) rowids.resize(size_t(table->rowCapacity()) + 1, 0);
        return rowids[size_t(row)];
    }
    bool pending() const { return rewriteAll || !dirty.empty() || !deleted.empty() || !notes.empty(); }
};

namespace {

QString quoted(const QString& s) {
    QString q = s;
    q.replace(u'\'', QStringLiteral("''"));
    return u'\'' + q + u'\'';
}

} // namespace

Store::Store(QObject* parent) : QObject(parent) {
    m_timer.setSingleShot(true);
    m_timer.setInterval(kWriteDelayMs);
    connect(&m_timer, &QTimer::timeout, this, [this] {
        if (m_depth > 0) return;
        QString err;
        if (flush(&err)) {
            m_failing = false;
        } else if (!m_failing) {
            m_failing = true;
            emit writeFailed(err);
        }
    });
}

Store::~Store() {
    close();
}

bool Store::open(const QString& mainPath, QString* error) {
    close();
    const QByteArray path = mainPath.isEmpty() ? QByteArray(":memory:") : QFile::encodeName(mainPath);
    sqlite3* raw = nullptr;
    const int rc =
        sqlite3_open_v2(path.constData(), &raw, SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOMUTEX, nullptr);
    if (rc != SQLITE_OK) {
        if (error) *error = raw ? sql::errorText(raw) : QStringLiteral("нет памяти");
        sqlite3_close_v2(raw);
        return false;
    }
    m_db = raw;
    // Several files in one transaction are atomic only with a rollback journal; full sync makes a
    // finished transaction survive a power cut.
    if (!sql::exec(m_db, "PRAGMA main.journal_mode=DELETE; PRAGMA main.synchronous=FULL;", error)) {
        close();
        return false;
    }
    sqlite3_busy_timeout(m_db, 500);
    return true;
}

void Store::close() {
    // A change that waited for the event loop is written now: the loop may never turn again. One still
    // under way is not complete, and stays unwritten.
    if (m_db && m_depth == 0) flush();
    m_timer.stop();
    for (auto& e : m_entries)
        if (e->table->observer() == this) e->table->setObserver(nullptr);
    m_entries.clear();
    if (m_db) sqlite3_close_v2(m_db);
    m_db = nullptr;
    m_failing = false;
}

Store::Entry* Store::entryOf(const Table& table) const {
    for (const auto& e : m_entries)
        if (e->table == &table) return e.get();
    return nullptr;
}

bool Store::load(Entry& e, QString* error) {
    const QByteArray schema = e.schema.toLatin1();
    if (!TableFile::loadFrom(m_db, schema.constData(), *e.table, &e.rowids, QFileInfo(e.path).fileName(),
                             error))
        return false;
    e.stored = e.table->storedFields();
    QString cols, sets, marks;
    for (size_t i = 0; i < e.stored.size(); ++i) {
        const QString c = QStringLiteral("c") + QString::number(i);
        cols += (i ? QStringLiteral(", ") : QString()) + c;
        marks += i ? QStringLiteral(", ?") : QStringLiteral("?");
        sets += (i ? QStringLiteral(", ") : QString()) + c + QStringLiteral(" = ?");
    }
    const QString t = e.schema + QStringLiteral(".records");
    e.insert = sql::prepare(m_db, QStringLiteral("INSERT INTO %1(%2) VALUES(%3)").arg(t, cols, marks));
    e.update = sql::prepare(m_db, QStringLiteral("UPDATE %1 SET %2 WHERE rowid = ?").arg(t, sets));
    e.remove = sql::prepare(m_db, QStringLiteral("DELETE FROM %1 WHERE rowid = ?").arg(t));
    if (!e.insert || !e.update || !e.remove) {
        if (error) *error = sql::errorText(m_db);
        return false;
    }
    e.table->setObserver(this);
    return true;
}

bool Store::attachMain(Table& table, QString* error) {
    if (!m_db) return false;
    auto e = std::make_unique<Entry>();
    e->table = &table;
    e->schema = QStringLiteral("main");
    e->path = QString::fromUtf8(sqlite3_db_filename(m_db, "main"));
    if (!load(*e, error)) return false;
    m_entries.push_back(std::move(e));
    return true;
}

bool Store::attach(Table& table, const QString& path, QString* error) {
    if (!m_db) return false;
    auto e = std::make_unique<Entry>();
    e->table = &table;
    e->schema = QStringLiteral("t") + QString::number(m_nextSchema++);
    e->path = path;
    auto attachFile = [&] {
        QString err;
        if (!sql::exec(m_db, QStringLiteral("ATTACH DATABASE %1 AS %2").arg(quoted(path), e->schema), &err) ||
            !sql::exec(
                m_db,
                QStringLiteral("PRAGMA %1.journal_mode=DELETE; PRAGMA %1.synchronous=FULL;").arg(e->schema),
                &err)) {
            if (error)
                *error = QStringLiteral("Не удалось загрузить таблицу \"%1\": %2")
                             .arg(QFileInfo(path).fileName(), err);
            return false;
        }
        return true;
    };
    auto detach = [&] { sql::exec(m_db, QStringLiteral("DETACH DATABASE %1").arg(e->schema), nullptr); };
    if (!attachFile()) return false;
    // Reading through the connection first rolls back what a crash left half written.
    if (!load(*e, error)) {
        detach();
        return false;
    }
    // A file in another layout (older fields, other order) is rewritten once in the table's own.
    bool sameLayout = true;
    {
        sql::StmtPtr fs = sql::prepare(
            m_db, QStringLiteral("SELECT name, type, size FROM %1.fields ORDER BY pos").arg(e->schema));
        size_t i = 0;
        while (fs && sqlite3_step(fs.get()) == SQLITE_ROW) {
            const QString name =
                QString::fromUtf8(reinterpret_cast<const char*>(sqlite3_column_text(fs.get(), 0)));
            const QString type =
                QString::fromUtf8(reinterpret_cast<const char*>(sqlite3_column_text(fs.get(), 1)));
            if (i >= e->stored.size() || table.field(e->stored[i]).name != name ||
                fieldTypeName(table.field(e->stored[i]).type) != type ||
                table.field(e->stored[i]).size != sqlite3_column_int(fs.get(), 2))
                sameLayout = false;
            ++i;
        }
        sameLayout = sameLayout && fs && i == e->stored.size();
    }
    if (!sameLayout) {
        // The notes written beside the records (the mark of the check history) go into the new file with
        // them: a file without its mark would part the tables from their history.
        TableFile::Notes notes;
        {
            sql::StmtPtr ns =
                sql::prepare(m_db, QStringLiteral("SELECT key, value FROM %1.zentaro_table").arg(e->schema));
            while (ns && sqlite3_step(ns.get()) == SQLITE_ROW) {
                const auto text = [&](int c) {
                    const void* p = sqlite3_column_text16(ns.get(), c);
                    return p ? QString(reinterpret_cast<const QChar*>(p),
                                       sqlite3_column_bytes16(ns.get(), c) / 2)
                             : QString();
                };
                notes.emplace_back(text(0), text(1));
            }
        }
        e->insert.reset();
        e->update.reset();
        e->remove.reset();
        table.setObserver(nullptr);
        detach();
        if (!TableFile::save(table, path, error, notes)) return false;
        if (!attachFile()) return false;
        if (!load(*e, error)) {
            detach();
            return false;
        }
    }
    m_entries.push_back(std::move(e));
    return true;
}

void Store::detachAll() {
    for (auto it = m_entries.begin(); it != m_entries.end();) {
        Entry& e = **it;
        if (e.schema == QLatin1String("main")) {
            ++it;
            continue;
        }
        e.table->setObserver(nullptr);
        e.insert.reset();
        e.update.reset();
        e.remove.reset();
        sql::exec(m_db, QStringLiteral("DETACH DATABASE %1").arg(e.schema), nullptr);
        it = m_entries.erase(it);
    }
}

QString Store::folderOf(const Table& table) const {
    const Entry* e = entryOf(table);
    return e ? QFileInfo(e->path).absolutePath() + u'/' : QString();
}

QStringList Store::fileNames() const {
    QStringList out;
    for (const auto& e : m_entries)
        out << QFileInfo(e->path).fileName();
    return out;
}

bool Store::hasPending() const {
    return std::any_of(m_entries.begin(), m_entries.end(), [](const auto& e) { return e->pending(); }) ||
           std::any_of(m_extras.begin(), m_extras.end(), [](const StoreExtra* x) { return x->pending(); });
}

bool Store::attachFile(const QString& schema, const QString& path, QString* error) {
    if (!m_db) return false;
    // The connection opens files without creating them: a missing file is made first, owner-only.
    if (!QFileInfo::exists(path)) {
        sqlite3* made = nullptr;
        const int rc = sqlite3_open_v2(QFile::encodeName(path).constData(), &made,
                                       SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr);
        // Attached files share the main file's text encoding.
        QByteArray encoding = "UTF-8";
        if (sql::StmtPtr e = sql::prepare(m_db, QStringLiteral("PRAGMA main.encoding"));
            e && sqlite3_step(e.get()) == SQLITE_ROW)
            encoding = reinterpret_cast<const char*>(sqlite3_column_text(e.get(), 0));
        const bool ok =
            rc == SQLITE_OK &&
            sql::exec(made, ("PRAGMA encoding='" + encoding + "'; PRAGMA user_version=1").constData(), error);
        if (rc != SQLITE_OK && error) *error = made ? sql::errorText(made) : QStringLiteral("нет памяти");
        sqlite3_close_v2(made);
        if (!ok) return false;
        QFile::setPermissions(path, QFile::ReadOwner | QFile::WriteOwner);
    }
    return sql::exec(m_db, QStringLiteral("ATTACH DATABASE %1 AS %2").arg(quoted(path), schema), error) &&
           sql::exec(m_db,
                     QStringLiteral("PRAGMA %1.journal_mode=DELETE; PRAGMA %1.synchronous=FULL;").arg(schema),
                     error);
}

void Store::removeExtra(StoreExtra* extra) {
    m_extras.erase(std::remove(m_extras.begin(), m_extras.end(), extra), m_extras.end());
}

void Store::rowStored(Table& table, int row) {
    if (Entry* e = entryOf(table)) e->dirty.insert(row);
}

void Store::rowDeleted(Table& table, int row) {
    Entry* e = entryOf(table);
    if (!e) return;
    e->dirty.erase(row);
    qint64& id = e->rowidOf(row);
    if (id != 0) e->deleted.push_back(id);
    id = 0;
}

void Store::rewrite(Table& table) {
    Entry* e = entryOf(table);
    if (!e) return;
    e->rewriteAll = true;
    e->dirty.clear();
    e->deleted.clear();
    std::fill(e->rowids.begin(), e->rowids.end(), 0);
    scheduleFlush();
}

void Store::beginChange() {
    ++m_depth;
}

void Store::endChange() {
    if (m_depth > 0) --m_depth;
    if (m_depth == 0) scheduleFlush();
}

void Store::scheduleFlush() {
    if (m_depth > 0 || !hasPending()) return;
    // The first change starts the wait and later ones join it, so a quick run of changes costs one write
    // every kWriteDelayMs at most.
    if (m_deferred) {
        if (!m_timer.isActive()) m_timer.start();
    } else
        flush();
}

bool Store::writeEntry(Entry& e, QString* error) {
    auto step = [&](sqlite3_stmt* s) {
        const int rc = sqlite3_step(s);
        sqlite3_reset(s);
        if (rc == SQLITE_DONE) return true;
        if (error) *error = sql::errorText(m_db);
        return false;
    };
    for (const auto& [key, value] : e.notes) {
        sql::StmtPtr s = sql::prepare(
            m_db,
            QStringLiteral("INSERT OR REPLACE INTO %1.zentaro_table(key, value) VALUES(?, ?)").arg(e.schema));
        if (!s) {
            if (error) *error = sql::errorText(m_db);
            return false;
        }
        const QByteArray k = key.toUtf8(), v = value.toUtf8();
        sqlite3_bind_text(s.get(), 1, k.constData(), int(k.size()), SQLITE_TRANSIENT);
        sqlite3_bind_text(s.get(), 2, v.constData(), int(v.size()), SQLITE_TRANSIENT);
        if (!step(s.get())) return false;
    }
    if (e.rewriteAll) {
        if (!sql::exec(m_db, QStringLiteral("DELETE FROM %1.records").arg(e.schema), error)) return false;
        for (int row = 0; row < e.table->rowCapacity(); ++row)
            if (e.table->rowAlive(row)) e.dirty.insert(row);
    }
    for (const qint64 id : e.deleted) {
        sqlite3_bind_int64(e.remove.get(), 1, id);
        if (!step(e.remove.get())) return false;
    }
    std::vector<int> rows(e.dirty.begin(), e.dirty.end());
    std::sort(rows.begin(), rows.end());
    const int n = int(e.stored.size());
    for (const int row : rows) {
        if (row >= e.table->rowCapacity() || !e.table->rowAlive(row) || row == e.table->insertRow()) continue;
        qint64& id = e.rowidOf(row);
        if (id == 0) {
            TableFile::bindRecord(e.insert.get(), *e.table, e.stored, row);
            if (!step(e.insert.get())) return false;
            id = sqlite3_last_insert_rowid(m_db);
        } else {
            TableFile::bindRecord(e.update.get(), *e.table, e.stored, row);
            sqlite3_bind_int64(e.update.get(), n + 1, id);
            if (!step(e.update.get())) return false;
        }
    }
    return true;
}

bool Store::flush(QString* error) {
    m_timer.stop();
    if (!m_db || !hasPending()) return true;
    // Keys given to new rows in this attempt are taken back if it fails, so the next attempt inserts them.
    std::vector<std::vector<qint64>> keys;
    keys.reserve(m_entries.size());
    for (const auto& e : m_entries)
        keys.push_back(e->rowids);
    QString err;
    const bool tables =
        std::any_of(m_entries.begin(), m_entries.end(), [](const auto& e) { return e->pending(); });
    bool ok = !tables || sql::exec(m_db, "BEGIN", &err);
    for (size_t i = 0; tables && ok && i < m_entries.size(); ++i)
        if (m_entries[i]->pending()) ok = writeEntry(*m_entries[i], &err);
    if (tables && ok) ok = sql::exec(m_db, "COMMIT", &err);
    if (!ok) {
        if (!sqlite3_get_autocommit(m_db)) sql::exec(m_db, "ROLLBACK", nullptr);
        for (size_t i = 0; i < m_entries.size(); ++i)
            m_entries[i]->rowids = std::move(keys[i]);
        if (error) *error = err;
        return false;
    }
    for (auto& e : m_entries) {
        e->dirty.clear();
        e->deleted.clear();
        e->notes.clear();
        e->rewriteAll = false;
    }
    // Each extra on its own: a damaged or full history file drops its rows, never the tables' changes.
    const std::vector<StoreExtra*> extras = m_extras;
    for (StoreExtra* x : extras) {
        if (!x->pending()) continue;
        QString xerr;
        bool xok = sql::exec(m_db, "BEGIN", &xerr) && x->write(m_db, &xerr);
        const int code = xok ? SQLITE_OK : sqlite3_errcode(m_db);
        if (xok) xok = sql::exec(m_db, "COMMIT", &xerr);
        if (xok) {
            x->written();
            continue;
        }
        const int failedCode = code != SQLITE_OK ? code : sqlite3_errcode(m_db);
        if (!sqlite3_get_autocommit(m_db)) sql::exec(m_db, "ROLLBACK", nullptr);
        x->failed(failedCode, xerr);
    }
    return true;
}

void Store::setNote(Table& table, const QString& key, const QString& value) {
    Entry* e = entryOf(table);
    if (!e) return;
    e->notes.emplace_back(key, value);
    scheduleFlush();
}

QString Store::note(const Table& table, const QString& key) const {
    const Entry* e = entryOf(table);
    if (!e || !m_db) return {};
    sql::StmtPtr s =
        sql::prepare(m_db, QStringLiteral("SELECT value FROM %1.zentaro_table WHERE key = ?").arg(e->schema));
    if (!s) return {};
    const QByteArray k = key.toUtf8();
    sqlite3_bind_text(s.get(), 1, k.constData(), int(k.size()), SQLITE_TRANSIENT);
    if (sqlite3_step(s.get()) != SQLITE_ROW) return {};
    const void* p = sqlite3_column_text16(s.get(), 0);
    return p ? QString(reinterpret_cast<const QChar*>(p), sqlite3_column_bytes16(s.get(), 0) / 2) : QString();
}

bool Store::copyFileTo(const QString& fileName, const QString& target, QString* error) {
    if (!m_db || !flush(error)) return false;
    const Entry* entry = nullptr;
    for (const auto& e : m_entries)
        if (QFileInfo(e->path).fileName() == fileName) entry = e.get();
    if (!entry) return false;
    return copySchemaTo(entry->schema, target, error);
}

bool Store::copySchemaTo(const QString& schema, const QString& target, QString* error) {
    if (!m_db || !flush(error)) return false;
    const QString fileName = QFileInfo(target).fileName();
    const QString tmp = target + QStringLiteral(".tmp");
    auto fail = [&](const QString& why) {
        QFile::remove(tmp);
        if (error) *error = QStringLiteral("Не удалось скопировать \"%1\": %2").arg(fileName, why);
        return false;
    };
    QFile::remove(tmp);
    // The copy is made into an empty file created owner-only, as the data files are.
    const int fd = ::open(QFile::encodeName(tmp).constData(), O_CREAT | O_EXCL | O_WRONLY, 0600);
    if (fd < 0) return fail(QString::fromLocal8Bit(strerror(errno)));
    ::close(fd);
    QString err;
    if (!sql::exec(m_db, QStringLiteral("VACUUM %1 INTO %2").arg(schema, quoted(tmp)), &err))
        return fail(err);
    if (!TableFile::syncPath(tmp, false)) return fail(QStringLiteral("не удалось записать файл на диск"));
    if (::rename(QFile::encodeName(tmp).constData(), QFile::encodeName(target).constData()) != 0)
        return fail(QString::fromLocal8Bit(strerror(errno)));
    return true;
}

} // namespace zentaro::db
