#pragma once

#include <sqlite3.h>

#include <QFile>
#include <QString>

namespace zentaro::test {

// Another program holding a table file busy: while it lives, nothing else can write to the file.
class BusyFile {
public:
    explicit BusyFile(const QString& path) {
        sqlite3_open_v2(QFile::encodeName(path).constData(), &m_db, SQLITE_OPEN_READWRITE, nullptr);
        sqlite3_exec(m_db, "BEGIN EXCLUSIVE", nullptr, nullptr, nullptr);
    }
    ~BusyFile() {
        sqlite3_exec(m_db, "ROLLBACK", nullptr, nullptr, nullptr);
        sqlite3_close_v2(m_db);
    }
    BusyFile(const BusyFile&) = delete;
    BusyFile& operator=(const BusyFile&) = delete;

private:
    sqlite3* m_db = nullptr;
};

} // namespace zentaro::test
