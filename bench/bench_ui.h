#pragma once

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

} // namespace zentaro::bench
