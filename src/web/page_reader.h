// Reading a fetched page: its links, robots rules and comment links, and the anchors matched against them.
#pragma once

#include <optional>
#include <vector>

#include <QByteArray>
#include <QHash>
#include <QString>
#include <QStringList>
#include <QUrl>

#include "web/page_decoder.h"
#include "web/page_fetcher.h"

namespace zentaro::web {

// A link on a page as a reader sees it: an <a href> or <area href> outside comments, scripts, styles and
// template contents, its address resolved against the page's final address and <base href>.
struct PageLink {
    QString href;    // the attribute's value, references decoded (at most 2,048 characters)
    QString address; // resolved against the page and its base
    QString scheme;  // of the resolved address, lower-case
    QString key;     // linkKey of a web link
    QString site;    // siteOfHost of a web link
    QStringList rel;
    QString text; // the link's text, blanks collapsed (at most 200 characters)
    QString tag;  // the start tag as written (at most 512 characters)
    bool area = false;
    bool isWeb = false; // http or https, with a host
    bool web() const { return isWeb; }
    QUrl url() const { return QUrl(address); }
    bool notFollowed() const; // rel nofollow, sponsored or ugc
};

// What a page holds for the checks.
struct PageScan {
    std::vector<PageLink> links;                        // at most kMaxLinks
    int linkElements = 0;                               // visible <a> and <area> tags, with or without href
    bool truncated = false;                             // more links than kept
    bool robotsNoindex = false, robotsNofollow = false; // robots, yandex or googlebot meta tags
    QString finalUrl;
    QByteArray encoding;
    CharsetSource charsetSource = CharsetSource::Fallback;
    // Link addresses written inside comments (at most kMaxCommentLinks), to say why a link is missing.
    QStringList commentHrefs;
    static constexpr int kMaxLinks = 100000;
    static constexpr int kMaxCommentLinks = 32;
    // About the memory the scan holds.
    qint64 bytes() const;
};

// Reads a decoded page whose final address is given.
PageScan readPage(const QString& text, const QString& finalUrl);

// What one request of a check brought: whether it was made, the page, or why it failed. A run that fetches
// ahead scans the page where it was fetched (scan set, body then empty) as soon as it came, on the window's
// thread.
struct FetchedPage {
    bool requested = false;
    std::optional<QString> body;
    QString error;
    FetchInfo info;
    QByteArray encoding;
    CharsetSource charsetSource = CharsetSource::Fallback;
    // The reply's bytes, kept only while its character set is a guess (the fallback), so that a later
    // <meta> can decode it again.
    QByteArray tentativeBytes;
    std::optional<PageScan> scan;
    // The reply's size and SHA-256 (hex), for the evidence of the verdict.
    qint64 size = -1;
    QByteArray sha256;
    // Set before the scan when the page's text is wanted afterwards (a snapshot where a verdict may change):
    // the scan then keeps it in snapshotText.
    bool keepText = false;
    QString snapshotText;
};
// Fills a fetched page's text from the reply's bytes and declared type.
void setPageBody(FetchedPage& page, const QByteArray& bytes, const QByteArray& contentType);
// Scans a fetched body in place; the body's text is then dropped.
void scanFetchedPage(FetchedPage& page);
// The scan of a fetched page: the one made where it was fetched, else made now. A page whose character set
// was a guess is decoded again, once, by a <meta> charset it declares beyond the first 1,024 bytes, as a
// browser does.
PageScan pageScanOf(const FetchedPage& page);
// The same without a copy: the page's own scan where it was scanned, else one made now into `made`.
const PageScan& pageScanOf(const FetchedPage& page, std::optional<PageScan>& made);

// The page-wide words of robots rules: noindex and nofollow ("none" is both).
struct RobotsWords {
    bool noindex = false;
    bool nofollow = false;
};
// The words of a robots meta content.
RobotsWords robotsContentWords(QStringView content);
// The words of an X-Robots-Tag header that apply to every robot, Yandex or Google (a rule naming another
// robot does not count).
RobotsWords robotsHeaderWords(const QByteArray& header);

// A stored anchor address as the presence check compares it; invalid when it can never match a web link.
struct AnchorAddress {
    bool valid = false;
    QString scheme; // empty: any scheme
    QString rest;   // lower-case host[:port]/path?query#fragment, decoded, without its trailing "/"
};
AnchorAddress anchorAddress(const QString& stored);
// The comparison form of a web link: lower-case host (IDN in ASCII form), port when not the default, the
// decoded path (at least "/"), query and fragment.
QString linkKey(const QUrl& url);
// The link is the anchor's address: same scheme unless the anchor has none, and the anchor's address a
// prefix of the link's ending at its end, "/", "?" or "#". A scheme-less anchor without "www." also
// matches the link's host with "www.".
bool linkMatches(const PageLink& link, const AnchorAddress& anchor);

// One anchor on a page: found, found only on links not followed (or on a page not followed as a whole),
// and whether a link passes it through another address's query (a redirect-through link, not the link).
struct AnchorPresence {
    bool found = false;
    bool nofollow = false;
    bool throughRedirect = false;
    int link = -1; // the page's link that is the anchor (a followed one when there is one)
};
AnchorPresence anchorPresence(const PageScan& scan, const QString& storedAnchor,
                              const QByteArray& robotsHeader);
// The same for many anchors of one page: the links indexed once by host.
class LinkIndex {
public:
    explicit LinkIndex(const PageScan& scan);
    AnchorPresence presence(const QString& storedAnchor, const QByteArray& robotsHeader) const;

private:
    const PageScan& m_scan;
    QHash<QString, std::vector<int>> m_byHost;
};

// The site part of a host as the external count compares it: lower-case, ASCII form, without "www.".
QString siteOfHost(const QString& host);
// Links to another site than the page's final address (rel nofollow not counted).
int countExternalLinks(const PageScan& scan);

} // namespace zentaro::web
