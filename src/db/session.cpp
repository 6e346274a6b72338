#include "db/session.h"

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

void Session::start() {
    const QString setsPath = m_baseDir + tableFileName(m_db.tbSets);
    if (m_folderExisted || QFileInfo::exists(setsPath)) {
        QString err;
        if (!TableFile::load(m_db.tbSets, setsPath, &err))
            m_ui.showError(QStringLiteral("Ошибка загрузки ini-файла"), QStringLiteral("Ошибка"));
    }
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
    }
    m_db.tbSite.first();
}

bool Session::close(QString* error) {
    if (!m_db.BaseLoadError) {
        const BaseResult saved = SaveBase(m_db, m_baseDir);
        if (!saved.ok) {
            if (error) *error = saved.error;
            return false;
        }
    }
    if (runReserveCopy && !m_db.BaseLoadError) {
        m_db.isAuto = true;
        runReserveCopy();
        m_db.isAuto = false;
    }
    if (storeSettings) storeSettings();
    m_db.tbSets.checkBrowseMode();
    m_db.tbSets.mergeChangeLog();
    QString err;
    if (!TableFile::save(m_db.tbSets, m_baseDir + tableFileName(m_db.tbSets), &err)) {
        if (error) *error = err;
        return false;
    }
    if (exportAll) exportAll();
    return true;
}

} // namespace zentaro::db
