#include "util/regional.h"

#include <array>

namespace zentaro {

QLocale regionalLocale() {
    const QLocale sys = QLocale::system();
    if (sys.language() == QLocale::C) return QLocale(QLocale::Russian, QLocale::Russia);
    return sys;
}

void applyRegionalLocale() {
    QLocale::setDefault(regionalLocale());
}

QString dateFormat() {
    QString f = QLocale().dateFormat(QLocale::ShortFormat);
    const qsizetype y = f.indexOf(u'y');
    if (y < 0) return QStringLiteral("dd.MM.yyyy");
    qsizetype end = y;
    while (end < f.size() && f[end] == u'y')
        ++end;
    return f.replace(y, end - y, QStringLiteral("yyyy"));
}

QString formatDate(const QDate& d) {
    if (!d.isValid()) return {};
    // Tables are written with hundreds of thousands of dates: the format is worked out once per locale.
    thread_local QLocale locale;
    thread_local QString format = dateFormat();
    const QLocale current;
    if (current != locale) {
        locale = current;
        format = dateFormat();
    }
    return locale.toString(d, format);
}

namespace {

// The order of day, month and year in the short format: 'd', 'M', 'y' as they first occur.
std::array<char16_t, 3> fieldOrder() {
    const QString f = QLocale().dateFormat(QLocale::ShortFormat);
    std::array<char16_t, 3> order{};
    int n = 0;
    for (const QChar c : f) {
        const char16_t u = c.unicode();
        if ((u != u'd' && u != u'M' && u != u'y') || n == 3) continue;
        bool seen = false;
        for (int i = 0; i < n; ++i)
            seen = seen || order[size_t(i)] == u;
        if (!seen) order[size_t(n++)] = u;
    }
    if (n != 3) order = {u'd', u'M', u'y'};
    return order;
}

} // namespace

std::optional<QDate> readDate(QStringView text, int minYear) {
    const QStringView t = text.trimmed();
    // Three runs of digits with one separator character between them, nothing else.
    std::array<int, 3> value{};
    std::array<int, 3> digits{};
    int part = 0;
    QChar separator;
    for (qsizetype i = 0; i < t.size(); ++i) {
        const QChar c = t[i];
        if (c.isDigit() && c.unicode() < 128) {
            if (++digits[size_t(part)] > 4) return std::nullopt;
            value[size_t(part)] = value[size_t(part)] * 10 + (c.unicode() - u'0');
            continue;
        }
        if (digits[size_t(part)] == 0 || part == 2) return std::nullopt;
        if (part == 1 && c != separator) return std::nullopt;
        separator = c;
        if (c.isLetterOrNumber() || c.isSpace()) return std::nullopt;
        ++part;
    }
    if (part != 2 || digits[2] == 0) return std::nullopt;
    // A four-digit first part is a year (ISO and the year-first formats); dotted dates are day first
    // everywhere. Only the rest asks the locale, which costs more than the reading itself.
    std::array<char16_t, 3> order{u'd', u'M', u'y'};
    if (digits[0] == 4)
        order = {u'y', u'M', u'd'};
    else if (separator != u'.')
        order = fieldOrder();
    int day = 0, month = 0, year = 0, yearDigits = 0;
    for (size_t i = 0; i < 3; ++i) {
        if (order[i] == u'y') {
            year = value[i];
            yearDigits = digits[i];
        } else if (digits[i] > 2) {
            return std::nullopt;
        } else if (order[i] == u'd') {
            day = value[i];
        } else {
            month = value[i];
        }
    }
    if (yearDigits == 2) {
        const int latest = QDate::currentDate().year() + 20;
        year += latest / 100 * 100;
        if (year > latest) year -= 100;
    } else if (yearDigits != 4 || year < minYear) {
        return std::nullopt;
    }
    const QDate d(year, month, day);
    if (!d.isValid()) return std::nullopt;
    return d;
}

} // namespace zentaro
