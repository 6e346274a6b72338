#pragma once

#include "db/database.h"
#include "db/session.h"
#include "util/user_interface.h"

namespace zentaro::bench {

// Answers every question the same way and shows nothing.
class BenchUi final : public UserInterface {
public:
    explicit BenchUi(bool yes) : m_yes(yes) {}
    void showMessage(const QString&, const QString&) override {}
    void showError(const QString&, const QString&) override {}
    bool askYesNo(const QString&, const QString&) override { return m_yes; }
    bool inputQuery(const QString&, const QString&, QString&) override { return false; }
    bool chooseOpenFile(const QString&, QString&) override { return false; }
    bool chooseFolder(const QString&, QString&) override { return false; }
    bool chooseSaveFile(const QString&, QString&) override { return false; }
    QString ShowCaptcha(const QString&, bool&) override { return {}; }

private:
    bool m_yes;
};

// Opens a benchmark's base and gives it the trust site and project its link pages belong to.
inline void startWithASiteAndAProject(db::Session& session, db::Database& db) {
    session.acquireInstanceLock();
    session.start();
    db.tbSite.insert();
    db.tbSite.setValue(QStringLiteral("Site"), QStringLiteral("trust.ru"));
    db.tbSite.post();
    db.tbProject.insert();
    db.tbProject.post();
}

} // namespace zentaro::bench
