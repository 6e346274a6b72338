#pragma once

#include <QByteArray>
#include <QString>
#include <QTemporaryDir>

namespace zentaro::test {

// A temporary program folder with helpers to look at the files in it.
class TempFolder {
public:
    TempFolder();
    QString path() const { return m_dir.path() + QStringLiteral("/"); }
    QString base() const { return path() + QStringLiteral("base/"); }
    QString file(const QString& name) const { return base() + name; }
    static QByteArray read(const QString& path);
    static void write(const QString& path, const QByteArray& data);

private:
    QTemporaryDir m_dir;
};

} // namespace zentaro::test
