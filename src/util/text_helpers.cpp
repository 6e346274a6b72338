#include "util/text_helpers.h"

#include <QLocale>

namespace zentaro {

QString DelLabelsBeginEnd(const QString& S) {
    QString r = S;
    qsizetype p = 0;
    while (p < r.size() && r[p] == u' ')
        ++p;
    if (p < r.size()) r.remove(0, p);
    qsizetype q = r.size() - 1;
    while (q >= 0 && r[q] == u' ')
        --q;
    if (q >= 0) r.truncate(q + 1);
    return r;
}

std::optional<double> StrToNormalFloat(const QString& S) {
    QString s = DelLabelsBeginEnd(S);
    if (s.isEmpty()) return 0.0;
    QLocale loc;
    loc.setNumberOptions(QLocale::RejectGroupSeparator);
    const QString formatted = loc.toString(2.5);
    const QChar d = formatted.size() > 1 ? formatted[1] : QChar(u'.');
    const QChar nd = d == u',' ? QChar(u'.') : QChar(u',');
    if (!s.contains(d)) {
        const qsizetype i = s.indexOf(nd);
        if (i >= 0) s[i] = d;
    }
    bool ok = false;
    const double v = loc.toDouble(s, &ok);
    if (!ok) return std::nullopt;
    return v;
}

} // namespace zentaro
