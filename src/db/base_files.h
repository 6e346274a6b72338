// The program and data folders and the table files in them: where they live, loading and saving them.
#pragma once

#include <QString>

namespace zentaro::db {

class Database;

// The program folder: the executable's path up to and including its last separator.
QString GetRDir(const QString& executablePath);
// The program folder of this process, computed once.
QString RDir();

// Whether the program runs installed: its files lie in ../share/zentaro beside its bin folder.
bool isInstalled(const QString& rdir);
// The help page: help/about.htm beside the program, or in the shared files of an installed program.
QString helpFile(const QString& rdir);

// The folder that holds the table files: RDir/base/ when it exists, or can be made by a program that is not
// installed; otherwise the per-user data folder. Always ends with a separator.
QString dataFolder(const QString& rdir, const QString& userDataRoot);

// Creates the folder readable by its owner only when it is missing. Returns whether it existed before.
bool prepareDataFolder(const QString& baseDir);

struct BaseResult {
    bool ok = true;
    QString file;  // the table file that failed
    QString error; // its error text
};

// Loads the seven data tables in order through the store (their later changes are written there), stopping
// at the first file that is missing or cannot be read. A folder without any table file is a first start:
// the empty files are made. On failure sets BaseLoadError and detaches every data file.
BaseResult LoadBase(Database& db, const QString& baseDir);

// Writes the seven data tables as whole new files, stopping at the first failure (for making a base).
BaseResult SaveBase(Database& db, const QString& baseDir);

} // namespace zentaro::db
