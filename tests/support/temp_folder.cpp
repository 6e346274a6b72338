#include "support/temp_folder.h"

#include <QFile>

namespace zentaro::test {

TempFolder::TempFolder() = default;

QByteArray TempFolder::read(const QString& path) {
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly)) return {};
    return f.readAll();
}

void TempFolder::write(const QString& path, const QByteArray& data) {
    QFile f(path);
    if (f.open(QIODevice::WriteOnly | QIODevice::Truncate)) f.write(data);
}

} // namespace zentaro::test
