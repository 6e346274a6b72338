// What a presence check saw on a page, kept beside its outcome so that a verdict can be shown to a seller:
// the request's road, how the page was decoded, and each link as it was found (or what came nearest).
// Also the change events between two checks and the page snapshots kept where a verdict changed.
#pragma once

#include <optional>
#include <vector>

#include <QByteArray>
#include <QString>
#include <QStringList>

namespace zentaro::db {

// Where the page's character set came from.
enum class CharsetSource { Unknown = 0, Bom = 1, Header = 2, Meta = 3, Fallback = 4 };
QString charsetSourceText(CharsetSource s);

struct RedirectHop {
    int status = 0;
    QString target;
};

// One anchor record's finding on the page.
struct LinkSeen {
    QString needle; // the anchor's address as the user stored it
    bool found = false;
    QString tag;     // the start tag as written on the page (found)
    QString href;    // the address it resolves to (found)
    QStringList rel; // its rel words (found)
    QString text;    // its anchor text (found)
    // Missing: what came nearest (the project's host with another path, the address in a comment, …).
    QString nearest;
    // Missing: the address was seen only inside a comment.
    bool inComment = false;
};

struct Evidence {
    QString requested;
    std::vector<RedirectHop> hops;
    QString finalUrl;
    int status = 0;
    QString contentType;
    QString charset;
    CharsetSource charsetSource = CharsetSource::Unknown;
    QString robotsHeader; // X-Robots-Tag
    QString robotsMeta;   // the robots meta tags' words
    bool noindex = false;
    qint64 size = -1;
    QByteArray sha256; // hex
    std::vector<LinkSeen> links;

    bool empty() const { return requested.isEmpty() && finalUrl.isEmpty() && links.empty(); }
    const LinkSeen* link(const QString& needle) const;
};

// Evidence as stored: compact JSON of at most maxBytes (long texts shortened, later links dropped first).
QByteArray encodeEvidence(const Evidence& e, int maxBytes = 2048);
// No value for a damaged or foreign row.
std::optional<Evidence> decodeEvidence(const QByteArray& data);

// What changed between the last check that found the links and this one, in the user's words. agreedText is
// the anchor text agreed with the seller (tbAncor.Ancor), compared with the text found when not empty.
QStringList changeEvents(const Evidence& lastFound, const Evidence& now, const QString& agreedText = {});

// A page's decoded text as kept where a verdict changed: compressed, at most kMaxSnapshot bytes (the text
// is cut at the end until it fits).
constexpr int kMaxSnapshot = 256 * 1024;
QByteArray packSnapshot(const QString& pageText);
// No value for a damaged snapshot.
std::optional<QString> unpackSnapshot(const QByteArray& packed);
// The page as a file to open in a browser: scripts, event handlers and active frames taken out.
QString inertPage(const QString& pageText);

} // namespace zentaro::db
