#include "exchange/text_file.h"

#include <algorithm>
#include <iterator>

#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QStringDecoder>

#include "web/url_forms.h"

namespace zentaro::exchange {

namespace {
constexpr qint64 kMaxBytes = 64LL * 1024 * 1024;

// Windows-1251 both ways by table, built once from the system's converter: the table files run to tens of
// megabytes, and a converter call per line or per file costs more than the rest of their reading.
struct Cp1251 {
    char16_t toUnicode[256];
    char fromUnicode[0x10000];
    Cp1251() {
        std::fill(std::begin(fromUnicode), std::end(fromUnicode), '?');
        for (int b = 0; b < 256; ++b) {
            QString text;
            const bool ok = web::decodeCharset(QByteArray(1, char(b)), "CP1251", text);
            toUnicode[b] = ok && text.size() == 1 ? text[0].unicode() : u'?';
        }
        for (int b = 255; b >= 0; --b)
            if (toUnicode[b] != u'?' || b == '?') fromUnicode[toUnicode[b]] = char(b);
    }
};

const Cp1251& cp1251() {
    static const Cp1251 table;
    return table;
}

} // namespace

QByteArray encodeLines(const QStringList& lines) {
    const Cp1251& cp = cp1251();
    qsizetype size = 0;
    for (const QString& line : lines)
        size += line.size() + 2;
    QByteArray out(size, Qt::Uninitialized);
    char* dst = out.data();
    for (const QString& line : lines) {
        const char16_t* src = reinterpret_cast<const char16_t*>(line.constData());
        const char16_t* end = src + line.size();
        for (; src < end; ++src) {
            // A character outside the code page becomes one "?", a surrogate pair included.
            if (QChar::isHighSurrogate(*src) && src + 1 < end && QChar::isLowSurrogate(src[1])) {
                *dst++ = '?';
                ++src;
                continue;
            }
            *dst++ = cp.fromUnicode[*src];
        }
        *dst++ = '\r';
        *dst++ = '\n';
    }
    out.truncate(dst - out.constData());
    return out;
}

bool writeTextFile(const QString& path, const QStringList& lines, QString* error) {
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly)) {
        if (error) *error = file.errorString();
        return false;
    }
    const QByteArray bytes = encodeLines(lines);
    if (file.write(bytes) != bytes.size() || !file.commit()) {
        if (error) *error = file.errorString();
        return false;
    }
    return true;
}

QStringList decodeLines(const QByteArray& bytes) {
    QString text;
    if (bytes.startsWith("\xEF\xBB\xBF")) {
        text = QString::fromUtf8(bytes.mid(3));
    } else if (bytes.startsWith("\xFF\xFE") || bytes.startsWith("\xFE\xFF")) {
        QStringDecoder utf16(bytes.startsWith("\xFF\xFE") ? QStringDecoder::Utf16LE
                                                          : QStringDecoder::Utf16BE);
        text = utf16.decode(bytes.mid(2));
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

std::optional<QStringList> readTextFile(const QString& path, QString* error) {
    if (!QFileInfo(path).isFile()) {
        if (error) *error = QStringLiteral("\"%1\" не является файлом").arg(path);
        return std::nullopt;
    }
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        if (error) *error = file.errorString();
        return std::nullopt;
    }
    if (file.size() > kMaxBytes) {
        if (error) *error = QStringLiteral("файл больше 64 МБ");
        return std::nullopt;
    }
    return decodeLines(file.read(kMaxBytes));
}

} // namespace zentaro::exchange
