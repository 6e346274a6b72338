// Address forms the checks compare and send, the element scan of service answers, query encoding.
#pragma once

#include <vector>

#include <QByteArray>
#include <QString>
#include <QStringList>

namespace zentaro::web {

// The address without scheme, "www." after a scheme and one trailing slash, lower-cased.
QString PrepareURL(const QString& SURL);
// The site part of an address: PrepareURL up to the first "#", "/", "?" or blank.
QString ExtractDomain(const QString& SURL);
// The address a check fetches for a stored one: blanks trimmed at both ends, the scheme and the host
// lower-cased; the path and the query stay as stored (a server may tell their letter case apart).
QString fetchAddress(const QString& stored);

enum class ElementKind { Anchor, ResultTitle };
// One element found by the scan: "<" followed by the page's characters from start up to end (exclusive).
// Elements share the page's text, so a hostile page cannot make the scan's output grow beyond its size.
struct ElementRange {
    qsizetype start;
    qsizetype end;
};
std::vector<ElementRange> extractElementRanges(const QString& text, ElementKind kind);
QString elementText(const QString& text, const ElementRange& r);
// The elements of a kind cut out of a page, in the order the element scan finds them (nested and unclosed
// anchors included). Runs in time linear in the page and the elements returned.
QStringList ExtractElements(const QString& text, ElementKind kind);

// Query encoding of 8-bit text: unreserved characters pass, the blank becomes "+", other bytes "%XX".
QByteArray HTTPEncode(const QByteArray& ansi);
// The text in the 8-bit code page used for queries (Windows-1251); characters it cannot hold become "?".
QByteArray toAnsi(const QString& text);
// Decodes bytes of a named character set (as an HTTP reply or a page declares it); false when the set is
// unknown.
bool decodeCharset(const QByteArray& bytes, const QByteArray& charset, QString& out);

} // namespace zentaro::web
