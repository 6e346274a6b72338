#include "db/base_files.h"

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

QString dataFolder(const QString& rdir, const QString& userDataRoot) {
    const QString base = rdir + QStringLiteral("base/");
    const QFileInfo bi(base);
    if (bi.exists() ? bi.isWritable() : QFileInfo(rdir).isWritable()) return base;
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
    for (Table* t : db.dataTables()) {
        const QString path = baseDir + tableFileName(*t);
        if (!QFileInfo::exists(path)) {
            t->clearRecords();
            t->finishLoad();
            continue;
        }
        QString err;
        if (!TableFile::load(*t, path, &err)) {
            db.BaseLoadError = true;
            r = {false, tableFileName(*t), err};
            break;
        }
    }
    return r;
}

BaseResult SaveBase(Database& db, const QString& baseDir) {
    for (Table* t : db.dataTables()) {
        t->checkBrowseMode();
        t->mergeChangeLog();
        QString err;
        if (!TableFile::save(*t, baseDir + tableFileName(*t), &err)) return {false, tableFileName(*t), err};
    }
    return {};
}

} // namespace zentaro::db
