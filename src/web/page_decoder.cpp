#include "web/page_decoder.h"

#include <QRegularExpression>
#include <QStringDecoder>

#include "web/url_forms.h"

namespace zentaro::web {

namespace {

QByteArray charsetOf(const QByteArray& contentType) {
    static const QRegularExpression re(QStringLiteral("charset\\s*=\\s*[\"']?([A-Za-z0-9_\\-:.]+)"),
                                       QRegularExpression::CaseInsensitiveOption);
    const auto m = re.match(QString::fromLatin1(contentType));
    return m.hasMatch() ? m.captured(1).toLatin1() : QByteArray();
}

} // namespace

QString decodeReply(const QByteArray& body, const QByteArray& contentType) {
    QByteArray charset = charsetOf(contentType);
    if (charset.isEmpty()) {
        // <meta charset="..."> or <meta http-equiv="Content-Type" content="text/html; charset=...">
        const QByteArray head = body.left(4096);
        static const QRegularExpression meta(
            QStringLiteral("<meta[^>]*charset\\s*=\\s*[\"']?([A-Za-z0-9_\\-:.]+)"),
            QRegularExpression::CaseInsensitiveOption);
        const auto m = meta.match(QString::fromLatin1(head));
        if (m.hasMatch()) charset = m.captured(1).toLatin1();
    }
    QString text;
    if (!charset.isEmpty() && decodeCharset(body, charset, text)) return text;
    QStringDecoder utf8(QStringDecoder::Utf8);
    text = utf8.decode(body);
    if (!utf8.hasError()) return text;
    if (decodeCharset(body, "CP1251", text)) return text;
    return QString::fromLatin1(body);
}

} // namespace zentaro::web
