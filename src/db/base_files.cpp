// The program and data folders and the table files in them: where they live, loading and saving them.
#include "db/base_files.h"

#include <algorithm>

#include <sys/stat.h>

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>

#include "db/database.h"
#include "db/table_file.h"

namespace zentaro::db {

QString GetRDir(const QString& executablePath) {
    const qsizetype i = executablePath.lastIndexOf(u'/');
    if (i < 0) return executablePath + u'/';
    return executablePath.left(i + 1);
}

QString RDir() {
    static const QString dir = GetRDir(QCoreApplication::applicationFilePath());
    return dir;
}

bool isInstalled(const QString& rdir) {
    return QFileInfo::exists(rdir + QStringLiteral("../share/zentaro/help/about.htm"));
}

QString helpFile(const QString& rdir) {
    const QString beside = rdir + QStringLiteral("help/about.htm");
    if (QFileInfo::exists(beside) || !isInstalled(rdir)) return beside;
    return QDir::cleanPath(rdir + QStringLiteral("../share/zentaro/help/about.htm"));
}

QString dataFolder(const QString& rdir, const QString& userDataRoot) {
    const QString base = rdir + QStringLiteral("base/");
    // An existing base folder is always the user's data, even where it cannot be written; the per-user folder
    // serves an installed program and a program folder without one that cannot be written.
    if (QFileInfo(base).isDir() || (!isInstalled(rdir) && QFileInfo(rdir).isWritable())) return base;
    QString root = userDataRoot;
    if (root.isEmpty())
        root = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) +
               QStringLiteral("/zentaro");
    return QDir::cleanPath(root) + QStringLiteral("/base/");
}

bool prepareDataFolder(const QString& baseDir) {
    if (QFileInfo::exists(baseDir)) return true;
    QDir().mkpath(baseDir);
    ::chmod(QFile::encodeName(baseDir).constData(), 0700);
    return false;
}

BaseResult LoadBase(Database& db, const QString& baseDir) {
    BaseResult r;
    const auto tables = db.dataTables();
    const bool firstStart = std::none_of(tables.begin(), tables.end(), [&](Table* t) {
        return QFileInfo::exists(baseDir + tableFileName(*t));
    });
    QStringList made;
    for (Table* t : tables) {
        const QString path = baseDir + tableFileName(*t);
        // A first start makes the empty files; otherwise a missing file is a failure like a damaged one,
        // since starting it empty would give new records the IDs of the lost ones.
        QString err;
        bool ok = false;
        bool madeOk = true;
        if (firstStart) {
            t->clearRecords();
            t->finishLoad();
            // A table whose file cannot be made (a full disk) would take changes that are never stored.
            madeOk = TableFile::save(*t, path, &err);
            if (madeOk) made << path;
        }
        if (!madeOk)
            ok = false;
        else if (!QFileInfo::exists(path))
            err =
                QStringLiteral("Не удалось загрузить таблицу \"%1\": файл не найден").arg(tableFileName(*t));
        else if (db.store.isOpen())
            ok = db.store.attach(*t, path, &err);
        else
            ok = TableFile::load(*t, path, &err);
        if (!ok) {
            db.BaseLoadError = true;
            db.baseLoadFailure = err;
            r = {false, tableFileName(*t), err};
            break;
        }
    }
    if (!r.ok) {
        // Nothing is ever written to the data files after a failed load; the tables not loaded stay empty.
        db.store.detachAll();
        // The empty files of a first start that did not finish go, so that the next start is a first start
        // again rather than one that misses a file.
        for (const QString& path : made)
            QFile::remove(path);
    }
    return r;
}

BaseResult SaveBase(Database& db, const QString& baseDir) {
    // Whole new files: for making a base (tools, benchmarks), never while the store writes into them.
    for (Table* t : db.dataTables()) {
        t->checkBrowseMode();
        QString err;
        if (!TableFile::save(*t, baseDir + tableFileName(*t), &err)) return {false, tableFileName(*t), err};
    }
    return {};
}

} // namespace zentaro::db
