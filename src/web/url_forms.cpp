// Address forms the checks compare and send, the element scan of service answers, query encoding.
#include "web/url_forms.h"

#include <algorithm>
#include <cerrno>

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

QString fetchAddress(const QString& stored) {
    const QString s = stored.trimmed();
    qsizetype hostFrom = 0;
    const qsizetype sep = s.indexOf(QLatin1String("://"));
    if (sep > 0 && std::all_of(s.begin(), s.begin() + sep, [](QChar c) {
            return c.isLetterOrNumber() || c == u'+' || c == u'-' || c == u'.';
        }))
        hostFrom = sep + 3;
    qsizetype hostTo = hostFrom;
    while (hostTo < s.size() && s[hostTo] != u'/' && s[hostTo] != u'?' && s[hostTo] != u'#')
        ++hostTo;
    // A user name and password before the host keep their case.
    const qsizetype at = hostTo > hostFrom ? s.lastIndexOf(u'@', hostTo - 1) : -1;
    const qsizetype lowerFrom = at >= hostFrom ? at + 1 : hostFrom;
    return s.left(hostFrom).toLower() + s.mid(hostFrom, lowerFrom - hostFrom) +
           s.mid(lowerFrom, hostTo - lowerFrom).toLower() + s.mid(hostTo);
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

std::vector<ElementRange> extractElementRanges(const QString& text, ElementKind kind) {
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
    for (const ElementRange& r : extractElementRanges(text, kind))
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
