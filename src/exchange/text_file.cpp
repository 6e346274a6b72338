#include "exchange/text_file.h"

#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QStringDecoder>

#include "web/url_forms.h"

namespace zentaro::exchange {

namespace {
constexpr qint64 kMaxBytes = 64LL * 1024 * 1024;
}

QByteArray encodeLines(const QStringList& lines) {
    QByteArray out;
    for (const QString& line : lines) {
        out += web::toAnsi(line);
        out += "\r\n";
    }
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
    } else if (!web::decodeCharset(bytes, "CP1251", text)) {
        text = QString::fromLatin1(bytes);
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
