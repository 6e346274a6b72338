// Reserve copies of the data folder: when to make one, making it, and restoring from one.
#pragma once

#include <optional>

#include <QDate>
#include <QString>

namespace zentaro {
class UserInterface;
}

namespace zentaro::db {

class Database;

// The reserve-copy options and the date of the last copy, bound to the settings tab's controls.
struct ReserveCopyState {
    bool enabled = true;       // "Делать копию через:"
    int intervalDays = 3;      // 1 to 100
    std::optional<QDate> last; // unset: far in the past, a copy is due

    // The last copy's date as the settings keep it: the regional short date form with a four-digit year.
    QString lastText() const;
    // From the settings: an empty text, one that is no date or a date after today leaves the date unset, so
    // a copy is due.
    void setLastText(const QString& text, const QDate& today);
    // Whether an automatic copy is due today.
    bool due(const QDate& today) const;
};

// Copies a file in blocks, into a new file beside the target renamed over it, owner-only; a read or write
// that fails, or a write that stores fewer bytes than were read, is a failure and leaves no target (error:
// why).
bool CopyFile(const QString& FromFile, const QString& ToFile, QString* error = nullptr);

// The folder that holds the day folders of copies: "RCopy" beside the data folder.
QString copyRoot(const QString& baseDir);
// The day folder's name: year-month-day with two-digit month and day.
QString dayFolderName(const QDate& day);

enum class CopyOutcome { Skipped, Done, Failed };

// Makes a copy of every ordinary file of the data folder whose name is longer than four characters into the
// day folder, when one is due or was asked for (StartRCopyNow). Table files and the check history come from
// the store (a consistent state, even with edits going on); the lock file is left out. A failed file shows
// "Не удалось создать резервную копию базы!" and stops; a good copy outside closing says where it is and
// clears StartRCopyNow. folderName replaces the day's name (a copy that must not mix with the day's). A
// folder of that name that exists already is never written into: the copy goes into "<name>-2", "<name>-3", …
CopyOutcome RunRCopy(Database& db, ReserveCopyState& state, const QString& baseDir, UserInterface& ui,
                     const QDate& today, const QString& folderName = QString());

// The folder a copy was made into by the last RunRCopy (empty when none).
QString lastCopyFolder();

// Replaces the seven data tables with those of a copy folder, as one change of the store, written at once;
// the copy's check history replaces the current one (set aside), or an empty one does when the copy has
// none or one that does not read. The folder's files are read and checked first: a missing or damaged one
// refuses the whole restore with its error text and nothing changes.
bool restoreFrom(Database& db, const QString& folder, QString* error);

// The restore after a failed load, when the data files are not the program's to write: they are replaced as
// files. Every file of the data folder (journals included) is first copied as it is into keepFolder; a
// journal beside a data file is removed before the file is replaced, since it would otherwise be played
// into the restored file at the next start. The check history is set aside before any table is replaced
// and the copy's own (if any, and if it reads) put in its place after them. True only when every replaced
// file loads; false with the error text (naming keepFolder once anything was replaced).
bool restoreFilesAfterLoadFailure(const QString& baseDir, const QString& folder, const QString& keepFolder,
                                  QString* error);

} // namespace zentaro::db
