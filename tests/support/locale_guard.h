// Sets the default locale for one test and puts the previous one back.
#pragma once

#include <QLocale>

namespace zentaro::test {

class LocaleGuard {
public:
    explicit LocaleGuard(const QLocale& l) : m_old(QLocale()) { QLocale::setDefault(l); }
    ~LocaleGuard() { QLocale::setDefault(m_old); }
    LocaleGuard(const LocaleGuard&) = delete;
    LocaleGuard& operator=(const LocaleGuard&) = delete;

private:
    QLocale m_old;
};

} // namespace zentaro::test
