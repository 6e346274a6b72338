// The data side of the program's life: the instance lock, loading at start, storing at closing.
#include "db/session.h"

#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <unistd.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLockFile>

#include "db/base_files.h"
#include "db/database.h"
#include "db/history_file.h"
#include "db/table_file.h"
#include "util/user_interface.h"

namespace zentaro::db {

namespace {

// Writes and removes a small file in the folder: 0 when that works, else the errno that stopped it.
int probeWrite(const QString& folder) {
    const QByteArray path = QFile::encodeName(folder + QStringLiteral(".zentaro-probe"));
    ::unlink(path.constData());
    const int fd = ::open(path.constData(), O_CREAT | O_EXCL | O_WRONLY, 0600);
    if (fd < 0) return errno;
    const char block[512] = {};
    int err = 0;
    if (::write(fd, block, sizeof block) != ssize_t(sizeof block) || ::fsync(fd) != 0)
        err = errno ? errno : EIO;
    ::close(fd);
    ::unlink(path.constData());
    return err;
}

} // namespace

Session::Session(Database& db, QString baseDir, UserInterface& ui)
    : m_db(db), m_baseDir(std::move(baseDir)), m_ui(ui) {
    if (!m_baseDir.endsWith(u'/')) m_baseDir += u'/';
}

Session::~Session() {
    // The history outlives the session in the database; its messages went through this session's UI.
    m_db.checks.onTrouble = nullptr;
}

bool Session::acquireInstanceLock() {
    m_folderExisted = prepareDataFolder(m_baseDir);
    m_lock = std::make_unique<QLockFile>(m_baseDir + QStringLiteral("zentaro.lock"));
    // The lock is held for the whole run; only a dead owner makes it stale.
    m_lock->setStaleLockTime(0);
    m_lockError.clear();
    if (m_lock->tryLock(0)) {
        m_lockState = LockState::Held;
        return true;
    }
    const QLockFile::LockError why = m_lock->error();
    m_lock.reset();
    if (why == QLockFile::LockFailedError) {
        m_lockState = LockState::Busy;
        return false;
    }
    // Not another instance: a folder that cannot be written is read without a lock (no instance can
    // write there either); any other failure is told with its cause.
    const int err = probeWrite(m_baseDir);
    if (err == EACCES || err == EPERM || err == EROFS) {
        m_lockState = LockState::ReadOnly;
        m_readOnly = true;
        return true;
    }
    m_lockState = LockState::Failed;
    m_lockError = QStringLiteral("Не удалось открыть папку базы данных \"%1\": %2")
                      .arg(QDir::toNativeSeparators(m_baseDir),
                           err ? QString::fromLocal8Bit(strerror(err))
                               : QStringLiteral("не удалось записать файл блокировки"));
    return false;
}

void Session::openSettings() {
    Store& store = m_db.store;
    const QString setsPath = m_baseDir + tableFileName(m_db.tbSets);
    const bool existed = QFileInfo::exists(setsPath);
    QString err;
    if (existed && store.open(setsPath, &err) && store.attachMain(m_db.tbSets, &err)) return;
    store.close();
    if (m_folderExisted || existed)
        m_ui.showError(QStringLiteral("Ошибка загрузки ini-файла"), QStringLiteral("Ошибка"));
    // A fresh settings file in place of the missing or damaged one, as the closing would write it.
    m_db.tbSets.clearRecords();
    m_db.tbSets.finishLoad();
    if (TableFile::save(m_db.tbSets, setsPath, &err) && store.open(setsPath, &err) &&
        store.attachMain(m_db.tbSets, &err))
        return;
    // Where no settings file can be made the connection holds none: the data files can still be read. A
    // read-only folder was told already; anything else (a full disk) is said, since nothing will be kept.
    if (!m_readOnly) m_ui.showError(err, QStringLiteral("Ошибка"));
    store.close();
    store.open(QString(), nullptr);
}

void Session::start() {
    if (m_readOnly || (m_folderExisted && !QFileInfo(m_baseDir).isWritable())) {
        m_readOnly = true;
        m_ui.showError(QStringLiteral("Папка базы данных \"%1\" недоступна для записи. Изменения не будут "
                                      "сохранены.")
                           .arg(QDir::toNativeSeparators(m_baseDir)),
                       QStringLiteral("Ошибка"));
    }
    openSettings();
    if (applySettings) applySettings();
    m_db.BaseLoadError = false;
    m_db.baseLoadFailure.clear();
    m_db.isAuto = false;
    m_db.isStop = false;
    m_db.StartRCopyNow = false;
    const BaseResult loaded = LoadBase(m_db, m_baseDir);
    if (!loaded.ok) {
        m_ui.showError(loaded.error +
                           QStringLiteral(".\nТаблицы, начиная с этой, открыты пустыми. Изменения, "
                                          "сделанные в этом сеансе, не будут сохранены; резервная копия и "
                                          "выгрузка таблиц при выходе не делаются."),
                       QStringLiteral("Ошибка"));
    } else if (!m_readOnly) {
        // The check history lives beside the tables; without it the checks work as before.
        QString err;
        m_db.checks.onTrouble = [this](const QString& text) {
            m_ui.showError(text, QStringLiteral("Ошибка"));
        };
        if (!openHistoryFor(m_db, m_baseDir, &err))
            m_ui.showError(QStringLiteral("История проверок недоступна: ") + err, QStringLiteral("Ошибка"));
    }
    m_db.tbSite.first();
}

bool Session::close(QString* error) {
    Store& store = m_db.store;
    m_closeError.clear();
    auto failed = [&](const QString& err) {
        m_closeError = QStringLiteral("Не удалось сохранить изменения: ") + err;
        if (error) *error = m_closeError;
        return false;
    };
    QString err;
    if (!m_db.BaseLoadError) {
        for (Table* t : m_db.dataTables())
            t->checkBrowseMode();
        if (!store.flush(&err)) return failed(err);
    }
    // A retried closing runs each step once: the copy and the export are not made twice.
    if (runReserveCopy && !m_db.BaseLoadError && !m_copied) {
        m_copied = true;
        m_db.isAuto = true;
        runReserveCopy();
        m_db.isAuto = false;
    }
    if (storeSettings) storeSettings();
    m_db.tbSets.checkBrowseMode();
    if (!store.flush(&err)) return failed(err);
    // Tables that did not load whole would be exported as their first part, over the files of a whole export.
    if (exportAll && !m_exported && !m_db.BaseLoadError) {
        m_exported = true;
        exportAll();
    }
    return true;
}

} // namespace zentaro::db
