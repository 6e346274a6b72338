#include "web/url_forms.h"

#include <algorithm>
#include <cerrno>

#include <QStringMatcher>

#include <iconv.h>

namespace zentaro::web {

QString PrepareURL(const QString& SURL) {
    QString s = SURL.toLower();
    static const struct {
        const char* prefix;
        int n;
    } rules[] = {{"http://www.", 11}, {"https://www.", 12}, {"http://", 7}, {"https://", 8}};
    for (const auto& r : rules)
        if (s.contains(QLatin1String(r.prefix))) s.remove(0, r.n);
    if (!s.isEmpty() && s.endsWith(u'/')) s.chop(1);
    return s;
}

QString ExtractDomain(const QString& SURL) {
    if (SURL.isEmpty()) return {};
    const QString s = PrepareURL(SURL);
    for (qsizetype i = 0; i < s.size(); ++i) {
        const QChar c = s[i];
        if (c == u'#' || c == u'/' || c == u'?' || c == u' ') return s.left(i);
    }
    return s;
}

namespace {

// QStringView::indexOf for a short marker, by its first character: the vectorised search for one character
// runs many times faster than the general search on long pages where the marker is far apart.
qsizetype findMarker(QStringView text, QStringView marker, qsizetype from = 0) {
    const QChar first = marker.front();
    for (qsizetype i = text.indexOf(first, from); i >= 0; i = text.indexOf(first, i + 1))
        if (text.mid(i).startsWith(marker)) return i;
    return -1;
}

} // namespace

std::vector<ElementRange> ExtractElementRanges(const QString& text, ElementKind kind) {
    // The scan removes the two characters after "<" of each element found and searches again from the start.
    // Every removal happens at the first marker, so the text before it never changes and the text after it is
    // the original: the state is the original index Q of that "<" and the index `skip` where the original
    // text continues after it. The last allowed start of a closing marker is fixed in original positions.
    const QString open =
        kind == ElementKind::Anchor ? QStringLiteral("<a ") : QStringLiteral("<h3 class=\"result__title\">");
    const QString close = kind == ElementKind::Anchor ? QStringLiteral("/a>") : QStringLiteral("</h3>");
    const qsizetype tail = kind == ElementKind::Anchor ? 4 : 5;
    const qsizetype L = text.size();
    const qsizetype lastClose = L - tail - 1; // 0-based
    const QStringView t(text);
    const QStringView openRest = QStringView(open).mid(1);
    const QStringView closeRest = QStringView(close).mid(1);
    std::vector<ElementRange> out;

    qsizetype q = findMarker(t, open);
    if (q < 0) return out;
    qsizetype skip = q + 1;
    // The start of the text searched only moves forward, so one closing marker found serves until passed.
    qsizetype nextClose = -1;
    qsizetype cacheFrom = -1;
    auto closeFrom = [&](qsizetype from) {
        if (cacheFrom >= 0 && from >= cacheFrom && (nextClose < 0 || nextClose >= from)) return nextClose;
        nextClose = findMarker(t, close, from);
        cacheFrom = from;
        return nextClose;
    };
    while (true) {
        // The closing marker may start at the "<" itself (virtual position) or in the original text after it.
        qsizetype endExclusive = -1;
        const bool closeAtLt =
            close.front() == u'<' && skip - 1 <= lastClose && t.mid(skip).startsWith(closeRest);
        if (closeAtLt) {
            endExclusive = skip + closeRest.size();
        } else {
            const qsizetype j = closeFrom(skip);
            if (j < 0 || j > lastClose) break;
            endExclusive = j + close.size();
        }
        out.push_back({skip, endExclusive});
        skip += 2;
        if (skip <= L && t.mid(skip).startsWith(openRest))
            continue; // the removal made a new opening marker at the same place
        q = findMarker(t, open, skip);
        if (q < 0) break;
        skip = q + 1;
    }
    return out;
}

QStringList ExtractElements(const QString& text, ElementKind kind) {
    QStringList out;
    for (const ElementRange& r : ExtractElementRanges(text, kind))
        out << elementText(text, r);
    return out;
}

QString elementText(const QString& text, const ElementRange& r) {
    QString element;
    element.reserve(1 + r.end - r.start);
    element += u'<';
    element += QStringView(text).mid(r.start, r.end - r.start);
    return element;
}

Occurrences::Occurrences(const QString& text, const QString& needle) : m_size(needle.size()) {
    if (needle.isEmpty()) return;
    const QStringMatcher matcher(needle, Qt::CaseSensitive);
    for (qsizetype at = matcher.indexIn(text, 0); at >= 0; at = matcher.indexIn(text, at + 1))
        m_at.push_back(at);
}

qsizetype Occurrences::firstWithin(qsizetype from, qsizetype to) const {
    auto it = std::lower_bound(m_at.begin(), m_at.end(), from);
    return it != m_at.end() && *it + m_size <= to ? *it : -1;
}

ElementText::ElementText(const QString& page, const std::vector<ElementRange>& elements)
    : m_page(page), m_elements(elements), m_maxEnd(elements.size()) {
    qsizetype m = -1;
    for (size_t i = 0; i < elements.size(); ++i)
        m_maxEnd[i] = m = std::max(m, elements[i].end);
    // Elements start in increasing order: their union is a list of disjoint spans found in one pass.
    qsizetype from = -1, to = -1;
    auto flush = [&] {
        if (from < 0) return;
        m_spans.emplace_back(m_joined.size(), from);
        m_joined += QStringView(page).mid(from, to - from);
        m_joined += QChar(u'\0');
    };
    for (const ElementRange& e : elements) {
        if (e.start > to) {
            flush();
            from = e.start;
            to = e.end;
        } else {
            to = std::max(to, e.end);
        }
    }
    flush();
}

bool ElementText::covered(qsizetype at, qsizetype len) const {
    auto it = std::upper_bound(m_elements.begin(), m_elements.end(), at,
                               [](qsizetype p, const ElementRange& e) { return p < e.start; });
    return it != m_elements.begin() && m_maxEnd[size_t(it - m_elements.begin()) - 1] >= at + len;
}

bool ElementText::contains(const QString& needle) const {
    if (needle.isEmpty() || m_elements.empty()) return false;
    const qsizetype len = needle.size();
    // An element's text begins with "<" before its page characters: a needle may start there.
    if (needle.front() == u'<') {
        const QStringView rest = QStringView(needle).mid(1);
        for (const ElementRange& e : m_elements)
            if (e.start + rest.size() <= e.end && QStringView(m_page).mid(e.start).startsWith(rest))
                return true;
    }
    if (needle.contains(QChar(u'\0'))) {
        // The separator itself is sought: search the page.
        const QStringMatcher matcher(needle, Qt::CaseSensitive);
        for (qsizetype at = matcher.indexIn(m_page, 0); at >= 0; at = matcher.indexIn(m_page, at + 1))
            if (covered(at, len)) return true;
        return false;
    }
    const QStringMatcher matcher(needle, Qt::CaseSensitive);
    for (qsizetype at = matcher.indexIn(m_joined, 0); at >= 0; at = matcher.indexIn(m_joined, at + 1)) {
        auto span = std::upper_bound(m_spans.begin(), m_spans.end(), at,
                                     [](qsizetype p, const auto& s) { return p < s.first; });
        const qsizetype pageAt = std::prev(span)->second + (at - std::prev(span)->first);
        if (covered(pageAt, len)) return true;
    }
    return false;
}

bool occursInAnElement(const QString& page, const std::vector<ElementRange>& elements,
                       const QString& needle) {
    return ElementText(page, elements).contains(needle);
}

unsigned wordsIn(QStringView text, std::initializer_list<QStringView> words) {
    bool first[128] = {};
    for (const QStringView& w : words)
        if (!w.isEmpty() && w.front().unicode() < 128) first[w.front().unicode()] = true;
    const unsigned all = words.size() >= 32 ? ~0u : (1u << words.size()) - 1;
    unsigned found = 0;
    const char16_t* d = text.utf16();
    const qsizetype n = text.size();
    for (qsizetype i = 0; i < n; ++i) {
        if (d[i] >= 128 || !first[d[i]]) continue;
        const QStringView rest(d + i, n - i);
        unsigned bit = 1;
        for (const QStringView& w : words) {
            if (!(found & bit) && !w.isEmpty() && rest.startsWith(w)) found |= bit;
            bit <<= 1;
        }
        if (found == all) break;
    }
    return found;
}

QString lowerText(const QString& text) {
    const qsizetype n = text.size();
    QString out(n, Qt::Uninitialized);
    const QChar* d = text.constData();
    QChar* o = out.data();
    qsizetype i = 0;
    while (i < n) {
        // A block of ASCII is lowered without branches, which the compiler turns into vector code.
        constexpr qsizetype kBlock = 16;
        if (i + kBlock <= n) {
            char16_t any = 0;
            for (qsizetype k = 0; k < kBlock; ++k)
                any |= d[i + k].unicode();
            if (any < 0x80) {
                for (qsizetype k = 0; k < kBlock; ++k) {
                    const char16_t c = d[i + k].unicode();
                    o[i + k] = QChar(char16_t(c + (char16_t(c - u'A') < 26 ? 32 : 0)));
                }
                i += kBlock;
                continue;
            }
        }
        const char16_t c = d[i].unicode();
        if (c < 0x80) {
            o[i] = QChar(c >= u'A' && c <= u'Z' ? char16_t(c + 32) : c);
            ++i;
            continue;
        }
        qsizetype j = i;
        while (j < n && d[j].unicode() >= 0x80)
            ++j;
        const QString run = QStringView(d + i, j - i).toString().toLower();
        if (run.size() != j - i)
            return text
                .toLower(); // a letter whose lower case is longer: take the slow road for the whole text
        std::copy(run.constData(), run.constData() + run.size(), o + i);
        i = j;
    }
    return out;
}

QByteArray HTTPEncode(const QByteArray& ansi) {
    static const char hex[] = "0123456789ABCDEF";
    QByteArray out;
    out.reserve(ansi.size() * 3);
    for (const char ch : ansi) {
        const auto c = static_cast<unsigned char>(ch);
        if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
            QByteArrayView("!$'()*-.@_").contains(char(c))) {
            out += char(c);
        } else if (c == ' ') {
            out += '+';
        } else {
            out += '%';
            out += hex[c >> 4];
            out += hex[c & 15];
        }
    }
    return out;
}

namespace {

bool convert(const char* to, const char* from, const QByteArray& in, QByteArray& out, bool lossy) {
    iconv_t cd = iconv_open(to, from);
    if (cd == iconv_t(-1)) return false;
    out.clear();
    out.resize(in.size() * 4 + 16);
    char* src = const_cast<char*>(in.constData());
    size_t srcLeft = size_t(in.size());
    char* dst = out.data();
    size_t dstLeft = size_t(out.size());
    while (srcLeft > 0) {
        if (iconv(cd, &src, &srcLeft, &dst, &dstLeft) != size_t(-1)) break;
        if (errno == E2BIG) {
            const qsizetype used = dst - out.data();
            out.resize(out.size() * 2);
            dst = out.data() + used;
            dstLeft = size_t(out.size() - used);
            continue;
        }
        if (!lossy) {
            iconv_close(cd);
            return false;
        }
        // A character the target cannot hold (or a broken sequence) becomes "?"; room is made for it first,
        // so every turn of the loop consumes input.
        if (dstLeft == 0) {
            const qsizetype used = dst - out.data();
            out.resize(out.size() * 2);
            dst = out.data() + used;
            dstLeft = size_t(out.size() - used);
        }
        *dst++ = '?';
        --dstLeft;
        ++src;
        --srcLeft;
        // Skip the rest of a multi-byte UTF-8 sequence.
        while (qstrcmp(from, "UTF-8") == 0 && srcLeft > 0 &&
               (static_cast<unsigned char>(*src) & 0xC0) == 0x80) {
            ++src;
            --srcLeft;
        }
    }
    out.resize(dst - out.data());
    iconv_close(cd);
    return true;
}

} // namespace

QByteArray toAnsi(const QString& text) {
    QByteArray out;
    convert("CP1251", "UTF-8", text.toUtf8(), out, true);
    return out;
}

bool decodeCharset(const QByteArray& bytes, const QByteArray& charset, QString& out) {
    const QByteArray name = charset.trimmed().toUpper();
    if (name == "UTF-8" || name == "UTF8") {
        out = QString::fromUtf8(bytes);
        return true;
    }
    QByteArray utf8;
    if (!convert("UTF-8", name.constData(), bytes, utf8, true)) return false;
    out = QString::fromUtf8(utf8);
    return true;
}

} // namespace zentaro::web
