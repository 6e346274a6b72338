// Text files in Windows-1251, UTF-8 or UTF-16: reading, writing, and the size cap.
#include "util/text_file.h"

#include <iconv.h>

#include <algorithm>
#include <iterator>

#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QStringDecoder>

namespace zentaro {

namespace {

// Windows-1251 both ways by table, built once from the C library's converter: the table files run to tens of
// megabytes, and a converter call per line or per file costs more than the rest of their reading.
struct Cp1251 {
    static constexpr char kNone = 0; // no byte of the code page for this character
    char16_t toUnicode[256];
    char fromUnicode[0x10000];
    Cp1251() {
        std::fill(std::begin(fromUnicode), std::end(fromUnicode), kNone);
        std::fill(std::begin(toUnicode), std::end(toUnicode), u'?');
        iconv_t cd = iconv_open("UTF-16LE", "CP1251");
        for (int b = 0; b < 256 && cd != iconv_t(-1); ++b) {
            char in = char(b);
            unsigned char out[4] = {};
            char* src = &in;
            char* dst = reinterpret_cast<char*>(out);
            size_t srcLeft = 1, dstLeft = sizeof out;
            iconv(cd, nullptr, nullptr, nullptr, nullptr);
            if (iconv(cd, &src, &srcLeft, &dst, &dstLeft) != size_t(-1) && dstLeft == 2)
                toUnicode[b] = char16_t(out[0] | (out[1] << 8));
        }
        if (cd != iconv_t(-1)) iconv_close(cd);
        for (int b = 255; b > 0; --b)
            if (toUnicode[b] != u'?' || b == '?') fromUnicode[toUnicode[b]] = char(b);
        toUnicode[0] = u'\0';
    }
    bool fits(char16_t c) const { return c == 0 || fromUnicode[c] != kNone; }
};

const Cp1251& cp1251() {
    static const Cp1251 table;
    return table;
}

// Valid UTF-8 with at least one sequence beyond ASCII: text in Windows-1251 almost never is.
bool looksUtf8(const QByteArray& bytes) {
    bool beyondAscii = false;
    const auto* p = reinterpret_cast<const unsigned char*>(bytes.constData());
    const auto* end = p + bytes.size();
    while (p < end) {
        if (*p < 0x80) {
            ++p;
            continue;
        }
        int more = 0;
        unsigned min = 0;
        unsigned cp = 0;
        if ((*p & 0xE0) == 0xC0) {
            more = 1, min = 0x80, cp = *p & 0x1F;
        } else if ((*p & 0xF0) == 0xE0) {
            more = 2, min = 0x800, cp = *p & 0x0F;
        } else if ((*p & 0xF8) == 0xF0) {
            more = 3, min = 0x10000, cp = *p & 0x07;
        } else {
            return false;
        }
        if (end - p <= more) return false;
        for (int i = 1; i <= more; ++i) {
            if ((p[i] & 0xC0) != 0x80) return false;
            cp = (cp << 6) | (p[i] & 0x3F);
        }
        if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return false;
        beyondAscii = true;
        p += more + 1;
    }
    return beyondAscii;
}

} // namespace

bool fitsCodePage(const QStringList& lines) {
    const Cp1251& cp = cp1251();
    for (const QString& line : lines)
        for (const QChar c : line)
            if (!cp.fits(c.unicode())) return false;
    return true;
}

QByteArray encodeLines(const QStringList& lines) {
    const Cp1251& cp = cp1251();
    qsizetype size = 0;
    for (const QString& line : lines)
        size += line.size() + 2;
    QByteArray out(size, Qt::Uninitialized);
    char* dst = out.data();
    // One pass in the code page; the first character it lacks starts the file again in UTF-8.
    for (const QString& line : lines) {
        for (const QChar c : line) {
            if (!cp.fits(c.unicode())) {
                QByteArray utf8("\xEF\xBB\xBF");
                for (const QString& l : lines)
                    utf8 += l.toUtf8() + "\r\n";
                return utf8;
            }
            *dst++ = cp.fromUnicode[c.unicode()];
        }
        *dst++ = '\r';
        *dst++ = '\n';
    }
    return out;
}

bool writeTextFile(const QString& path, const QStringList& lines, QString* error, qint64 maxBytes) {
    const QByteArray bytes = encodeLines(lines);
    if (bytes.size() > maxBytes) {
        if (error) *error = QStringLiteral("файл больше %1 МБ, такой файл не прочитать").arg(maxBytes >> 20);
        return false;
    }
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly)) {
        if (error) *error = file.errorString();
        return false;
    }
    if (file.write(bytes) != bytes.size() || !file.commit()) {
        if (error) *error = file.errorString();
        return false;
    }
    return true;
}

QStringList decodeLines(const QByteArray& bytes, Unmarked unmarked) {
    QString text;
    if (bytes.startsWith("\xEF\xBB\xBF")) {
        text = QString::fromUtf8(bytes.mid(3));
    } else if (bytes.startsWith("\xFF\xFE") || bytes.startsWith("\xFE\xFF")) {
        QStringDecoder utf16(bytes.startsWith("\xFF\xFE") ? QStringDecoder::Utf16LE
                                                          : QStringDecoder::Utf16BE);
        text = utf16.decode(bytes.mid(2));
    } else if (unmarked == Unmarked::GuessUtf8 && looksUtf8(bytes)) {
        text = QString::fromUtf8(bytes);
    } else {
        const Cp1251& cp = cp1251();
        text.resize(bytes.size());
        char16_t* dst = reinterpret_cast<char16_t*>(text.data());
        for (const char b : bytes)
            *dst++ = cp.toUnicode[static_cast<unsigned char>(b)];
    }
    QStringList lines;
    qsizetype start = 0;
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (text[i] != u'\r' && text[i] != u'\n') continue;
        lines << text.mid(start, i - start);
        if (text[i] == u'\r' && i + 1 < text.size() && text[i + 1] == u'\n') ++i;
        start = i + 1;
    }
    if (start < text.size()) lines << text.mid(start);
    return lines;
}

std::optional<QStringList> readTextFile(const QString& path, QString* error, qint64 maxBytes,
                                        Unmarked unmarked) {
    if (!QFileInfo(path).isFile()) {
        if (error) *error = QStringLiteral("\"%1\" не является файлом").arg(path);
        return std::nullopt;
    }
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        if (error) *error = file.errorString();
        return std::nullopt;
    }
    // Read what the file holds, in pieces, never more than the cap: asking for the cap at once would take a
    // buffer of the cap's size for every file, however small.
    const auto tooLarge = [&] {
        if (error) *error = QStringLiteral("файл больше %1 МБ").arg(maxBytes >> 20);
        return std::nullopt;
    };
    if (file.size() > maxBytes) return tooLarge();
    QByteArray bytes;
    bytes.reserve(qsizetype(file.size()));
    for (;;) {
        const QByteArray piece = file.read(std::min<qint64>(qint64(1) << 20, maxBytes + 1 - bytes.size()));
        if (piece.isEmpty()) break;
        bytes += piece;
        if (bytes.size() > maxBytes) return tooLarge();
    }
    return decodeLines(bytes, unmarked);
}

} // namespace zentaro
