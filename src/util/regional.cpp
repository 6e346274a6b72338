// Regional formats of dates and numbers the program shows and writes.
#include "util/regional.h"

#include <array>

#include <QRegularExpression>

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
    // Numbers only: a month or weekday name would not read back in another locale, nor by the reader.
    f.replace(QRegularExpression(QStringLiteral("M{3,}")), QStringLiteral("MM"));
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

// What reading a date needs of the default locale's short format, worked out once per locale: the order of
// day, month and year, whether it divides them with dots, and the letters it writes as literal text (the
// Bulgarian "г.", say), which may stand between or after the numbers.
struct ShortForm {
    std::array<char16_t, 3> order{u'd', u'M', u'y'};
    bool dotted = true;
    QString literalLetters;
    std::array<QString, 2> separators; // between the first two fields and the last two, trimmed
};

ShortForm shortForm(const QLocale& locale) {
    ShortForm form;
    const QString f = locale.dateFormat(QLocale::ShortFormat);
    std::array<char16_t, 3> order{};
    int n = 0;
    bool quoted = false;
    int fields = 0; // field runs seen
    char16_t run = 0;
    for (const QChar c : f) {
        const char16_t u = c.unicode();
        const bool field = !quoted && (u == u'd' || u == u'M' || u == u'y');
        if (field && u != run) ++fields;
        run = field ? u : 0;
        if (!field && fields >= 1 && fields <= 2 && u != u'\'') form.separators[size_t(fields - 1)] += c;
        if (u == u'\'') {
            quoted = !quoted;
            continue;
        }
        if (quoted) {
            if (c.isLetter()) form.literalLetters += c;
            continue;
        }
        if ((u != u'd' && u != u'M' && u != u'y') || n == 3) continue;
        bool seen = false;
        for (int i = 0; i < n; ++i)
            seen = seen || order[size_t(i)] == u;
        if (!seen) order[size_t(n++)] = u;
    }
    if (n == 3) form.order = order;
    for (QString& sep : form.separators)
        sep = sep.trimmed();
    form.dotted = f.contains(u'.');
    return form;
}

const ShortForm& currentShortForm() {
    thread_local QLocale locale;
    thread_local ShortForm form = shortForm(locale);
    const QLocale current;
    if (current != locale) {
        locale = current;
        form = shortForm(locale);
    }
    return form;
}

// Characters that may stand between and around the numbers of a date: blanks, punctuation, symbols,
// direction marks and the locale's literal letters. Anything else (another letter, a control) refuses it.
bool isDateFiller(char32_t c, const ShortForm& form) {
    if (QChar::isLetter(c)) return c <= 0xffff && form.literalLetters.contains(QChar(char16_t(c)));
    switch (QChar::category(c)) {
    case QChar::Separator_Space:
    case QChar::Punctuation_Connector:
    case QChar::Punctuation_Dash:
    case QChar::Punctuation_Open:
    case QChar::Punctuation_Close:
    case QChar::Punctuation_Other:
    case QChar::Symbol_Other:
    case QChar::Other_Format:
        return true;
    default:
        return false;
    }
}

} // namespace

std::optional<QDate> readDate(QStringView text, int minYear) {
    const QStringView t = text.trimmed();
    if (t.isEmpty() || t.size() > 64) return std::nullopt;
    // Three runs of digits (of any script: some locales write their own) with filler between and around
    // them; the filler between the first two runs and between the last two is the same where a single
    // character divides them, as in every short form.
    std::array<int, 3> value{};
    std::array<int, 3> digits{};
    std::array<QString, 4> filler;
    int part = 0;
    bool inDigits = false;
    const ShortForm* form = nullptr;
    for (qsizetype i = 0; i < t.size();) {
        char32_t c = t[i].unicode();
        qsizetype len = 1;
        if (QChar::isHighSurrogate(c) && i + 1 < t.size() && t[i + 1].isLowSurrogate()) {
            c = QChar::surrogateToUcs4(t[i], t[i + 1]);
            len = 2;
        }
        const int digit = QChar::digitValue(c);
        if (digit >= 0 && QChar::category(c) == QChar::Number_DecimalDigit) {
            if (!inDigits && digits[size_t(part)] > 0) {
                if (++part == 3) return std::nullopt;
            }
            inDigits = true;
            if (++digits[size_t(part)] > 4) return std::nullopt;
            value[size_t(part)] = value[size_t(part)] * 10 + digit;
        } else {
            if (!form) form = &currentShortForm();
            // Before the first number only direction marks (and blanks, trimmed already) may stand.
            if (!isDateFiller(c, *form) || (digits[0] == 0 && QChar::category(c) != QChar::Other_Format))
                return std::nullopt;
            inDigits = false;
            QString& f = filler[size_t(digits[0] == 0 ? 0 : part + 1)];
            if (f.size() > 8) return std::nullopt;
            f += t.mid(i, len);
        }
        i += len;
    }
    if (part != 2) return std::nullopt;
    // Between the numbers there is something: the same both times, or what the locale's form puts there.
    const QString first = filler[1].trimmed(), second = filler[2].trimmed();
    if (filler[1].isEmpty() || filler[2].isEmpty()) return std::nullopt;
    if (first != second) {
        if (!form) form = &currentShortForm();
        if (first != form->separators[0] || second != form->separators[1]) return std::nullopt;
    }
    // A four-digit first part is a year (ISO and the year-first formats); dotted dates are day first unless
    // the locale's own short form is dotted in another order. Only the rest asks the locale.
    std::array<char16_t, 3> order{u'd', u'M', u'y'};
    if (digits[0] == 4) {
        order = {u'y', u'M', u'd'};
    } else if (first != QLatin1String(".")) {
        if (!form) form = &currentShortForm();
        order = form->order;
    } else {
        if (!form) form = &currentShortForm();
        if (form->dotted) order = form->order;
    }
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
