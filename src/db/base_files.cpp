#include "db/base_files.h"

#include <algorithm>
#include <atomic>
#include <system_error>
#include <thread>
#include <vector>

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

namespace {

struct ReadResult {
    bool ok = false;
    QString error; // why the parallel read refused the file (it is then loaded the ordinary way)
    std::vector<qint64> rowids;
};

// Reads the table files at once, one thread per core, the largest files first. Each read touches only its
// own table's records and its own connection; the tables are finished by the caller.
std::vector<ReadResult> readTables(const std::vector<Table*>& tables, const QStringList& paths) {
    std::vector<ReadResult> out(tables.size());
    std::vector<size_t> order(tables.size());
    std::vector<qint64> sizes(tables.size());
    for (size_t i = 0; i < tables.size(); ++i) {
        order[i] = i;
        sizes[i] = QFileInfo(paths[qsizetype(i)]).size();
    }
    std::stable_sort(order.begin(), order.end(), [&](size_t a, size_t b) { return sizes[a] > sizes[b]; });
    std::atomic<size_t> next{0};
    auto work = [&] {
        for (size_t k; (k = next.fetch_add(1)) < order.size();) {
            const size_t i = order[k];
            out[i].ok = TableFile::readFile(*tables[i], paths[qsizetype(i)], &out[i].rowids, &out[i].error);
        }
    };
    const size_t threads = std::min<size_t>(std::max(1u, std::thread::hardware_concurrency()), tables.size());
    std::vector<std::thread> helpers;
    for (size_t n = 1; n < threads; ++n) {
        try {
            helpers.emplace_back(work);
        } catch (const std::system_error&) {
            break; // fewer threads read the rest
        }
    }
    work();
    for (std::thread& t : helpers)
        t.join();
    return out;
}

QString missingFile(const Table& t) {
    return QStringLiteral("Не удалось загрузить таблицу \"%1\": файл не найден").arg(tableFileName(t));
}

} // namespace

BaseResult LoadBase(Database& db, const QString& baseDir) {
    BaseResult r;
    const auto tables = db.dataTables();
    const bool firstStart = std::none_of(tables.begin(), tables.end(), [&](Table* t) {
        return QFileInfo::exists(baseDir + tableFileName(*t));
    });
    if (!firstStart &&
        std::all_of(tables.begin(), tables.end(), [](const Table* t) { return t->fieldCount() > 0; })) {
        // The files are read in parallel, read-only; then, in order as before, each table is finished (views,
        // scroll handlers) and handed to the store. A file the parallel read refused is loaded the ordinary
        // way: a crash's half-written transaction is rolled back only in a file reached before any failure,
        // and a failure gives the same text as before.
        QStringList paths;
        for (Table* t : tables) {
            paths << baseDir + tableFileName(*t);
            if (!t->isActive()) t->createDataSet();
        }
        std::vector<ReadResult> read = readTables(std::vector<Table*>(tables.begin(), tables.end()), paths);
        for (size_t i = 0; i < tables.size(); ++i) {
            Table& t = *tables[i];
            const QString& path = paths[qsizetype(i)];
            QString err;
            bool ok;
            if (!QFileInfo::exists(path)) {
                // Never attached: that would make the missing file.
                ok = false;
                err = missingFile(t);
            } else if (!read[i].ok) {
                ok = db.store.isOpen() ? db.store.attach(t, path, &err) : TableFile::load(t, path, &err);
            } else {
                // The scroll handlers of the tables finished before this one may have filtered it already:
                // its indexes were built from all its records and stay.
                t.finishLoad(true);
                ok = !db.store.isOpen() || db.store.attach(t, path, &read[i].rowids, &err);
            }
            if (ok) continue;
            for (size_t j = i; j < tables.size(); ++j) {
                tables[j]->clearRecords();
                tables[j]->finishLoad();
            }
            db.BaseLoadError = true;
            db.baseLoadFailure = err;
            r = {false, tableFileName(t), err};
            db.store.detachAll();
            break;
        }
        return r;
    }
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
            err = missingFile(*t);
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
        t->mergeChangeLog();
        QString err;
        if (!TableFile::save(*t, baseDir + tableFileName(*t), &err)) return {false, tableFileName(*t), err};
    }
    return {};
}

} // namespace zentaro::db
