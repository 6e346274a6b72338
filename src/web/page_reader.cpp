// Reading a fetched page: its links, robots rules and comment links, and the anchors matched against them.
#include "web/page_reader.h"

#include <openssl/evp.h>

#include <QRegularExpression>

#include "web/html_tokenizer.h"

namespace zentaro::web {

namespace {

constexpr qsizetype kMaxHref = 2048;
constexpr qsizetype kMaxText = 200;
constexpr qsizetype kMaxTag = 512;

bool isBlank(QChar c) {
    return c.unicode() <= 0x20;
}

// The words of a rel value, lower-case (split on ASCII blanks, as the attribute's tokens are).
QStringList relWords(const QString& value) {
    QStringList out;
    const qsizetype n = value.size();
    qsizetype i = 0;
    while (i < n) {
        while (i < n && (value[i] == u' ' || value[i] == u'\t' || value[i] == u'\n' || value[i] == u'\f' ||
                         value[i] == u'\r'))
            ++i;
        const qsizetype from = i;
        while (i < n && !(value[i] == u' ' || value[i] == u'\t' || value[i] == u'\n' || value[i] == u'\f' ||
                          value[i] == u'\r'))
            ++i;
        if (i > from) out << value.mid(from, i - from).toLower();
    }
    return out;
}

// The tags after which a tree builder leaves foreign (SVG, MathML) content.
bool breaksOutOfForeignContent(const QString& name) {
    static const QStringList names = {
        QStringLiteral("b"),       QStringLiteral("big"),  QStringLiteral("blockquote"),
        QStringLiteral("body"),    QStringLiteral("br"),   QStringLiteral("center"),
        QStringLiteral("code"),    QStringLiteral("dd"),   QStringLiteral("div"),
        QStringLiteral("dl"),      QStringLiteral("dt"),   QStringLiteral("em"),
        QStringLiteral("embed"),   QStringLiteral("h1"),   QStringLiteral("h2"),
        QStringLiteral("h3"),      QStringLiteral("h4"),   QStringLiteral("h5"),
        QStringLiteral("h6"),      QStringLiteral("head"), QStringLiteral("hr"),
        QStringLiteral("i"),       QStringLiteral("img"),  QStringLiteral("li"),
        QStringLiteral("listing"), QStringLiteral("menu"), QStringLiteral("meta"),
        QStringLiteral("nobr"),    QStringLiteral("ol"),   QStringLiteral("p"),
        QStringLiteral("pre"),     QStringLiteral("ruby"), QStringLiteral("s"),
        QStringLiteral("small"),   QStringLiteral("span"), QStringLiteral("strong"),
        QStringLiteral("strike"),  QStringLiteral("sub"),  QStringLiteral("sup"),
        QStringLiteral("table"),   QStringLiteral("tt"),   QStringLiteral("u"),
        QStringLiteral("ul"),      QStringLiteral("var")};
    return names.contains(name);
}

// Collects what the checks read while the tokenizer runs, and switches the tokenizer's content model after
// the tags that have one, as a tree builder does.
class ReaderSink : public HtmlSink {
public:
    ReaderSink(const QString& input, PageScan& scan) : m_input(input), m_scan(scan) {}
    HtmlTokenizer* tokenizer = nullptr;
    QString baseHref;
    bool hasBase = false;
    QByteArray metaEncoding;

    bool wantAttributes(const QString& name, bool end) override {
        return !end && (name == QLatin1String("a") || name == QLatin1String("area") ||
                        name == QLatin1String("base") || name == QLatin1String("meta"));
    }

    void tag(const HtmlTag& t) override {
        const QString& name = t.name;
        if (t.end) {
            if (name == QLatin1String("a"))
                closeLink();
            else if (name == QLatin1String("template") && m_template > 0)
                --m_template;
            else if (m_foreign > 0 && (name == QLatin1String("svg") || name == QLatin1String("math")))
                --m_foreign;
            tokenizer->setCdataAllowed(m_foreign > 0);
            return;
        }
        if (m_foreign > 0 && breaksOutOfForeignContent(name)) m_foreign = 0;
        if (m_foreign == 0) switchContent(t);
        if ((name == QLatin1String("svg") || name == QLatin1String("math")) && !t.selfClosing) ++m_foreign;
        tokenizer->setCdataAllowed(m_foreign > 0);
        if (name == QLatin1String("template")) {
            ++m_template;
            return;
        }
        if (m_template > 0) return;
        if (name == QLatin1String("a") || name == QLatin1String("area")) {
            if (name == QLatin1String("a")) closeLink();
            ++m_scan.linkElements;
            const HtmlAttribute* href = t.attribute(u"href");
            if (!href) return;
            if (int(m_scan.links.size()) >= PageScan::kMaxLinks) {
                m_scan.truncated = true;
                return;
            }
            PageLink link;
            link.href = href->value.left(kMaxHref);
            link.area = name == QLatin1String("area");
            if (const HtmlAttribute* rel = t.attribute(u"rel")) link.rel = relWords(rel->value);
            link.tag = m_input.mid(t.start, std::min(t.end_ - t.start, kMaxTag));
            m_scan.links.push_back(std::move(link));
            if (name == QLatin1String("a") && !t.selfClosing) {
                m_open = qsizetype(m_scan.links.size()) - 1;
                tokenizer->setWantText(true);
            }
        } else if (name == QLatin1String("base")) {
            if (const HtmlAttribute* href = t.attribute(u"href"); href && !hasBase) {
                hasBase = true;
                baseHref = href->value.left(kMaxHref);
            }
        } else if (name == QLatin1String("meta")) {
            readMeta(t);
        }
    }

    void text(QStringView piece) override {
        if (m_open < 0) return;
        QString& text = m_scan.links[size_t(m_open)].text;
        for (const QChar c : piece) {
            if (text.size() >= kMaxText) return;
            if (isBlank(c)) {
                if (!text.isEmpty() && !text.endsWith(u' ')) text += u' ';
            } else {
                text += c;
            }
        }
    }

    void comment(QStringView text) override {
        if (m_scan.commentHrefs.size() >= PageScan::kMaxCommentLinks ||
            !text.contains(u"href", Qt::CaseInsensitive))
            return;
        // A link commented out is read as the page would show it if the comment went.
        struct Hrefs : HtmlSink {
            QStringList& out;
            explicit Hrefs(QStringList& o) : out(o) {}
            bool wantAttributes(const QString& name, bool end) override {
                return !end && (name == QLatin1String("a") || name == QLatin1String("area"));
            }
            void tag(const HtmlTag& t) override {
                if (const HtmlAttribute* h = t.attribute(u"href");
                    h && !t.end && out.size() < PageScan::kMaxCommentLinks)
                    out << h->value.left(kMaxHref);
            }
        } hrefs(m_scan.commentHrefs);
        HtmlTokenizer inner(text, hrefs);
        inner.setWantText(false);
        inner.run();
    }

    void closeLink() {
        if (m_open >= 0) {
            QString& text = m_scan.links[size_t(m_open)].text;
            if (text.endsWith(u' ')) text.chop(1);
        }
        m_open = -1;
        tokenizer->setWantText(false);
    }

private:
    void switchContent(const HtmlTag& t) {
        using S = HtmlTokenizer::State;
        const QString& n = t.name;
        if (n == QLatin1String("script"))
            tokenizer->setState(S::ScriptData);
        else if (n == QLatin1String("style") || n == QLatin1String("xmp") || n == QLatin1String("iframe") ||
                 n == QLatin1String("noembed") || n == QLatin1String("noframes"))
            tokenizer->setState(S::RawText);
        else if (n == QLatin1String("title") || n == QLatin1String("textarea"))
            tokenizer->setState(S::RcData);
        else if (n == QLatin1String("plaintext"))
            tokenizer->setState(S::PlainText);
    }

    void readMeta(const HtmlTag& t) {
        const HtmlAttribute* name = t.attribute(u"name");
        const HtmlAttribute* content = t.attribute(u"content");
        if (name && content) {
            const QString who = name->value.trimmed().toLower();
            if (who == QLatin1String("robots") || who == QLatin1String("yandex") ||
                who == QLatin1String("googlebot")) {
                const RobotsWords w = robotsContentWords(content->value);
                m_scan.robotsNoindex |= w.noindex;
                m_scan.robotsNofollow |= w.nofollow;
            }
        }
        if (!metaEncoding.isEmpty()) return;
        if (const HtmlAttribute* charset = t.attribute(u"charset")) {
            metaEncoding = encodingForLabel(charset->value.toLatin1());
        } else if (const HtmlAttribute* equiv = t.attribute(u"http-equiv");
                   equiv && content && equiv->value.compare(u"content-type", Qt::CaseInsensitive) == 0) {
            const QByteArray label = charsetInMetaContent(content->value.toLatin1());
            if (!label.isEmpty()) metaEncoding = encodingForLabel(label);
        }
        if (metaEncoding == "utf-16le" || metaEncoding == "utf-16be") metaEncoding = "utf-8";
    }

    const QString& m_input;
    PageScan& m_scan;
    qsizetype m_open = -1;
    int m_template = 0;
    int m_foreign = 0;
};

// An href as the URL parser takes it: leading and trailing C0 controls and blanks dropped, tabs and line
// breaks removed, backslashes read as slashes.
QString cleanHref(const QString& href) {
    if (!href.isEmpty() && !isBlank(href.front()) && !isBlank(href.back()) &&
        std::none_of(href.begin(), href.end(),
                     [](QChar c) { return c == u'\t' || c == u'\n' || c == u'\r' || c == u'\\'; }))
        return href;
    qsizetype from = 0, to = href.size();
    while (from < to && isBlank(href[from]))
        ++from;
    while (to > from && isBlank(href[to - 1]))
        --to;
    QString out;
    out.reserve(to - from);
    for (qsizetype i = from; i < to; ++i) {
        const QChar c = href[i];
        if (c == u'\t' || c == u'\n' || c == u'\r') continue;
        out += c == u'\\' ? QChar(u'/') : c;
    }
    return out;
}

QUrl resolve(const QUrl& base, const QString& href) {
    const QUrl relative(cleanHref(href), QUrl::TolerantMode);
    if (!relative.isValid()) return {};
    return base.isValid() && !base.isEmpty() ? base.resolved(relative) : relative;
}

bool isWebScheme(const QString& scheme) {
    return scheme.compare(u"http", Qt::CaseInsensitive) == 0 ||
           scheme.compare(u"https", Qt::CaseInsensitive) == 0;
}

// A host in its ASCII (IDN) form, lower-case.
QString aceOf(const QString& host) {
    bool ascii = true;
    for (const QChar ch : host)
        ascii &= ch.unicode() < 0x80;
    QString ace = ascii ? host : QString::fromLatin1(QUrl::toAce(host));
    if (ace.isEmpty()) ace = host;
    return ace.toLower();
}

QString aceHost(const QUrl& url) {
    return aceOf(url.host());
}

QString siteOfAce(QString site) {
    if (site.endsWith(u'.')) site.chop(1);
    if (site.startsWith(u"www.")) site.remove(0, 4);
    return site;
}

QString keyOf(const QUrl& url, const QString& host) {
    QString key = host;
    const QString scheme = url.scheme().toLower();
    const int port = url.port();
    if (port >= 0 && !(scheme == u"http" && port == 80) && !(scheme == u"https" && port == 443))
        key += u':' + QString::number(port);
    const QString path = url.path(QUrl::FullyDecoded);
    key += path.isEmpty() ? QStringLiteral("/") : path;
    if (url.hasQuery()) key += u'?' + url.query(QUrl::FullyDecoded);
    if (url.hasFragment()) key += u'#' + url.fragment(QUrl::FullyDecoded);
    return key.toLower();
}

// The address of a link written plainly (ASCII, nothing encoded, no dot segments, no user or port), absolute
// or from the root, worked out without the URL parser: what it would give, many times quicker.
bool quickLink(PageLink& link, const QString& href, bool webBase, const QString& baseScheme,
               const QString& baseOrigin, const QString& baseKeyHost, const QString& baseHost) {
    const qsizetype n = href.size();
    if (n == 0 || n > 1024) return false;
    for (const QChar ch : href) {
        const char16_t u = ch.unicode();
        if (u <= 0x20 || u >= 0x7F || u == u'%' || u == u'@' || u == u'[' || u == u'\\' || u == u'"' ||
            u == u'<' || u == u'>' || u == u'`' || u == u'{' || u == u'}' || u == u'|' || u == u'^')
            return false;
    }
    auto dotSegments = [](QStringView path) {
        return path.contains(u"/./") || path.contains(u"/../") || path.endsWith(u"/.") ||
               path.endsWith(u"/..");
    };
    if (href.front() == u'/' && (n == 1 || href[1] != u'/')) {
        if (!webBase) return false;
        const qsizetype end = href.indexOf(u'#') >= 0 ? href.indexOf(u'#') : n;
        const qsizetype q = href.indexOf(u'?');
        if (dotSegments(QStringView(href).left(q >= 0 && q < end ? q : end))) return false;
        link.address = baseOrigin + href;
        link.scheme = baseScheme;
        link.isWeb = true;
        link.key = (baseKeyHost + href).toLower();
        link.site = siteOfAce(baseHost);
        return true;
    }
    qsizetype from = 0;
    QString scheme;
    if (href.startsWith(u"http://", Qt::CaseInsensitive)) {
        from = 7;
        scheme = QStringLiteral("http");
    } else if (href.startsWith(u"https://", Qt::CaseInsensitive)) {
        from = 8;
        scheme = QStringLiteral("https");
    } else {
        return false;
    }
    qsizetype hostEnd = from;
    while (hostEnd < n && href[hostEnd] != u'/' && href[hostEnd] != u'?' && href[hostEnd] != u'#') {
        const QChar ch = href[hostEnd];
        if (!(ch.isLetterOrNumber() || ch == u'.' || ch == u'-')) return false;
        ++hostEnd;
    }
    if (hostEnd == from) return false;
    const QString rest = href.mid(hostEnd);
    const qsizetype q = rest.indexOf(u'?'), h = rest.indexOf(u'#');
    const qsizetype pathEnd = q >= 0 && (h < 0 || q < h) ? q : (h >= 0 ? h : rest.size());
    if (dotSegments(QStringView(rest).left(pathEnd))) return false;
    const QString host = href.mid(from, hostEnd - from).toLower();
    link.scheme = scheme;
    link.isWeb = true;
    link.address =
        scheme + QStringLiteral("://") + host + (pathEnd == 0 ? QStringLiteral("/") : QString()) + rest;
    link.key = host + (pathEnd == 0 ? QStringLiteral("/") : QString()) + rest.toLower();
    link.site = siteOfAce(host);
    return true;
}

void scanInto(PageScan& scan, const QString& rawText, QByteArray* metaEncoding) {
    const QString text = normalizeNewlines(rawText);
    ReaderSink sink(text, scan);
    HtmlTokenizer tokenizer(text, sink);
    tokenizer.setWantText(false);
    sink.tokenizer = &tokenizer;
    tokenizer.run();
    sink.closeLink();
    const QUrl page(scan.finalUrl);
    QUrl base = page;
    if (sink.hasBase) {
        const QUrl b = resolve(page, sink.baseHref);
        if (b.isValid() && isWebScheme(b.scheme())) base = b;
    }
    // The base's origin, for the quick road of addresses from the root ("/path").
    const bool webBase = isWebScheme(base.scheme()) && !base.host().isEmpty() && base.userInfo().isEmpty();
    const QString baseHost = webBase ? aceHost(base) : QString();
    const QString baseScheme = base.scheme().toLower();
    const QString baseKeyHost =
        webBase ? keyOf(QUrl(baseScheme + QStringLiteral("://") + base.authority()), baseHost).chopped(1)
                : QString();
    const QString baseOrigin =
        webBase ? baseScheme + QStringLiteral("://") + base.authority(QUrl::FullyEncoded) : QString();
    for (PageLink& link : scan.links) {
        const QString href = cleanHref(link.href);
        if (quickLink(link, href, webBase, baseScheme, baseOrigin, baseKeyHost, baseHost)) continue;
        const QUrl url = resolve(base, href);
        link.address = url.toString(QUrl::FullyEncoded);
        link.scheme = url.scheme().toLower();
        link.isWeb = isWebScheme(link.scheme) && !url.host().isEmpty();
        if (!link.isWeb) continue;
        const QString host = aceHost(url);
        link.key = keyOf(url, host);
        link.site = siteOfAce(host);
    }
    if (metaEncoding) *metaEncoding = sink.metaEncoding;
}

PageScan readScan(const QString& text, const QString& finalUrl, const QByteArray& encoding,
                  CharsetSource source, const QByteArray& tentativeBytes) {
    PageScan scan;
    scan.finalUrl = finalUrl;
    scan.encoding = encoding;
    scan.charsetSource = source;
    QByteArray meta;
    scanInto(scan, text, &meta);
    // A guessed character set gives way, once, to one the page declares further down.
    if (source != CharsetSource::Fallback || tentativeBytes.isEmpty() || meta.isEmpty() || meta == encoding)
        return scan;
    PageScan again;
    again.finalUrl = finalUrl;
    again.encoding = meta;
    again.charsetSource = CharsetSource::Meta;
    scanInto(again, decodeAs(tentativeBytes, meta), nullptr);
    return again;
}

} // namespace

qint64 PageScan::bytes() const {
    qint64 n = qint64(sizeof(PageScan)) + finalUrl.size() * 2;
    for (const PageLink& l : links)
        n += qint64(sizeof(PageLink)) +
             2 * (l.href.size() + l.key.size() + l.site.size() + l.text.size() + l.tag.size()) +
             l.href.size() * 2 + 64 * l.rel.size() + 128;
    return n;
}

bool PageLink::notFollowed() const {
    return rel.contains(u"nofollow") || rel.contains(u"sponsored") || rel.contains(u"ugc");
}

PageScan readPage(const QString& text, const QString& finalUrl) {
    return readScan(text, finalUrl, QByteArray(), CharsetSource::Fallback, QByteArray());
}

void setPageBody(FetchedPage& page, const QByteArray& bytes, const QByteArray& contentType) {
    DecodedPage decoded = decodePage(bytes, contentType);
    page.encoding = decoded.encoding;
    page.charsetSource = decoded.source;
    // Kept only where a later declaration could change the reading.
    if (decoded.source == CharsetSource::Fallback &&
        decoded.text.indexOf(u"charset", 0, Qt::CaseInsensitive) >= 0)
        page.tentativeBytes = bytes;
    page.body = std::move(decoded.text);
    page.size = bytes.size();
    // OpenSSL's digest uses the processor's SHA instructions where there are some: several times faster
    // than a portable one on every page of a run. The algorithm is looked up once, not for every page.
    static const EVP_MD* const sha256 = [] {
        const EVP_MD* md = EVP_MD_fetch(nullptr, "SHA256", nullptr);
        return md ? md : EVP_sha256();
    }();
    unsigned char md[EVP_MAX_MD_SIZE];
    unsigned int len = 0;
    if (sha256 && EVP_Digest(bytes.constData(), size_t(bytes.size()), md, &len, sha256, nullptr) == 1)
        page.sha256 = QByteArray(reinterpret_cast<const char*>(md), int(len)).toHex();
}

void scanFetchedPage(FetchedPage& page) {
    if (!page.body || page.scan) return;
    page.scan = pageScanOf(page);
    if (page.keepText) page.snapshotText = *page.body;
    page.body = QString();
    page.tentativeBytes = QByteArray();
}

PageScan pageScanOf(const FetchedPage& page) {
    if (page.scan) return *page.scan;
    if (!page.body) return {};
    return readScan(*page.body, page.info.finalUrl, page.encoding, page.charsetSource, page.tentativeBytes);
}

const PageScan& pageScanOf(const FetchedPage& page, std::optional<PageScan>& made) {
    if (page.scan) return *page.scan;
    return made.emplace(pageScanOf(page));
}

RobotsWords robotsContentWords(QStringView content) {
    RobotsWords w;
    static const QRegularExpression split(QStringLiteral("[,\\s]+"));
    for (const QString& word : content.toString().toLower().split(split, Qt::SkipEmptyParts)) {
        if (word == u"noindex" || word == u"none") w.noindex = true;
        if (word == u"nofollow" || word == u"none") w.nofollow = true;
    }
    return w;
}

RobotsWords robotsHeaderWords(const QByteArray& header) {
    RobotsWords w;
    // Rules of their own that are written "name: value".
    static const QStringList valued = {QStringLiteral("unavailable_after"), QStringLiteral("max-snippet"),
                                       QStringLiteral("max-image-preview"),
                                       QStringLiteral("max-video-preview")};
    static const QStringList ours = {QStringLiteral("robots"), QStringLiteral("googlebot"),
                                     QStringLiteral("yandex"), QStringLiteral("yandexbot")};
    bool applies = true;
    for (const QString& part : QString::fromLatin1(header).toLower().split(u',')) {
        QString rule = part.trimmed();
        const qsizetype colon = rule.indexOf(u':');
        if (colon > 0) {
            const QString key = rule.left(colon).trimmed();
            if (valued.contains(key)) continue;
            applies = ours.contains(key);
            rule = rule.mid(colon + 1);
        }
        if (!applies) continue;
        const RobotsWords r = robotsContentWords(rule);
        w.noindex |= r.noindex;
        w.nofollow |= r.nofollow;
    }
    return w;
}

QString linkKey(const QUrl& url) {
    return keyOf(url, aceHost(url));
}

AnchorAddress anchorAddress(const QString& stored) {
    QString s = stored.trimmed();
    if (s.isEmpty()) return {};
    AnchorAddress a;
    const qsizetype sep = s.indexOf(QStringLiteral("://"));
    static const QRegularExpression schemeRe(QStringLiteral("^[A-Za-z][A-Za-z0-9+.-]*$"));
    if (sep > 0 && schemeRe.match(QStringView(s).left(sep)).hasMatch()) {
        a.scheme = s.left(sep).toLower();
        if (!isWebScheme(a.scheme)) return {};
    } else {
        while (s.startsWith(u'/'))
            s.remove(0, 1);
        s.prepend(QStringLiteral("http://"));
    }
    const QUrl url(cleanHref(s), QUrl::TolerantMode);
    if (!url.isValid() || url.host().isEmpty()) return {};
    a.rest = linkKey(url);
    if (a.rest.endsWith(u'/')) a.rest.chop(1);
    a.valid = !a.rest.isEmpty();
    return a;
}

namespace {

// The decoded, lower-case query of a web link (from its key).
QStringView linkQuery(const PageLink& link) {
    const qsizetype q = link.key.indexOf(u'?');
    if (q < 0) return {};
    const qsizetype h = link.key.indexOf(u'#', q);
    return QStringView(link.key).mid(q + 1, h < 0 ? -1 : h - q - 1);
}

} // namespace

bool linkMatches(const PageLink& link, const AnchorAddress& anchor) {
    if (!anchor.valid || link.key.isEmpty()) return false;
    if (!anchor.scheme.isEmpty() && link.scheme != anchor.scheme) return false;
    const auto atBoundary = [&](QStringView key) {
        if (!key.startsWith(anchor.rest)) return false;
        if (key.size() == anchor.rest.size()) return true;
        const QChar next = key[anchor.rest.size()];
        return next == u'/' || next == u'?' || next == u'#';
    };
    if (atBoundary(link.key)) return true;
    return anchor.scheme.isEmpty() && !anchor.rest.startsWith(u"www.") && link.key.startsWith(u"www.") &&
           atBoundary(QStringView(link.key).mid(4));
}

namespace {

// The host part of a key: up to its first "/", "?" or "#".
QStringView hostPart(const QString& key) {
    qsizetype i = 0;
    while (i < key.size() && key[i] != u'/' && key[i] != u'?' && key[i] != u'#')
        ++i;
    return QStringView(key).left(i);
}

} // namespace

LinkIndex::LinkIndex(const PageScan& scan) : m_scan(scan) {
    for (int i = 0; i < int(scan.links.size()); ++i)
        if (scan.links[size_t(i)].web())
            m_byHost[hostPart(scan.links[size_t(i)].key).toString()].push_back(i);
}

AnchorPresence LinkIndex::presence(const QString& storedAnchor, const QByteArray& robotsHeader) const {
    AnchorPresence p;
    const AnchorAddress anchor = anchorAddress(storedAnchor);
    if (!anchor.valid) return p;
    bool allNotFollowed = true;
    const QString host = hostPart(anchor.rest).toString();
    auto look = [&](const QString& h) {
        const auto it = m_byHost.constFind(h);
        if (it == m_byHost.cend()) return;
        for (const int i : *it) {
            const PageLink& link = m_scan.links[size_t(i)];
            if (!linkMatches(link, anchor)) continue;
            p.found = true;
            if (p.link < 0 || (!link.notFollowed() && m_scan.links[size_t(p.link)].notFollowed())) p.link = i;
            allNotFollowed &= link.notFollowed();
        }
    };
    look(host);
    if (anchor.scheme.isEmpty() && !host.startsWith(u"www.")) look(QStringLiteral("www.") + host);
    if (!p.found) {
        for (const PageLink& link : m_scan.links)
            if (link.web() && linkQuery(link).contains(anchor.rest)) {
                p.throughRedirect = true;
                break;
            }
    }
    const bool pageNofollow = m_scan.robotsNofollow || robotsHeaderWords(robotsHeader).nofollow;
    p.nofollow = p.found && (allNotFollowed || pageNofollow);
    return p;
}

AnchorPresence anchorPresence(const PageScan& scan, const QString& storedAnchor,
                              const QByteArray& robotsHeader) {
    return LinkIndex(scan).presence(storedAnchor, robotsHeader);
}

QString siteOfHost(const QString& host) {
    return siteOfAce(aceOf(host));
}

int countExternalLinks(const PageScan& scan) {
    const QString own = siteOfHost(QUrl(scan.finalUrl).host());
    int count = 0;
    for (const PageLink& link : scan.links)
        if (link.web() && !link.rel.contains(u"nofollow") && (own.isEmpty() || link.site != own)) ++count;
    return count;
}

} // namespace zentaro::web
