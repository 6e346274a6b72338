// Page decoding: the character set of a reply found as a browser finds it, and the page's text.
#pragma once

#include <QByteArray>
#include <QString>

namespace zentaro::web {

// Where the character set of a page came from.
enum class CharsetSource { Bom, Header, Meta, Fallback };

struct DecodedPage {
    QString text;
    QByteArray encoding; // the WHATWG name: "utf-8", "windows-1251", "koi8-r", ...
    CharsetSource source = CharsetSource::Fallback;
};

// The encoding an encoding label names, by the WHATWG label rules (blanks trimmed, letter case ignored);
// empty for a label that names none the program reads.
QByteArray encodingForLabel(const QByteArray& label);
// The charset a Content-Type value declares, as an encoding; empty when none or unknown.
QByteArray encodingOfContentType(const QByteArray& contentType);
// The charset of a <meta content="...; charset=..."> value, as its label; empty when none.
QByteArray charsetInMetaContent(const QByteArray& content);
// The encoding the first 1,024 bytes of a page declare in a <meta> tag, read as browsers pre-scan them
// (comments and other tags skipped, a meta with a utf-16 label meaning UTF-8); empty when none.
QByteArray prescanEncoding(const QByteArray& head);

// Decodes a page as a browser does: a byte order mark, else the charset of the Content-Type header, else a
// <meta> declaration within the first 1,024 bytes, else UTF-8 when the bytes are valid UTF-8 and
// Windows-1251 otherwise (the code page of Russian pages without a declaration).
DecodedPage decodePage(const QByteArray& body, const QByteArray& contentType);
QString decodeReply(const QByteArray& body, const QByteArray& contentType);
// The bytes in the given encoding (a name encodingForLabel gives); a byte order mark of that encoding is
// dropped, broken sequences become U+FFFD.
QString decodeAs(const QByteArray& bytes, const QByteArray& encoding);

const char* charsetSourceName(CharsetSource source);

} // namespace zentaro::web
