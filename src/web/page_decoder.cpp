// Page decoding: encoding labels, the <meta> pre-scan, and the bytes turned into text.
#include "web/page_decoder.h"

#include <QHash>
#include <QStringDecoder>

#include "web/url_forms.h"

namespace zentaro::web {

namespace {

// The encodings a page may declare, each with its labels (the WHATWG table) and the code page's name for
// iconv. The "replacement" encodings and x-user-defined are left out: their labels count as unknown.
struct Encoding {
    const char* name;
    const char* iconvName;
    const char* labels;
};
constexpr Encoding kEncodings[] = {
    {"utf-8", "UTF-8", "unicode-1-1-utf-8 unicode11utf8 unicode20utf8 utf-8 utf8 x-unicode20utf8"},
    {"ibm866", "CP866", "866 cp866 csibm866 ibm866"},
    {"iso-8859-2", "ISO-8859-2",
     "csisolatin2 iso-8859-2 iso-ir-101 iso8859-2 iso88592 iso_8859-2 iso_8859-2:1987 l2 latin2"},
    {"iso-8859-3", "ISO-8859-3",
     "csisolatin3 iso-8859-3 iso-ir-109 iso8859-3 iso88593 iso_8859-3 iso_8859-3:1988 l3 latin3"},
    {"iso-8859-4", "ISO-8859-4",
     "csisolatin4 iso-8859-4 iso-ir-110 iso8859-4 iso88594 iso_8859-4 iso_8859-4:1988 l4 latin4"},
    {"iso-8859-5", "ISO-8859-5",
     "csisolatincyrillic cyrillic iso-8859-5 iso-ir-144 iso8859-5 iso88595 iso_8859-5 iso_8859-5:1988"},
    {"iso-8859-6", "ISO-8859-6",
     "arabic asmo-708 csiso88596e csiso88596i csisolatinarabic ecma-114 iso-8859-6 iso-8859-6-e iso-8859-6-i "
     "iso-ir-127 iso8859-6 iso88596 iso_8859-6 iso_8859-6:1987"},
    {"iso-8859-7", "ISO-8859-7",
     "csisolatingreek ecma-118 elot_928 greek greek8 iso-8859-7 iso-ir-126 iso8859-7 iso88597 iso_8859-7 "
     "iso_8859-7:1987 sun_eu_greek"},
    {"iso-8859-8", "ISO-8859-8",
     "csiso88598e csisolatinhebrew hebrew iso-8859-8 iso-8859-8-e iso-ir-138 iso8859-8 iso88598 iso_8859-8 "
     "iso_8859-8:1988 visual"},
    {"iso-8859-8-i", "ISO-8859-8", "csiso88598i iso-8859-8-i logical"},
    {"iso-8859-10", "ISO-8859-10", "csisolatin6 iso-8859-10 iso-ir-157 iso8859-10 iso885910 l6 latin6"},
    {"iso-8859-13", "ISO-8859-13", "iso-8859-13 iso8859-13 iso885913"},
    {"iso-8859-14", "ISO-8859-14", "iso-8859-14 iso8859-14 iso885914"},
    {"iso-8859-15", "ISO-8859-15", "csisolatin9 iso-8859-15 iso8859-15 iso885915 iso_8859-15 l9"},
    {"iso-8859-16", "ISO-8859-16", "iso-8859-16"},
    {"koi8-r", "KOI8-R", "cskoi8r koi koi8 koi8-r koi8_r"},
    {"koi8-u", "KOI8-U", "koi8-ru koi8-u"},
    {"macintosh", "MACINTOSH", "csmacintosh mac macintosh x-mac-roman"},
    {"windows-874", "CP874", "dos-874 iso-8859-11 iso8859-11 iso885911 tis-620 windows-874"},
    {"windows-1250", "CP1250", "cp1250 windows-1250 x-cp1250"},
    {"windows-1251", "CP1251", "cp1251 windows-1251 x-cp1251"},
    {"windows-1252", "CP1252",
     "ansi_x3.4-1968 ascii cp1252 cp819 csisolatin1 ibm819 iso-8859-1 iso-ir-100 iso8859-1 iso88591 "
     "iso_8859-1 iso_8859-1:1987 l1 latin1 us-ascii windows-1252 x-cp1252"},
    {"windows-1253", "CP1253", "cp1253 windows-1253 x-cp1253"},
    {"windows-1254", "CP1254",
     "cp1254 csisolatin5 iso-8859-9 iso-ir-148 iso8859-9 iso88599 iso_8859-9 iso_8859-9:1989 l5 latin5 "
     "windows-1254 x-cp1254"},
    {"windows-1255", "CP1255", "cp1255 windows-1255 x-cp1255"},
    {"windows-1256", "CP1256", "cp1256 windows-1256 x-cp1256"},
    {"windows-1257", "CP1257", "cp1257 windows-1257 x-cp1257"},
    {"windows-1258", "CP1258", "cp1258 windows-1258 x-cp1258"},
    {"x-mac-cyrillic", "MAC-CYRILLIC", "x-mac-cyrillic x-mac-ukrainian"},
    {"gbk", "GBK", "chinese csgb2312 csiso58gb231280 gb2312 gb_2312 gb_2312-80 gbk iso-ir-58 x-gbk"},
    {"gb18030", "GB18030", "gb18030"},
    {"big5", "BIG5-HKSCS", "big5 big5-hkscs cn-big5 csbig5 x-x-big5"},
    {"euc-jp", "EUC-JP", "cseucpkdfmtjapanese euc-jp x-euc-jp"},
    {"iso-2022-jp", "ISO-2022-JP", "csiso2022jp iso-2022-jp"},
    {"shift_jis", "CP932", "csshiftjis ms932 ms_kanji shift-jis shift_jis sjis windows-31j x-sjis"},
    {"euc-kr", "CP949",
     "cseuckr csksc56011987 euc-kr iso-ir-149 korean ks_c_5601-1987 ks_c_5601-1989 ksc5601 ksc_5601 "
     "windows-949"},
    {"utf-16be", "UTF-16BE", "unicodefffe utf-16be"},
    {"utf-16le", "UTF-16LE", "csunicode iso-10646-ucs-2 ucs-2 unicode unicodefeff utf-16 utf-16le"},
};

const QHash<QByteArray, const Encoding*>& labels() {
    static const QHash<QByteArray, const Encoding*> table = [] {
        QHash<QByteArray, const Encoding*> t;
        for (const Encoding& e : kEncodings)
            for (const QByteArray& label : QByteArray(e.labels).split(' '))
                t.insert(label, &e);
        return t;
    }();
    return table;
}

const Encoding* encodingNamed(const QByteArray& name) {
    for (const Encoding& e : kEncodings)
        if (name == e.name) return &e;
    return nullptr;
}

bool isSpace(char c) {
    return c == '\t' || c == '\n' || c == '\f' || c == '\r' || c == ' ';
}
char lower(char c) {
    return c >= 'A' && c <= 'Z' ? char(c + 32) : c;
}

// One attribute of a tag in the pre-scan ("get an attribute"); false when there is none (or the bytes end).
bool nextAttribute(const QByteArray& s, qsizetype& p, QByteArray& name, QByteArray& value) {
    const qsizetype n = s.size();
    while (p < n && (isSpace(s[p]) || s[p] == '/'))
        ++p;
    if (p >= n || s[p] == '>') return false;
    name.clear();
    value.clear();
    while (true) {
        if (p >= n) return false;
        const char c = s[p];
        if (c == '=' && !name.isEmpty()) {
            ++p;
            break;
        }
        if (isSpace(c)) {
            while (p < n && isSpace(s[p]))
                ++p;
            if (p >= n) return false;
            if (s[p] != '=') return true;
            ++p;
            break;
        }
        if (c == '/' || c == '>') return true;
        name += lower(c);
        ++p;
    }
    while (p < n && isSpace(s[p]))
        ++p;
    if (p >= n) return false;
    if (s[p] == '"' || s[p] == '\'') {
        const char quote = s[p++];
        while (p < n && s[p] != quote)
            value += lower(s[p++]);
        if (p >= n) return false;
        ++p;
        return true;
    }
    if (s[p] == '>') return true;
    while (p < n && !isSpace(s[p]) && s[p] != '>')
        value += lower(s[p++]);
    return p < n;
}

qsizetype indexOfNoCase(const QByteArray& s, const QByteArray& word, qsizetype from) {
    for (qsizetype i = from; i + word.size() <= s.size(); ++i) {
        qsizetype k = 0;
        while (k < word.size() && lower(s[i + k]) == word[k])
            ++k;
        if (k == word.size()) return i;
    }
    return -1;
}

} // namespace

QByteArray encodingForLabel(const QByteArray& label) {
    const QByteArray key = label.trimmed().toLower();
    const auto it = labels().constFind(key);
    return it == labels().cend() ? QByteArray() : QByteArray((*it)->name);
}

QByteArray charsetInMetaContent(const QByteArray& content) {
    qsizetype p = 0;
    while (true) {
        const qsizetype at = indexOfNoCase(content, "charset", p);
        if (at < 0) return {};
        p = at + 7;
        while (p < content.size() && isSpace(content[p]))
            ++p;
        if (p >= content.size() || content[p] != '=') continue;
        ++p;
        while (p < content.size() && isSpace(content[p]))
            ++p;
        if (p >= content.size()) return {};
        const char c = content[p];
        if (c == '"' || c == '\'') {
            const qsizetype end = content.indexOf(c, p + 1);
            return end < 0 ? QByteArray() : content.mid(p + 1, end - p - 1);
        }
        qsizetype end = p;
        while (end < content.size() && !isSpace(content[end]) && content[end] != ';')
            ++end;
        return content.mid(p, end - p);
    }
}

QByteArray encodingOfContentType(const QByteArray& contentType) {
    const QByteArray label = charsetInMetaContent(contentType);
    return label.isEmpty() ? QByteArray() : encodingForLabel(label);
}

QByteArray prescanEncoding(const QByteArray& bytes) {
    const QByteArray s = bytes.left(1024);
    const qsizetype n = s.size();
    qsizetype p = 0;
    auto startsNoCase = [&](qsizetype at, const QByteArray& word) {
        return indexOfNoCase(s.mid(at, word.size()), word, 0) == 0;
    };
    auto isLetter = [](char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); };
    while (p < n) {
        if (s.mid(p).startsWith("<!--")) {
            const qsizetype end = s.indexOf("-->", p + 2);
            if (end < 0) return {};
            p = end + 3;
            continue;
        }
        if (p + 6 <= n && startsNoCase(p, "<meta") && (isSpace(s[p + 5]) || s[p + 5] == '/')) {
            p += 6;
            QList<QByteArray> seen;
            bool gotPragma = false;
            int needPragma = -1; // unknown, no, yes
            QByteArray charset;
            QByteArray name, value;
            while (nextAttribute(s, p, name, value)) {
                if (seen.contains(name)) continue;
                seen << name;
                if (name == "http-equiv") {
                    gotPragma |= value == "content-type";
                } else if (name == "content" && charset.isEmpty()) {
                    const QByteArray label = charsetInMetaContent(value);
                    if (!label.isEmpty()) {
                        charset = encodingForLabel(label);
                        if (charset.isEmpty()) charset = "?";
                        needPragma = 1;
                    }
                } else if (name == "charset") {
                    charset = encodingForLabel(value);
                    if (charset.isEmpty()) charset = "?";
                    needPragma = 0;
                }
            }
            if (needPragma < 0 || (needPragma == 1 && !gotPragma) || charset.isEmpty() || charset == "?") {
                ++p;
                continue;
            }
            if (charset == "utf-16be" || charset == "utf-16le") return "utf-8";
            return charset;
        }
        if (s[p] == '<' && p + 1 < n &&
            (isLetter(s[p + 1]) || (s[p + 1] == '/' && p + 2 < n && isLetter(s[p + 2])))) {
            while (p < n && !isSpace(s[p]) && s[p] != '>')
                ++p;
            QByteArray name, value;
            while (nextAttribute(s, p, name, value)) {
            }
            ++p;
            continue;
        }
        if (s[p] == '<' && p + 1 < n && (s[p + 1] == '!' || s[p + 1] == '/' || s[p + 1] == '?')) {
            const qsizetype end = s.indexOf('>', p + 2);
            if (end < 0) return {};
            p = end + 1;
            continue;
        }
        ++p;
    }
    return {};
}

QString decodeAs(const QByteArray& all, const QByteArray& encoding) {
    QByteArray bytes = all;
    if (encoding == "utf-8" || encoding.isEmpty()) {
        if (bytes.startsWith("\xEF\xBB\xBF")) bytes = bytes.mid(3);
        return QStringDecoder(QStringDecoder::Utf8).decode(bytes);
    }
    if (encoding == "utf-16le" || encoding == "utf-16be") {
        const bool le = encoding == "utf-16le";
        if (bytes.startsWith(le ? "\xFF\xFE" : "\xFE\xFF")) bytes = bytes.mid(2);
        return QStringDecoder(le ? QStringDecoder::Utf16LE : QStringDecoder::Utf16BE).decode(bytes);
    }
    const Encoding* e = encodingNamed(encoding);
    QString text;
    if (e && decodeCharset(bytes, e->iconvName, text)) return text;
    return QString::fromLatin1(bytes);
}

DecodedPage decodePage(const QByteArray& body, const QByteArray& contentType) {
    DecodedPage page;
    if (body.startsWith("\xEF\xBB\xBF")) {
        page.encoding = "utf-8";
        page.source = CharsetSource::Bom;
    } else if (body.startsWith("\xFE\xFF")) {
        page.encoding = "utf-16be";
        page.source = CharsetSource::Bom;
    } else if (body.startsWith("\xFF\xFE")) {
        page.encoding = "utf-16le";
        page.source = CharsetSource::Bom;
    } else if (const QByteArray declared = encodingOfContentType(contentType); !declared.isEmpty()) {
        page.encoding = declared;
        page.source = CharsetSource::Header;
    } else if (const QByteArray meta = prescanEncoding(body); !meta.isEmpty()) {
        page.encoding = meta;
        page.source = CharsetSource::Meta;
    }
    if (!page.encoding.isEmpty()) {
        page.text = decodeAs(body, page.encoding);
        return page;
    }
    QStringDecoder utf8(QStringDecoder::Utf8);
    page.text = utf8.decode(body);
    if (!utf8.hasError()) {
        page.encoding = "utf-8";
        return page;
    }
    page.encoding = "windows-1251";
    page.text = decodeAs(body, page.encoding);
    return page;
}

QString decodeReply(const QByteArray& body, const QByteArray& contentType) {
    return decodePage(body, contentType).text;
}

const char* charsetSourceName(CharsetSource source) {
    switch (source) {
    case CharsetSource::Bom:
        return "BOM";
    case CharsetSource::Header:
        return "header";
    case CharsetSource::Meta:
        return "meta";
    case CharsetSource::Fallback:
        break;
    }
    return "fallback";
}

} // namespace zentaro::web
