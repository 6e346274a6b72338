#include "app/icons.h"

#include <QApplication>

namespace zentaro::app {

QIcon themeIcon(const char* name, QStyle::StandardPixmap fallback) {
    const QString n = QString::fromLatin1(name);
    if (QIcon::hasThemeIcon(n)) return QIcon::fromTheme(n);
    return QApplication::style()->standardIcon(fallback);
}

} // namespace zentaro::app
