#include "db/session.h"

#include <QDir>
#include <QFileInfo>
#include <QLockFile>

#include "db/base_files.h"
#include "db/database.h"
#include "db/table_file.h"
#include "util/user_interface.h"

namespace zentaro::db {

Session::Session(Database& db, QString baseDir, UserInterface& ui)
    : m_db(db), m_baseDir(std::move(baseDir)), m_ui(ui) {
    if (!m_baseDir.endsWith(u'/')) m_baseDir += u'/';
}

Session::~Session() = default;

bool Session::acquireInstanceLock() {
    m_folderExisted = prepareDataFolder(m_baseDir);
    m_lock = std::make_unique<QLockFile>(m_baseDir + QStringLiteral("zentaro.lock"));
    // The lock is held for the whole run; only a dead owner makes it stale.
    m_lock->setStaleLockTime(0);
    if (!m_lock->tryLock(0)) {
        m_lock.reset();
        return false;
    }
    return true;
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
    // Where no settings file can be made the connection holds none: the data files can still be read.
    store.close();
    store.open(QString(), nullptr);
}

void Session::start() {
    if (m_folderExisted && !QFileInfo(m_baseDir).isWritable()) {
        m_readOnly = true;
        m_ui.showError(QStringLiteral("Папка базы данных \"%1\" недоступна для записи. Изменения не будут "
                                      "сохранены.")
                           .arg(QDir::toNativeSeparators(m_baseDir)),
                       QStringLiteral("Ошибка"));
    }
    openSettings();
    if (applySettings) applySettings();
    m_db.BaseLoadError = false;
    m_db.isAuto = false;
    m_db.isStop = false;
    m_db.StartRCopyNow = false;
    const BaseResult loaded = LoadBase(m_db, m_baseDir);
    if (!loaded.ok) {
        m_ui.showError(loaded.error +
                           QStringLiteral(".\nТаблицы, начиная с этой, открыты пустыми. Изменения, "
                                          "сделанные в этом сеансе, не будут сохранены."),
                       QStringLiteral("Ошибка"));
    } else if (!m_readOnly) {
        // The check history lives beside the tables; without it the checks work as before.
        QString err;
        if (!m_db.checks.open(m_baseDir + QStringLiteral("checks.adb"), &err))
            m_ui.showError(QStringLiteral("История проверок недоступна: ") + err, QStringLiteral("Ошибка"));
    }
    m_db.tbSite.first();
}

bool Session::close(QString* error) {
    Store& store = m_db.store;
    auto failed = [&](const QString& err) {
        if (error) *error = QStringLiteral("Не удалось сохранить изменения: ") + err;
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
    if (exportAll && !m_exported) {
        m_exported = true;
        exportAll();
    }
    return true;
}

} // namespace zentaro::db
