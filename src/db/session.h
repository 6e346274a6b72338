// The data side of the program's life: the instance lock, loading at start, storing at closing.
#pragma once

#include <functional>
#include <memory>

#include <QString>

class QLockFile;

namespace zentaro {
class UserInterface;
}

namespace zentaro::db {

class Database;

// The data side of the program's life: one instance per data folder, loading at start, saving at closing.
class Session {
public:
    Session(Database& db, QString baseDir, UserInterface& ui);
    ~Session();

    const QString& baseDir() const { return m_baseDir; }

    // What came of taking the data folder.
    enum class LockState {
        Held,     // this process holds the folder
        ReadOnly, // the folder cannot be written: it is read, and nothing is stored
        Busy,     // another running instance holds it
        Failed    // the lock could not be written (a full disk, an I/O error): lockError says why
    };

    // Takes the data folder for this process. True when the program may go on: the lock is held, or the
    // folder is read-only and is only read. A lock left by a process that no longer runs is taken over.
    // Creates the folder when it is missing.
    bool acquireInstanceLock();
    LockState lockState() const { return m_lockState; }
    const QString& lockError() const { return m_lockError; }

    // Loads the settings and the seven data tables through the store, which writes every later change.
    // A folder that did not exist before is a first start: nothing to load and nothing to report. A table
    // file that cannot be read is reported once; so is a data folder that cannot be written.
    void start();

    // Writes what is still pending of the data tables, makes the reserve copy (neither after a failed load),
    // stores and writes the settings and runs the export (not after a failed load either). False with the
    // error text when a write failed; the steps after it do not run. A retried closing runs the copy and the
    // export once.
    bool close(QString* error);
    // The error of the last closing when it failed to write; empty when it wrote everything.
    const QString& closeError() const { return m_closeError; }

    // The data folder exists but cannot be written.
    bool readOnly() const { return m_readOnly; }

    // Steps that later parts of the program plug into the start and closing sequences.
    std::function<void()> applySettings;  // after the settings table is loaded
    std::function<void()> runReserveCopy; // after the data tables are saved
    std::function<void()> storeSettings;  // before the settings table is saved
    std::function<void()> exportAll;      // last step of the closing

private:
    Database& m_db;
    QString m_baseDir;
    UserInterface& m_ui;
    std::unique_ptr<QLockFile> m_lock;
    LockState m_lockState = LockState::Failed;
    QString m_lockError;
    QString m_closeError;
    bool m_folderExisted = true;
    bool m_readOnly = false;
    bool m_copied = false;
    bool m_exported = false;

    void openSettings();
};

} // namespace zentaro::db
