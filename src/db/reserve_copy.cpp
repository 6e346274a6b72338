// Reserve copies of the data folder: when to make one, making it, and restoring from one.
#include "db/reserve_copy.h"

#include <fcntl.h>
#include <string.h>
#include <unistd.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLocale>

#include "db/database.h"
#include "db/history_file.h"
#include "db/table_file.h"
#include "util/regional.h"
#include "util/user_interface.h"

namespace zentaro::db {

namespace {

QString g_lastFolder;
// Copy folders of one day beyond which something other than copies is wrong (a folder that cannot be made).
constexpr int kMaxCopiesADay = 1000;

bool writeAll(int fd, const char* data, qint64 size) {
    // A write that stores fewer bytes than asked is not retried: the disk is full or the file is cut.
    return ::write(fd, data, size_t(size)) == ssize_t(size);
}

} // namespace

QString ReserveCopyState::lastText() const {
    return last ? formatDate(*last) : QString();
}

void ReserveCopyState::setLastText(const QString& text, const QDate& today) {
    // A date that is missing or cannot be read leaves the copy due: postponing it could lose a copy. So does
    // one after today (a clock set back, a date written under other regional settings read day for month),
    // which would put every copy off until that day.
    last = readDate(text);
    if (last && *last > today) last.reset();
}

bool ReserveCopyState::due(const QDate& today) const {
    return !last || last->daysTo(today) >= intervalDays;
}

bool CopyFile(const QString& FromFile, const QString& ToFile, QString* error) {
    const QString name = QFileInfo(FromFile).fileName();
    auto fail = [&](const QString& why) {
        if (error) *error = QStringLiteral("Не удалось скопировать \"%1\": %2").arg(name, why);
        return false;
    };
    QFile from(FromFile);
    if (!from.open(QIODevice::ReadOnly)) return fail(from.errorString());
    const QString tmp = ToFile + QStringLiteral(".tmp");
    QFile::remove(tmp);
    const int fd = ::open(QFile::encodeName(tmp).constData(), O_CREAT | O_EXCL | O_WRONLY, 0600);
    if (fd < 0) return fail(QString::fromLocal8Bit(strerror(errno)));
    QByteArray block(65535, Qt::Uninitialized);
    bool ok = true;
    errno = 0;
    while (ok) {
        const qint64 n = from.read(block.data(), block.size());
        if (n < 0) ok = false;
        if (n <= 0) break;
        ok = writeAll(fd, block.constData(), n);
    }
    ok = ok && ::fsync(fd) == 0;
    ok = ::close(fd) == 0 && ok;
    if (ok) ok = ::rename(QFile::encodeName(tmp).constData(), QFile::encodeName(ToFile).constData()) == 0;
    if (!ok) {
        const int why = errno;
        QFile::remove(tmp);
        return fail(why ? QString::fromLocal8Bit(strerror(why))
                        : QStringLiteral("файл записан не полностью"));
    }
    return true;
}

QString copyRoot(const QString& baseDir) {
    // The folder above the data folder, whether it exists yet or not.
    return QFileInfo(QDir::cleanPath(QDir(baseDir).absolutePath())).path() + QStringLiteral("/RCopy");
}

QString dayFolderName(const QDate& day) {
    return day.toString(QStringLiteral("yyyy-MM-dd"));
}

QString lastCopyFolder() {
    return g_lastFolder;
}

CopyOutcome RunRCopy(Database& db, ReserveCopyState& state, const QString& baseDir, UserInterface& ui,
                     const QDate& today, const QString& folderName) {
    g_lastFolder.clear();
    if (db.BaseLoadError) return CopyOutcome::Skipped;
    if (!db.StartRCopyNow && (!state.enabled || !state.due(today))) return CopyOutcome::Skipped;
    state.last = today;
    const QDir base(baseDir);
    if (!base.exists()) return CopyOutcome::Skipped;
    const QStringList files = base.entryList(QDir::Files, QDir::Name);
    const QString root = copyRoot(baseDir);
    QDir().mkdir(root);
    // A copy never goes into a folder that exists already: it would replace an earlier copy's files (a copy
    // the user made by hand, then a copy at closing after a delete). A later copy of the same day takes the
    // first free name "<day>-2", "<day>-3", …; making the folder is what claims the name.
    const QString name = folderName.isEmpty() ? dayFolderName(today) : folderName;
    QString folder = root + u'/' + name;
    for (int n = 2; !QDir().mkdir(folder); ++n) {
        if (n > kMaxCopiesADay || !QFileInfo(root).isDir()) {
            ui.showError(
                QStringLiteral("Не удалось создать резервную копию базы!\r\nНе удалось создать папку "
                               "\"%1\".")
                    .arg(QDir::toNativeSeparators(folder)),
                QStringLiteral("Ошибка"));
            return CopyOutcome::Failed;
        }
        folder = root + u'/' + name + u'-' + QString::number(n);
    }
    const QStringList stored = db.store.fileNames();
    for (const QString& name : files) {
        if (name.size() <= 4) continue;
        // The lock and a transaction's journal are not data; a journal is never left once a write ends. The
        // check history is copied by SQLite from its open file (its bytes, log and index are never consistent
        // while it is open), marked as the copied tables are; a history set aside or waiting is left out.
        if (name == QLatin1String("zentaro.lock") || name.endsWith(QLatin1String("-journal")) ||
            name.endsWith(QLatin1String(".tmp")) ||
            (name.startsWith(QLatin1String("checks.adb")) &&
             (name != QLatin1String("checks.adb") || !db.checks.isOpen())))
            continue;
        const QString target = folder + u'/' + name;
        QString error;
        const bool ok = name == QLatin1String("checks.adb")
                            ? db.store.copySchemaTo(QStringLiteral("checks"), target, &error)
                        : stored.contains(name) ? db.store.copyFileTo(name, target, &error)
                                                : CopyFile(base.filePath(name), target, &error);
        if (!ok) {
            ui.showError(QStringLiteral("Не удалось создать резервную копию базы!\r\n") + error,
                         QStringLiteral("Ошибка"));
            return CopyOutcome::Failed;
        }
    }
    TableFile::syncPath(folder, true);
    g_lastFolder = folder;
    // The copy asked for exists: closing makes another only when one is due.
    db.StartRCopyNow = false;
    if (!db.isAuto)
        Msg(ui, QStringLiteral("Создана резервная копия базы.\r\nКопия находится в папке: ") +
                    QDir::toNativeSeparators(folder));
    return CopyOutcome::Done;
}

bool restoreFrom(Database& db, const QString& folder, QString* error) {
    // Every file is read and checked before anything changes.
    Database scratch;
    for (Table* t : scratch.dataTables())
        if (!TableFile::load(*t, folder + u'/' + tableFileName(*t), error)) return false;
    // The copy's history comes back with its tables: it waits beside the current one, marked for the tables
    // about to be written, until they are. Without one in the copy the current history is set aside.
    const int mark = newHistoryMark();
    const QString baseDir = db.store.folderOf(db.tbLink);
    // A history in the copy that does not read (damaged bytes) never keeps its tables from coming back: it
    // counts as none.
    const QString copied = folder + QStringLiteral("/checks.adb");
    int copiedMark = 0;
    if (db.checks.isOpen() && !baseDir.isEmpty() && readHistoryMark(copied, copiedMark) &&
        !prepareHistory(copied, nextHistoryPath(baseDir), mark, error))
        return false;
    {
        const Change change(db.store);
        for (Table* t : db.dataTables()) {
            t->checkBrowseMode();
            if (!TableFile::load(*t, folder + u'/' + tableFileName(*t), error)) return false;
            db.store.rewrite(*t);
        }
        markTables(db, mark);
    }
    finishReplacement(db, baseDir);
    return true;
}

bool restoreFilesAfterLoadFailure(const QString& baseDir, const QString& folder, const QString& keepFolder,
                                  QString* error) {
    const QString base = QDir(baseDir).absolutePath() + u'/';
    const QString shownKeep = QDir::toNativeSeparators(keepFolder);
    Database scratch;
    for (Table* t : scratch.dataTables())
        if (!TableFile::load(*t, folder + u'/' + tableFileName(*t), error)) return false;
    // The current files, whatever state they are in, are kept first: nothing is replaced unless they are.
    if (!QDir().mkpath(keepFolder)) {
        if (error) *error = QStringLiteral("Не удалось создать папку \"%1\".").arg(shownKeep);
        return false;
    }
    for (const QString& name : QDir(base).entryList(QDir::Files | QDir::Hidden, QDir::Name)) {
        if (name == QLatin1String("zentaro.lock") || name.endsWith(QLatin1String(".tmp"))) continue;
        if (!CopyFile(base + name, keepFolder + u'/' + name)) {
            if (error)
                *error =
                    QStringLiteral("Не удалось сохранить файл \"%1\" в папку \"%2\". Ничего не изменено.")
                        .arg(name, shownKeep);
            return false;
        }
    }
    TableFile::syncPath(keepFolder, true);
    // The current history goes aside before any table is replaced, so that it never meets the restored
    // tables; the copy's own history (marked as its tables) follows them.
    if (!setHistoryAside(base)) {
        if (error)
            *error = QStringLiteral("Не удалось убрать историю проверок \"checks.adb\". Ничего не изменено.");
        return false;
    }
    for (Table* t : scratch.dataTables()) {
        const QString name = tableFileName(*t);
        const QString journal = base + name + QStringLiteral("-journal");
        if ((QFileInfo::exists(journal) && !QFile::remove(journal)) ||
            !CopyFile(folder + u'/' + name, base + name)) {
            if (error)
                *error = QStringLiteral("Не удалось восстановить таблицу \"%1\". Прежние файлы сохранены в "
                                        "папке: %2")
                             .arg(name, shownKeep);
            return false;
        }
    }
    int copiedMark = 0;
    if (readHistoryMark(folder + QStringLiteral("/checks.adb"), copiedMark) &&
        !CopyFile(folder + QStringLiteral("/checks.adb"), historyPath(base))) {
        if (error)
            *error = QStringLiteral(
                         "Не удалось восстановить историю проверок. Прежние файлы сохранены в папке: %1")
                         .arg(shownKeep);
        return false;
    }
    TableFile::syncPath(base, true);
    // The restore counts only when what is now in the folder loads.
    for (Table* t : scratch.dataTables()) {
        QString err;
        if (!TableFile::load(*t, base + tableFileName(*t), &err)) {
            if (error) *error = err + QStringLiteral(". Прежние файлы сохранены в папке: ") + shownKeep;
            return false;
        }
    }
    return true;
}

} // namespace zentaro::db
