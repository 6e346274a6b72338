#pragma once

#include <QByteArray>
#include <QString>

namespace zentaro::web {

// Decodes a reply body: the charset of the Content-Type header, else of the page's meta tag, else UTF-8 when
// the bytes are valid UTF-8 and Windows-1251 otherwise (the code page of Russian pages without a
// declaration).
QString decodeReply(const QByteArray& body, const QByteArray& contentType);

} // namespace zentaro::web
