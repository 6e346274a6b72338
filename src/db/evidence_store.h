// The evidence, change events and page snapshots of the presence checks, in tables of the history file.
// The history owns one and writes it in its own transactions, so that evidence never outlives the outcomes
// it belongs to (a deleted page, an import or a restore forget both at once).
#pragma once

#include <memory>
#include <optional>
#include <unordered_map>
#include <vector>

#include <QDateTime>
#include <QString>

#include "db/evidence.h"

struct sqlite3;
struct sqlite3_stmt;

namespace zentaro::db {

struct EvidenceRow {
    QDateTime at;
    bool found = false;
    Evidence evidence;
};

// An evidence row as stored, not yet read.
struct EncodedEvidence {
    QDateTime at;
    QByteArray data;
    bool newest = false; // no row of the subject came after it
};

// What the caller of a record already knows of the subject's newest stored row, so that the write need not
// look it up: nothing, that it is this very row, or that the subject has no row yet.
enum class KnownNewest { Unknown, Same, None };

struct ChangeEvent {
    QDateTime at;
    QString text;
};

struct Snapshot {
    QDateTime at;
    QString pageText;
};

class EvidenceStore {
public:
    // A subject keeps its newest kKeepPerSubject evidence rows and events; snapshots are dropped oldest
    // first once the file holds more than kSnapshotBudget bytes of them.
    static constexpr int kKeepPerSubject = 20;
    static constexpr qint64 kSnapshotBudget = 64LL * 1024 * 1024;
    qint64 snapshotBudget = kSnapshotBudget;

    // The tables this store keeps in the history file (schema "checks").
    static const QStringList& tableNames();
    static bool createTables(sqlite3* db, QString* error);

    // Keeps what a presence check saw. A row equal to the subject's newest is not written again, so that a
    // run where nothing changed adds nothing; the newest row in force at an outcome's time is its evidence.
    void record(int subject, int id, const QDateTime& at, bool found, const QByteArray& encoded,
                const QStringList& events, KnownNewest newest = KnownNewest::Unknown);
    // The decoded page as found (kept when its hash differs from the kept one) or as first missing after a
    // find (replacing the older one).
    void keepSnapshot(int subject, int id, const QDateTime& at, bool found, const QString& pageText,
                      const QByteArray& sha256);
    void forget(int subject, int id);
    void forgetAll();
    bool pending() const { return !m_queue.empty(); }
    // Inside the history's transaction.
    bool write(sqlite3* db, QString* error);
    void clearQueue() { m_queue.clear(); }
    // Lets go of the statements kept prepared on the history file (before it is detached).
    void releaseStatements() const {
        m_lastFoundStmt.reset();
        m_newestStmt.reset();
    }

    // Reads (nothing when db is null). Newest first.
    std::vector<EvidenceRow> evidence(sqlite3* db, int subject, int id, int limit = kKeepPerSubject) const;
    std::optional<EvidenceRow> lastFound(sqlite3* db, int subject, int id) const;
    std::optional<EncodedEvidence> lastFoundEncoded(sqlite3* db, int subject, int id) const;
    std::vector<ChangeEvent> events(sqlite3* db, int subject, int id) const;
    // The time of each subject's newest change event.
    std::unordered_map<int, QDateTime> latestEvents(sqlite3* db, int subject) const;
    std::optional<Snapshot> snapshot(sqlite3* db, int subject, int id, bool found) const;

private:
    struct Queued {
        enum Kind { Evidence, Snapshot, Forget, ForgetAll } kind;
        int subject = 0;
        int id = 0;
        QDateTime at;
        bool found = false;
        QByteArray data;   // encoded evidence or packed snapshot
        QByteArray sha256; // of a snapshot's page
        QStringList events;
        QString page; // a snapshot's page, packed when written
        KnownNewest newest = KnownNewest::Unknown;
    };
    std::vector<Queued> m_queue;
    // Asked for every page of a run: prepared once.
    struct StatementCloser {
        void operator()(sqlite3_stmt* s) const;
    };
    using StmtHolder = std::unique_ptr<sqlite3_stmt, StatementCloser>;
    mutable StmtHolder m_lastFoundStmt, m_newestStmt;
    mutable sqlite3* m_statementsDb = nullptr;
};

} // namespace zentaro::db
