// The store: writes every posted change of the tables into their files, in one transaction per action.
#pragma once

#include <memory>
#include <unordered_set>
#include <vector>

#include <QObject>
#include <QString>
#include <QTimer>

#include "db/table.h"

struct sqlite3;

namespace zentaro::db {

// Records kept in a file of the store that are no table's (the check history): their pending rows are
// written with every write of the store, in a transaction of their own after the tables' one, so that a
// failing extra never holds back the tables.
class StoreExtra {
public:
    virtual ~StoreExtra() = default;
    virtual bool pending() const = 0;
    // Writes the pending rows; called inside a transaction.
    virtual bool write(sqlite3* db, QString* error) = 0;
    // The transaction that wrote them is committed.
    virtual void written() = 0;
    // The transaction failed with the SQLite result code and was rolled back; the rows are the extra's to
    // keep or drop.
    virtual void failed(int code, const QString& error) = 0;
};

// Mirrors the tables into their table files record by record, never whole tables. Every file hangs on one
// SQLite connection in rollback-journal mode with full sync, so one write spans several files atomically:
// after a crash a change is either wholly in the files or not at all.
//
// A change (a post, a delete with its cascade, or a Change scope around a larger operation) is written when
// its outermost scope ends: within kWriteDelayMs by the event loop, or at once when writes are not deferred.
class Store : public QObject, public TableObserver {
    Q_OBJECT
public:
    // How long deferred writes wait for more changes to join them.
    static constexpr int kWriteDelayMs = 100;

    explicit Store(QObject* parent = nullptr);
    ~Store() override;

    // Opens the connection with the file as its main database (the settings file). An empty path opens a
    // connection that holds no file of its own (for a folder where the settings file cannot be made).
    bool open(const QString& mainPath, QString* error);
    bool isOpen() const { return m_db != nullptr; }
    // Ends writing: pending changes are written first, unless an operation is still under way.
    void close();

    // Loads the table from the main file and writes its later changes there.
    bool attachMain(Table& table, QString* error);
    // Attaches a table file, loads the table from it and writes its later changes there. A file in an older
    // layout is rewritten once in the current one (the old file stays until the new one is whole).
    bool attach(Table& table, const QString& path, QString* error);
    // Forgets every attached file except the main one: nothing is written to them any more.
    void detachAll();

    // Attaches a file that is no table's under the schema name (made when missing), for an extra's rows.
    bool attachFile(const QString& schema, const QString& path, QString* error);
    sqlite3* connection() const { return m_db; }
    // The extra's pending rows are written with the tables' changes; the store does not own it.
    void addExtra(StoreExtra* extra) { m_extras.push_back(extra); }
    void removeExtra(StoreExtra* extra);
    // Something new is pending outside the tables: written as a table change would be.
    void extraChanged() { scheduleFlush(); }

    // Writes every pending change of the tables in one transaction, then the extras' rows. False with the
    // error text when the tables' write failed; their changes stay pending and the next flush tries again.
    bool flush(QString* error = nullptr);
    bool hasPending() const;
    // An operation is under way: its changes are not complete yet.
    bool inChange() const { return m_depth > 0; }
    // Marks every record of the table to be written anew (after its records were replaced wholesale).
    void rewrite(Table& table);

    // A note kept in a table file beside its records (key and value in its header table), written with the
    // next write of the tables, in the same transaction as their changes.
    void setNote(Table& table, const QString& key, const QString& value);
    // The note as the file holds it (empty when none).
    QString note(const Table& table, const QString& key) const;
    // A consistent copy of a file attached under the schema name (one that is no table's, as the history).
    bool copySchemaTo(const QString& schema, const QString& target, QString* error);

    // The data folder of the table's file, with a trailing separator (empty when it is not attached).
    QString folderOf(const Table& table) const;
    // The file names of the attached tables, main first.
    QStringList fileNames() const;
    // A consistent copy of one attached file (by its name), made by SQLite whatever edits go on, written
    // beside the target and renamed over it, owner-only.
    bool copyFileTo(const QString& fileName, const QString& target, QString* error);

    // When true (the default) writes wait up to kWriteDelayMs, so that quick successive changes (a batch
    // run) share one transaction; false writes at the end of every change.
    void setDeferred(bool deferred) { m_deferred = deferred; }

    // TableObserver
    void rowStored(Table& table, int row) override;
    void rowDeleted(Table& table, int row) override;
    void beginChange() override;
    void endChange() override;

signals:
    // A write made at the turn of the event loop failed: said once until a write succeeds again.
    void writeFailed(const QString& error);

private:
    struct Entry;
    Entry* entryOf(const Table& table) const;
    bool load(Entry& e, QString* error);
    bool writeEntry(Entry& e, QString* error);
    void scheduleFlush();

    sqlite3* m_db = nullptr;
    std::vector<std::unique_ptr<Entry>> m_entries;
    std::vector<StoreExtra*> m_extras;
    int m_depth = 0;
    int m_nextSchema = 0;
    bool m_deferred = true;
    bool m_failing = false;
    QTimer m_timer;
};

// One user action that writes through several operations (an imported file, a restore): its changes are
// written together when the outermost scope ends.
class Change {
public:
    explicit Change(Store& store) : m_store(store) { m_store.beginChange(); }
    ~Change() { m_store.endChange(); }
    Change(const Change&) = delete;
    Change& operator=(const Change&) = delete;

private:
    Store& m_store;
};

} // namespace zentaro::db
