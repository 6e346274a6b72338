#include "util/regional.h"

namespace zentaro {

QLocale regionalLocale() {
    const QLocale sys = QLocale::system();
    if (sys.language() == QLocale::C) return QLocale(QLocale::Russian, QLocale::Russia);
    return sys;
}

void applyRegionalLocale() {
    QLocale::setDefault(regionalLocale());
}

} // namespace zentaro
