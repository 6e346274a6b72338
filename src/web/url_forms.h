#pragma once

#include <initializer_list>
#include <vector>

#include <QByteArray>
#include <QString>
#include <QStringList>

namespace zentaro::web {

// The address without scheme, "www." after a scheme and one trailing slash, lower-cased.
QString PrepareURL(const QString& SURL);
// The site part of an address: PrepareURL up to the first "#", "/", "?" or blank.
QString ExtractDomain(const QString& SURL);

enum class ElementKind { Anchor, ResultTitle };
// One element found by the scan: "<" followed by the page's characters from start up to end (exclusive).
// Elements share the page's text, so a hostile page cannot make the scan's output grow beyond its size.
struct ElementRange {
    qsizetype start;
    qsizetype end;
};
std::vector<ElementRange> ExtractElementRanges(const QString& text, ElementKind kind);
QString elementText(const QString& text, const ElementRange& r);
// The elements of a kind cut out of a page, in the order the element scan finds them (nested and unclosed
// anchors included). Runs in time linear in the page and the elements returned.
QStringList ExtractElements(const QString& text, ElementKind kind);

// Every place a text occurs in a page, found once, to answer "does the text stand within this part of the
// page" for many parts in logarithmic time each.
class Occurrences {
public:
    Occurrences(const QString& text, const QString& needle);
    // The first occurrence that starts at or after from and ends at or before to; -1 when none.
    qsizetype firstWithin(qsizetype from, qsizetype to) const;
    bool within(qsizetype from, qsizetype to) const { return firstWithin(from, to) >= 0; }

private:
    std::vector<qsizetype> m_at;
    qsizetype m_size;
};

// Answers "does this text stand whole inside one of the elements" for many texts on one page: the parts of
// the page the elements cover are searched, once per text, and each hit is tested against the elements.
class ElementText {
public:
    ElementText(const QString& page, const std::vector<ElementRange>& elements);
    bool contains(const QString& needle) const;

private:
    bool covered(qsizetype at, qsizetype len) const;

    const QString& m_page;
    const std::vector<ElementRange>& m_elements;
    std::vector<qsizetype> m_maxEnd; // the furthest end among the elements up to each one
    QString m_joined;                // the covered parts of the page, each followed by a NUL
    std::vector<std::pair<qsizetype, qsizetype>> m_spans; // (offset in m_joined, offset in the page)
};

// The same for one text.
bool occursInAnElement(const QString& page, const std::vector<ElementRange>& elements, const QString& needle);

// Which of the words (ASCII, at most 32) occur in the text: bit i for words[i]. One pass over the text,
// for the few words a check looks for on every page.
unsigned wordsIn(QStringView text, std::initializer_list<QStringView> words);

// The same text as QString::toLower, quicker for pages that are mostly ASCII: ASCII letters are lowered in
// place and only the runs of other characters go through the full case mapping.
QString lowerText(const QString& text);

// Query encoding of 8-bit text: unreserved characters pass, the blank becomes "+", other bytes "%XX".
QByteArray HTTPEncode(const QByteArray& ansi);
// The text in the 8-bit code page used for queries (Windows-1251); characters it cannot hold become "?".
QByteArray toAnsi(const QString& text);
// Decodes bytes of a named character set (as an HTTP reply or a page declares it); false when the set is
// unknown.
bool decodeCharset(const QByteArray& bytes, const QByteArray& charset, QString& out);

} // namespace zentaro::web
