// The evidence, change events and kept pages of the presence checks in the history file.
#include "db/evidence_store.h"

#include <array>

#include <sqlite3.h>

#include <QCryptographicHash>
#include <QStringList>

#include "db/sqlite_util.h"

namespace zentaro::db {

namespace {

void bindText(sqlite3_stmt* s, int i, const QString& v) {
    const QByteArray utf8 = v.toUtf8();
    sqlite3_bind_text(s, i, utf8.constData(), int(utf8.size()), SQLITE_TRANSIENT);
}

void bindBlob(sqlite3_stmt* s, int i, const QByteArray& v) {
    sqlite3_bind_blob(s, i, v.constData(), int(v.size()), SQLITE_TRANSIENT);
}

QByteArray blob(sqlite3_stmt* s, int col) {
    const auto* p = static_cast<const char*>(sqlite3_column_blob(s, col));
    return p ? QByteArray(p, sqlite3_column_bytes(s, col)) : QByteArray();
}

QString text(sqlite3_stmt* s, int col) {
    const auto* p = reinterpret_cast<const char*>(sqlite3_column_text(s, col));
    return p ? QString::fromUtf8(p, sqlite3_column_bytes(s, col)) : QString();
}

QDateTime timeAt(sqlite3_stmt* s, int col) {
    return QDateTime::fromString(text(s, col), Qt::ISODateWithMs);
}

// Runs a statement that returns no rows with the subject and id bound as ?1 and ?2.
bool stepFor(sqlite3_stmt* s, int subject, int id) {
    sqlite3_bind_int(s, 1, subject);
    sqlite3_bind_int(s, 2, id);
    const int rc = sqlite3_step(s);
    sqlite3_reset(s);
    return rc == SQLITE_DONE;
}

} // namespace

const QStringList& EvidenceStore::tableNames() {
    static const QStringList names = {QStringLiteral("events"), QStringLiteral("evidence"),
                                      QStringLiteral("snapshots")};
    return names;
}

bool EvidenceStore::createTables(sqlite3* db, QString* error) {
    return sql::exec(
        db,
        "CREATE TABLE IF NOT EXISTS checks.evidence(id INTEGER PRIMARY KEY, subject INTEGER NOT "
        "NULL, rid INTEGER NOT NULL, at TEXT NOT NULL, found INTEGER NOT NULL, data BLOB NOT NULL);"
        "CREATE INDEX IF NOT EXISTS checks.evidence_of ON evidence(subject, rid, id);"
        "CREATE TABLE IF NOT EXISTS checks.events(id INTEGER PRIMARY KEY, subject INTEGER NOT NULL, "
        "rid INTEGER NOT NULL, at TEXT NOT NULL, text TEXT NOT NULL);"
        "CREATE INDEX IF NOT EXISTS checks.events_of ON events(subject, rid, id);"
        "CREATE TABLE IF NOT EXISTS checks.snapshots(subject INTEGER NOT NULL, rid INTEGER NOT NULL, "
        "found INTEGER NOT NULL, at TEXT NOT NULL, sha TEXT NOT NULL, data BLOB NOT NULL, "
        "PRIMARY KEY(subject, rid, found)) WITHOUT ROWID;",
        error);
}

void EvidenceStore::record(int subject, int id, const QDateTime& at, bool found, const QByteArray& encoded,
                           const QStringList& events, KnownNewest newest) {
    Queued q{Queued::Evidence, subject, id, at, found, encoded, {}, {}, {}, newest};
    for (const QString& e : events.mid(0, 10))
        q.events << e.left(500);
    m_queue.push_back(std::move(q));
}

void EvidenceStore::keepSnapshot(int subject, int id, const QDateTime& at, bool found,
                                 const QString& pageText, const QByteArray& sha256) {
    QByteArray sha = sha256;
    if (sha.isEmpty()) sha = QCryptographicHash::hash(pageText.toUtf8(), QCryptographicHash::Sha256).toHex();
    // Packed when written: a page whose kept snapshot is the same is not packed at all.
    m_queue.push_back({Queued::Snapshot, subject, id, at, found, {}, sha.left(64), {}, pageText});
}

void EvidenceStore::forget(int subject, int id) {
    m_queue.push_back({Queued::Forget, subject, id, {}, false, {}, {}, {}, {}});
}

void EvidenceStore::forgetAll() {
    m_queue.clear();
    m_queue.push_back({Queued::ForgetAll, 0, 0, {}, false, {}, {}, {}, {}});
}

bool EvidenceStore::write(sqlite3* db, QString* error) {
    if (m_queue.empty()) return true;
    auto fail = [&] {
        if (error) *error = sql::errorText(db);
        return false;
    };
    sql::StmtPtr newest, add, trim, addEvent, trimEvents, keptSha, putSnapshot, dropEvidence, dropEvents,
        dropSnapshots;
    if (!sql::prepareAll(
            db,
            {{&newest, QStringLiteral("SELECT data, found FROM checks.evidence WHERE subject=?1 AND rid=?2 "
                                      "ORDER BY id DESC LIMIT 1")},
             {&add, QStringLiteral("INSERT INTO checks.evidence(subject, rid, at, found, data) "
                                   "VALUES(?1, ?2, ?3, ?4, ?5)")},
             {&trim, sql::keepNewestSql("evidence", kKeepPerSubject)},
             {&addEvent,
              QStringLiteral("INSERT INTO checks.events(subject, rid, at, text) VALUES(?1, ?2, ?3, ?4)")},
             {&trimEvents, sql::keepNewestSql("events", kKeepPerSubject * 5)},
             {&keptSha,
              QStringLiteral("SELECT sha FROM checks.snapshots WHERE subject=?1 AND rid=?2 AND found=?3")},
             {&putSnapshot,
              QStringLiteral("INSERT OR REPLACE INTO checks.snapshots(subject, rid, found, at, sha, "
                             "data) VALUES(?1, ?2, ?3, ?4, ?5, ?6)")},
             {&dropEvidence, QStringLiteral("DELETE FROM checks.evidence WHERE subject=?1 AND rid=?2")},
             {&dropEvents, QStringLiteral("DELETE FROM checks.events WHERE subject=?1 AND rid=?2")},
             {&dropSnapshots, QStringLiteral("DELETE FROM checks.snapshots WHERE subject=?1 AND rid=?2")}},
            error))
        return false;
    bool snapshotsAdded = false;
    for (const Queued& q : m_queue) {
        switch (q.kind) {
        case Queued::ForgetAll:
            if (!sql::exec(
                    db,
                    "DELETE FROM checks.evidence; DELETE FROM checks.events; DELETE FROM checks.snapshots;",
                    error))
                return false;
            break;
        case Queued::Forget:
            for (sqlite3_stmt* s : {dropEvidence.get(), dropEvents.get(), dropSnapshots.get()})
                if (!stepFor(s, q.subject, q.id)) return fail();
            break;
        case Queued::Evidence: {
            bool same = q.newest == KnownNewest::Same;
            if (q.newest == KnownNewest::Unknown) {
                sqlite3_bind_int(newest.get(), 1, q.subject);
                sqlite3_bind_int(newest.get(), 2, q.id);
                same = sqlite3_step(newest.get()) == SQLITE_ROW && blob(newest.get(), 0) == q.data &&
                       (sqlite3_column_int(newest.get(), 1) != 0) == q.found;
                sqlite3_reset(newest.get());
            }
            if (!same) {
                sqlite3_bind_int(add.get(), 1, q.subject);
                sqlite3_bind_int(add.get(), 2, q.id);
                bindText(add.get(), 3, sql::timeText(q.at));
                sqlite3_bind_int(add.get(), 4, q.found ? 1 : 0);
                bindBlob(add.get(), 5, q.data);
                const int rc = sqlite3_step(add.get());
                sqlite3_reset(add.get());
                if (rc != SQLITE_DONE) return fail();
                // A subject without rows before this one has nothing to trim.
                if (q.newest != KnownNewest::None && !stepFor(trim.get(), q.subject, q.id)) return fail();
            }
            for (const QString& e : q.events) {
                sqlite3_bind_int(addEvent.get(), 1, q.subject);
                sqlite3_bind_int(addEvent.get(), 2, q.id);
                bindText(addEvent.get(), 3, sql::timeText(q.at));
                bindText(addEvent.get(), 4, e);
                const int rc = sqlite3_step(addEvent.get());
                sqlite3_reset(addEvent.get());
                if (rc != SQLITE_DONE) return fail();
            }
            if (!q.events.isEmpty() && !stepFor(trimEvents.get(), q.subject, q.id)) return fail();
            break;
        }
        case Queued::Snapshot: {
            sqlite3_bind_int(keptSha.get(), 1, q.subject);
            sqlite3_bind_int(keptSha.get(), 2, q.id);
            sqlite3_bind_int(keptSha.get(), 3, q.found ? 1 : 0);
            const bool same = sqlite3_step(keptSha.get()) == SQLITE_ROW &&
                              text(keptSha.get(), 0) == QString::fromLatin1(q.sha256);
            sqlite3_reset(keptSha.get());
            // The page as found is kept once per version of the page; the first miss after a find always.
            if (same && q.found) break;
            sqlite3_bind_int(putSnapshot.get(), 1, q.subject);
            sqlite3_bind_int(putSnapshot.get(), 2, q.id);
            sqlite3_bind_int(putSnapshot.get(), 3, q.found ? 1 : 0);
            bindText(putSnapshot.get(), 4, sql::timeText(q.at));
            bindText(putSnapshot.get(), 5, QString::fromLatin1(q.sha256));
            const QByteArray packed = packSnapshot(q.page);
            if (packed.isEmpty()) break; // not packed: no snapshot rather than one that never reads
            bindBlob(putSnapshot.get(), 6, packed);
            const int rc = sqlite3_step(putSnapshot.get());
            sqlite3_reset(putSnapshot.get());
            if (rc != SQLITE_DONE) return fail();
            snapshotsAdded = true;
            break;
        }
        }
    }
    if (snapshotsAdded) {
        // The oldest snapshots go once they hold more than the budget.
        sql::StmtPtr total =
            sql::prepare(db, QStringLiteral("SELECT total(length(data)) FROM checks.snapshots"));
        if (!total || sqlite3_step(total.get()) != SQLITE_ROW) return fail();
        qint64 over = qint64(sqlite3_column_double(total.get(), 0)) - snapshotBudget;
        total.reset();
        if (over > 0) {
            sql::StmtPtr oldest = sql::prepare(
                db,
                QStringLiteral("SELECT subject, rid, found, length(data) FROM checks.snapshots ORDER BY at"));
            sql::StmtPtr drop = sql::prepare(
                db, QStringLiteral("DELETE FROM checks.snapshots WHERE subject=?1 AND rid=?2 AND found=?3"));
            if (!oldest || !drop) return fail();
            std::vector<std::array<int, 3>> gone;
            while (over > 0 && sqlite3_step(oldest.get()) == SQLITE_ROW) {
                gone.push_back({sqlite3_column_int(oldest.get(), 0), sqlite3_column_int(oldest.get(), 1),
                                sqlite3_column_int(oldest.get(), 2)});
                over -= sqlite3_column_int64(oldest.get(), 3);
            }
            oldest.reset();
            for (const auto& g : gone) {
                sqlite3_bind_int(drop.get(), 3, g[2]);
                if (!stepFor(drop.get(), g[0], g[1])) return fail();
            }
        }
    }
    return true;
}

std::vector<EvidenceRow> EvidenceStore::evidence(sqlite3* db, int subject, int id, int limit) const {
    std::vector<EvidenceRow> out;
    // Not yet written: the newest, unless a deletion not yet written hides what is older.
    for (auto it = m_queue.rbegin(); it != m_queue.rend() && int(out.size()) < limit; ++it) {
        if (it->kind == Queued::ForgetAll) return out;
        if (it->subject != subject || it->id != id) continue;
        if (it->kind == Queued::Forget) return out;
        if (it->kind == Queued::Evidence)
            if (std::optional<Evidence> e = decodeEvidence(it->data))
                out.push_back({it->at, it->found, std::move(*e)});
    }
    if (!db || int(out.size()) >= limit) return out;
    limit -= int(out.size());
    sql::StmtPtr s = sql::prepare(
        db,
        QStringLiteral("SELECT at, found, data FROM checks.evidence WHERE subject=?1 AND rid=?2 ORDER BY id "
                       "DESC LIMIT %1")
            .arg(qBound(1, limit, 1000)));
    if (!s) return out;
    sqlite3_bind_int(s.get(), 1, subject);
    sqlite3_bind_int(s.get(), 2, id);
    while (sqlite3_step(s.get()) == SQLITE_ROW) {
        // A damaged row is left out; the rest still show.
        std::optional<Evidence> e = decodeEvidence(blob(s.get(), 2));
        if (e) out.push_back({timeAt(s.get(), 0), sqlite3_column_int(s.get(), 1) != 0, std::move(*e)});
    }
    return out;
}

void EvidenceStore::StatementCloser::operator()(sqlite3_stmt* s) const {
    sqlite3_finalize(s);
}

std::optional<EvidenceRow> EvidenceStore::lastFound(sqlite3* db, int subject, int id) const {
    const std::optional<EncodedEvidence> row = lastFoundEncoded(db, subject, id);
    if (!row) return std::nullopt;
    std::optional<Evidence> e = decodeEvidence(row->data);
    if (!e) return std::nullopt;
    return EvidenceRow{row->at, true, std::move(*e)};
}

std::optional<EncodedEvidence> EvidenceStore::lastFoundEncoded(sqlite3* db, int subject, int id) const {
    // Not yet written: the newest found row of this subject in the queue.
    bool newest = true;
    for (auto it = m_queue.rbegin(); it != m_queue.rend(); ++it) {
        if (it->kind == Queued::ForgetAll) return std::nullopt;
        if (it->subject != subject || it->id != id) continue;
        if (it->kind == Queued::Forget) return std::nullopt;
        if (it->kind != Queued::Evidence) continue;
        if (it->found) return EncodedEvidence{it->at, it->data, newest};
        newest = false;
    }
    if (!db) return std::nullopt;
    // Prepared once: asked for every page of a run.
    auto statement = [db, this](StmtHolder& held, const char* sqlText) -> sqlite3_stmt* {
        if (m_statementsDb != db) {
            m_lastFoundStmt.reset();
            m_newestStmt.reset();
            m_statementsDb = db;
        }
        if (!held) {
            sqlite3_stmt* made = nullptr;
            if (sqlite3_prepare_v3(db, sqlText, -1, SQLITE_PREPARE_PERSISTENT, &made, nullptr) != SQLITE_OK) {
                sqlite3_finalize(made);
                return nullptr;
            }
            held.reset(made);
        }
        return held.get();
    };
    auto read = [&](sqlite3_stmt* s, bool* found) {
        std::optional<EncodedEvidence> out;
        if (!s) return out;
        sqlite3_bind_int(s, 1, subject);
        sqlite3_bind_int(s, 2, id);
        if (sqlite3_step(s) == SQLITE_ROW) {
            out = EncodedEvidence{timeAt(s, 0), blob(s, 1), false};
            if (found) *found = sqlite3_column_int(s, 2) != 0;
        }
        sqlite3_reset(s);
        return out;
    };
    // The newest row is most often the last find (every check of a link that stays).
    if (newest) {
        bool found = false;
        std::optional<EncodedEvidence> top =
            read(statement(m_newestStmt, "SELECT at, data, found FROM checks.evidence WHERE subject=?1 AND "
                                         "rid=?2 ORDER BY id DESC LIMIT 1"),
                 &found);
        if (!top) return std::nullopt;
        if (found) {
            top->newest = true;
            return top;
        }
    }
    return read(statement(m_lastFoundStmt, "SELECT at, data FROM checks.evidence WHERE subject=?1 AND rid=?2 "
                                           "AND found=1 ORDER BY id DESC LIMIT 1"),
                nullptr);
}

std::vector<ChangeEvent> EvidenceStore::events(sqlite3* db, int subject, int id) const {
    std::vector<ChangeEvent> out;
    for (auto it = m_queue.rbegin(); it != m_queue.rend(); ++it) {
        if (it->kind == Queued::ForgetAll) return out;
        if (it->subject != subject || it->id != id) continue;
        if (it->kind == Queued::Forget) return out;
        if (it->kind == Queued::Evidence)
            for (const QString& e : it->events)
                out.push_back({it->at, e});
    }
    if (!db) return out;
    sql::StmtPtr s = sql::prepare(
        db, QStringLiteral(
                "SELECT at, text FROM checks.events WHERE subject=?1 AND rid=?2 ORDER BY id DESC LIMIT %1")
                .arg(kKeepPerSubject * 5));
    if (!s) return out;
    sqlite3_bind_int(s.get(), 1, subject);
    sqlite3_bind_int(s.get(), 2, id);
    while (sqlite3_step(s.get()) == SQLITE_ROW)
        out.push_back({timeAt(s.get(), 0), text(s.get(), 1).left(500)});
    return out;
}

std::unordered_map<int, QDateTime> EvidenceStore::latestEvents(sqlite3* db, int subject) const {
    std::unordered_map<int, QDateTime> out;
    if (!db) return out;
    sql::StmtPtr s = sql::prepare(
        db, QStringLiteral("SELECT rid, max(at) FROM checks.events WHERE subject=?1 GROUP BY rid"));
    if (!s) return out;
    sqlite3_bind_int(s.get(), 1, subject);
    while (sqlite3_step(s.get()) == SQLITE_ROW)
        out[sqlite3_column_int(s.get(), 0)] = timeAt(s.get(), 1);
    return out;
}

std::optional<Snapshot> EvidenceStore::snapshot(sqlite3* db, int subject, int id, bool found) const {
    if (!db) return std::nullopt;
    sql::StmtPtr s = sql::prepare(
        db, QStringLiteral("SELECT at, data FROM checks.snapshots WHERE subject=?1 AND rid=?2 AND found=?3"));
    if (!s) return std::nullopt;
    sqlite3_bind_int(s.get(), 1, subject);
    sqlite3_bind_int(s.get(), 2, id);
    sqlite3_bind_int(s.get(), 3, found ? 1 : 0);
    if (sqlite3_step(s.get()) != SQLITE_ROW) return std::nullopt;
    std::optional<QString> page = unpackSnapshot(blob(s.get(), 1));
    if (!page) return std::nullopt;
    return Snapshot{timeAt(s.get(), 0), std::move(*page)};
}

} // namespace zentaro::db
