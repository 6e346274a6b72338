#pragma once

#include <QDir>
#include <QFile>
#include <QStringList>
#include <QTemporaryDir>

#include "support/temp_folder.h"

namespace zentaro::test {

// A stand-in for systemctl, first on the path: logs its arguments and prints the answer given; once refused
// it fails as systemctl does without a user session.
class FakeSystemctl {
public:
    FakeSystemctl() {
        QDir().mkpath(bin());
        TempFolder::write(
            bin() + "systemctl",
            ("#!/bin/sh\necho \"$@\" >> '" + log() + "'\n" + "cat '" + dir.path() + "/answer' 2>/dev/null\n" +
             "[ -f '" + dir.path() +
             "/refuse' ] && { echo 'Failed to connect to bus: No medium found' >&2; exit 1; }\n" + "exit 0\n")
                .toUtf8());
        QFile::setPermissions(bin() + "systemctl", QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        m_path = qgetenv("PATH");
        qputenv("PATH", QFile::encodeName(bin()) + ":" + m_path);
    }
    ~FakeSystemctl() { qputenv("PATH", m_path); }
    QString bin() const { return dir.path() + "/bin/"; }
    QString log() const { return dir.path() + "/log"; }
    QStringList calls() const {
        return QString::fromUtf8(TempFolder::read(log())).split(u'\n', Qt::SkipEmptyParts);
    }
    void answer(const QByteArray& text) { TempFolder::write(dir.path() + "/answer", text); }
    void refuse() { TempFolder::write(dir.path() + "/refuse", "1"); }

    QTemporaryDir dir;

private:
    QByteArray m_path;
};

} // namespace zentaro::test
