#pragma once

#include <QString>

namespace zentaro::db {

class Database;

// The program folder: the executable's path up to and including its last separator.
QString GetRDir(const QString& executablePath);
// The program folder of this process, computed once.
QString RDir();

// The folder that holds the table files: RDir/base/, or the per-user data folder when the program folder
// cannot be written. Always ends with a separator.
QString dataFolder(const QString& rdir, const QString& userDataRoot);

// Creates the folder readable by its owner only when it is missing. Returns whether it existed before.
bool prepareDataFolder(const QString& baseDir);

struct BaseResult {
    bool ok = true;
    QString file;  // the table file that failed
    QString error; // its error text
};

// Loads the seven data tables in order, stopping at the first file that exists and cannot be read;
// a missing file leaves its table empty. Sets BaseLoadError on failure.
BaseResult LoadBase(Database& db, const QString& baseDir);

// Saves the seven data tables in order, stopping at the first failure.
BaseResult SaveBase(Database& db, const QString& baseDir);

} // namespace zentaro::db
