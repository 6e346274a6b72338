// Small text and number helpers shared by every layer.
#include "util/text_helpers.h"

#include <cmath>

#include <QLocale>
#include <QRegularExpression>

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

namespace {

bool isAsciiDigit(QChar c) {
    return c >= u'0' && c <= u'9';
}

// Sign, digits with at most one decimal separator, optional exponent: nothing else, no white space.
bool isPlainNumber(const QString& s, QChar separator) {
    qsizetype i = 0;
    const qsizetype n = s.size();
    if (i < n && (s[i] == u'+' || s[i] == u'-')) ++i;
    qsizetype digits = 0;
    while (i < n && isAsciiDigit(s[i])) {
        ++i;
        ++digits;
    }
    if (i < n && s[i] == separator) {
        ++i;
        while (i < n && isAsciiDigit(s[i])) {
            ++i;
            ++digits;
        }
    }
    if (digits == 0) return false;
    if (i < n && (s[i] == u'e' || s[i] == u'E')) {
        ++i;
        if (i < n && (s[i] == u'+' || s[i] == u'-')) ++i;
        const qsizetype from = i;
        while (i < n && isAsciiDigit(s[i]))
            ++i;
        if (i == from) return false;
    }
    return i == n;
}

} // namespace

std::optional<double> StrToNormalFloat(const QString& S) {
    QString s = DelLabelsBeginEnd(S);
    if (s.isEmpty()) return 0.0;
    QLocale loc;
    const QString formatted = loc.toString(2.5);
    const QChar d = formatted.size() > 1 ? formatted[1] : QChar(u'.');
    const QChar nd = d == u',' ? QChar(u'.') : QChar(u',');
    if (!s.contains(d)) {
        const qsizetype i = s.indexOf(nd);
        if (i >= 0) s[i] = d;
    }
    if (!isPlainNumber(s, d)) return std::nullopt;
    s.replace(d, u'.');
    bool ok = false;
    const double v = QLocale::c().toDouble(s, &ok);
    if (!ok || !std::isfinite(v)) return std::nullopt;
    return v;
}

QString csvSafeText(const QString& text) {
    if (text.isEmpty()) return text;
    const QChar c = text[0];
    if (c != u'=' && c != u'+' && c != u'-' && c != u'@' && c != u'\t' && c != u'\r') return text;
    // A negative number is data, not a formula.
    static const QRegularExpression number(QStringLiteral("^-\\d+([.,]\\d+)?$"));
    if (number.match(text).hasMatch()) return text;
    return u'\'' + text;
}

QString csvField(const QString& raw, QChar separator) {
    const QString text = csvSafeText(raw);
    if (!text.contains(separator) && !text.contains(u'"') && !text.contains(u'\n') && !text.contains(u'\r'))
        return text;
    QString quoted = text;
    quoted.replace(u'"', QStringLiteral("\"\""));
    return u'"' + quoted + u'"';
}

} // namespace zentaro
