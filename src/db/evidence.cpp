// Evidence of a presence check: its bounded stored form, the change events between two checks, kept pages.
#include "db/evidence.h"

#include <memory>

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>

#include <zstd.h>

namespace zentaro::db {

namespace {

constexpr int kMaxUrl = 512;
constexpr int kMaxHops = 10;
constexpr int kMaxLinks = 20;
constexpr int kMaxRelWords = 8;
constexpr int kMaxSnapshotText = 8 * 1024 * 1024; // a snapshot never unpacks to more
// Snapshots are packed with zstd (fast enough for the first find of every page of a run); those packed with
// zlib by earlier versions are still read.
const QByteArray kSnapshotMagic = "ZS2";
const QByteArray kZlibSnapshotMagic = "ZS1";

// Compact JSON written straight into bytes (the evidence of every page of a run is encoded): the bytes
// QJsonDocument writes for the same object, keys in sorted order, so that rows written by either compare
// equal.
class JsonOut {
public:
    explicit JsonOut(QByteArray& out) : m_out(out) {}
    void open(char c) {
        comma();
        m_out += c;
        m_first = true;
    }
    void close(char c) {
        m_out += c;
        m_first = false;
    }
    JsonOut& key(const char* k) {
        comma();
        m_out += '"';
        m_out += k;
        m_out += "\":";
        m_first = true;
        return *this;
    }
    void string(QStringView s) {
        comma();
        m_out += '"';
        // Half of a surrogate pair (a text cut in the middle of one) is written escaped, as Qt writes it.
        qsizetype from = 0;
        for (qsizetype i = 0; i < s.size(); ++i) {
            const char16_t c = s[i].unicode();
            if (!QChar::isSurrogate(c)) continue;
            if (QChar::isHighSurrogate(c) && i + 1 < s.size() && QChar::isLowSurrogate(s[i + 1].unicode())) {
                ++i;
                continue;
            }
            utf8(s.sliced(from, i - from));
            m_out += "\\u";
            for (const int shift : {12, 8, 4, 0})
                m_out += "0123456789abcdef"[(c >> shift) & 0xf];
            from = i + 1;
        }
        utf8(s.sliced(from));
        m_out += '"';
    }
    void number(qint64 n) {
        comma();
        m_out += QByteArray::number(n);
    }
    void boolean(bool b) {
        comma();
        m_out += b ? "true" : "false";
    }

private:
    // Written as UTF-8 with JSON's escapes.
    void utf8(QStringView s) {
        const QByteArray bytes = s.toUtf8();
        for (const char c : bytes) {
            const auto u = uchar(c);
            if (u >= 0x20 && c != '"' && c != '\\') {
                m_out += c;
                continue;
            }
            m_out += '\\';
            switch (c) {
            case '"':
            case '\\':
                m_out += c;
                break;
            case '\b':
                m_out += 'b';
                break;
            case '\f':
                m_out += 'f';
                break;
            case '\n':
                m_out += 'n';
                break;
            case '\r':
                m_out += 'r';
                break;
            case '\t':
                m_out += 't';
                break;
            default:
                m_out += "u00";
                m_out += "0123456789abcdef"[u >> 4];
                m_out += "0123456789abcdef"[u & 0xf];
            }
        }
    }
    void comma() {
        if (!m_first) m_out += ',';
        m_first = false;
    }
    QByteArray& m_out;
    bool m_first = true;
};

void putLink(JsonOut& j, const LinkSeen& l, int textCap) {
    j.open('{');
    j.key("a").string(QStringView(l.needle).left(kMaxUrl));
    if (l.inComment) j.key("c").boolean(true);
    if (!l.nearest.isEmpty()) j.key("n").string(QStringView(l.nearest).left(textCap));
    j.key("ok").boolean(l.found);
    if (!l.href.isEmpty()) j.key("r").string(QStringView(l.href).left(kMaxUrl));
    if (!l.rel.isEmpty()) {
        j.key("rel").open('[');
        for (const QString& w : l.rel.mid(0, kMaxRelWords))
            j.string(QStringView(w).left(32));
        j.close(']');
    }
    if (!l.tag.isEmpty()) j.key("t").string(QStringView(l.tag).left(textCap));
    if (!l.text.isEmpty()) j.key("x").string(QStringView(l.text).left(textCap));
    j.close('}');
}

QByteArray encodeWith(const Evidence& e, int textCap, int links, int urlCap, int hopCount) {
    QByteArray out;
    out.reserve(1024);
    JsonOut j(out);
    j.open('{');
    if (!e.charset.isEmpty()) j.key("cs").string(QStringView(e.charset).left(40));
    if (!e.contentType.isEmpty()) j.key("ct").string(QStringView(e.contentType).left(100));
    j.key("f").string(QStringView(e.finalUrl).left(urlCap));
    if (!e.hops.empty() && hopCount > 0) {
        j.key("h").open('[');
        for (size_t i = 0; i < e.hops.size() && i < size_t(hopCount); ++i) {
            j.open('[');
            j.number(e.hops[i].status);
            j.string(QStringView(e.hops[i].target).left(urlCap));
            j.close(']');
        }
        j.close(']');
    }
    j.key("l").open('[');
    for (int i = 0; i < int(e.links.size()) && i < links; ++i)
        putLink(j, e.links[size_t(i)], textCap);
    j.close(']');
    if (e.noindex) j.key("ni").boolean(true);
    if (!e.robotsMeta.isEmpty()) j.key("rm").string(QStringView(e.robotsMeta).left(200));
    j.key("s").number(e.status);
    if (!e.sha256.isEmpty()) j.key("sha").string(QString::fromLatin1(e.sha256.left(64)));
    j.key("src").number(int(e.charsetSource));
    j.key("u").string(QStringView(e.requested).left(urlCap));
    if (!e.robotsHeader.isEmpty()) j.key("xr").string(QStringView(e.robotsHeader).left(200));
    if (e.size >= 0) j.key("z").number(e.size);
    j.close('}');
    return out;
}

QString str(const QJsonObject& o, const char* key, int cap) {
    return o.value(QLatin1String(key)).toString().left(cap);
}

QString quoted(const QString& s) {
    return QStringLiteral("«") + s + QStringLiteral("»");
}

bool notFollowed(const QStringList& rel) {
    for (const QString& w : rel)
        if (w.compare(QLatin1String("nofollow"), Qt::CaseInsensitive) == 0 ||
            w.compare(QLatin1String("sponsored"), Qt::CaseInsensitive) == 0 ||
            w.compare(QLatin1String("ugc"), Qt::CaseInsensitive) == 0)
            return true;
    return false;
}

QString sameForm(const QString& url) {
    QString u = url.trimmed().toLower();
    while (u.endsWith(QLatin1Char('/')))
        u.chop(1);
    return u;
}

} // namespace

QString charsetSourceText(CharsetSource s) {
    switch (s) {
    case CharsetSource::Bom:
        return QStringLiteral("метка порядка байтов");
    case CharsetSource::Header:
        return QStringLiteral("заголовок Content-Type");
    case CharsetSource::Meta:
        return QStringLiteral("тег meta");
    case CharsetSource::Fallback:
        return QStringLiteral("по умолчанию");
    case CharsetSource::Unknown:
        break;
    }
    return QStringLiteral("неизвестно");
}

const LinkSeen* Evidence::link(const QString& needle) const {
    for (const LinkSeen& l : links)
        if (l.needle.compare(needle, Qt::CaseInsensitive) == 0) return &l;
    return nullptr;
}

QByteArray encodeEvidence(const Evidence& e, int maxBytes) {
    // Shorter texts first, then fewer links and hops and shorter addresses: the verdict's road stays
    // readable.
    struct Step {
        int text, links, url, hops;
    };
    static const Step steps[] = {{512, kMaxLinks, kMaxUrl, kMaxHops},
                                 {256, kMaxLinks, kMaxUrl, kMaxHops},
                                 {128, kMaxLinks, 256, kMaxHops},
                                 {64, 10, 200, 5},
                                 {64, 4, 128, 3},
                                 {32, 2, 100, 2},
                                 {0, 1, 80, 1}};
    for (const Step& s : steps) {
        QByteArray out = encodeWith(e, s.text, s.links, s.url, s.hops);
        if (out.size() <= maxBytes) return out;
    }
    return encodeWith(e, 0, 0, 40, 0);
}

std::optional<Evidence> decodeEvidence(const QByteArray& data) {
    if (data.isEmpty() || data.size() > 64 * 1024) return std::nullopt;
    QJsonParseError err;
    const QJsonDocument doc = QJsonDocument::fromJson(data, &err);
    if (err.error != QJsonParseError::NoError || !doc.isObject()) return std::nullopt;
    const QJsonObject o = doc.object();
    if (!o.value(QLatin1String("l")).isArray()) return std::nullopt;
    Evidence e;
    e.requested = str(o, "u", kMaxUrl);
    for (const QJsonValue& h : o.value(QLatin1String("h")).toArray()) {
        if (int(e.hops.size()) >= kMaxHops) break;
        const QJsonArray a = h.toArray();
        e.hops.push_back({a.at(0).toInt(), a.at(1).toString().left(kMaxUrl)});
    }
    e.finalUrl = str(o, "f", kMaxUrl);
    e.status = o.value(QLatin1String("s")).toInt();
    e.contentType = str(o, "ct", 100);
    e.charset = str(o, "cs", 40);
    const int src = o.value(QLatin1String("src")).toInt();
    e.charsetSource = src >= 0 && src <= 4 ? CharsetSource(src) : CharsetSource::Unknown;
    e.robotsHeader = str(o, "xr", 200);
    e.robotsMeta = str(o, "rm", 200);
    e.noindex = o.value(QLatin1String("ni")).toBool();
    e.size = o.contains(QLatin1String("z")) ? qint64(o.value(QLatin1String("z")).toDouble()) : -1;
    e.sha256 = str(o, "sha", 64).toLatin1();
    for (const QJsonValue& v : o.value(QLatin1String("l")).toArray()) {
        if (int(e.links.size()) >= kMaxLinks) break;
        const QJsonObject l = v.toObject();
        LinkSeen s;
        s.needle = str(l, "a", kMaxUrl);
        s.found = l.value(QLatin1String("ok")).toBool();
        s.tag = str(l, "t", 512);
        s.href = str(l, "r", kMaxUrl);
        for (const QJsonValue& w : l.value(QLatin1String("rel")).toArray())
            if (s.rel.size() < kMaxRelWords) s.rel << w.toString().left(32);
        s.text = str(l, "x", 512);
        s.nearest = str(l, "n", 512);
        s.inComment = l.value(QLatin1String("c")).toBool();
        e.links.push_back(std::move(s));
    }
    return e;
}

QStringList changeEvents(const Evidence& lastFound, const Evidence& now, const QString& agreedText) {
    QStringList events;
    const bool several = now.links.size() > 1;
    auto add = [&](const QString& text, const LinkSeen* l) {
        events << (several && l ? text + QStringLiteral(" (") + l->needle + QStringLiteral(")") : text);
    };
    if (!lastFound.empty()) {
        if (!now.finalUrl.isEmpty() && !lastFound.finalUrl.isEmpty() &&
            sameForm(now.finalUrl) != sameForm(lastFound.finalUrl))
            add(QStringLiteral("страница перенаправляет на ") + now.finalUrl, nullptr);
        if (now.noindex && !lastFound.noindex) add(QStringLiteral("страница закрыта от индексации"), nullptr);
        if (!now.noindex && lastFound.noindex)
            add(QStringLiteral("страница открыта для индексации"), nullptr);
        for (const LinkSeen& l : now.links) {
            const LinkSeen* before = lastFound.link(l.needle);
            if (!before || !before->found) continue;
            if (!l.found) {
                if (l.inComment) add(QStringLiteral("ссылка спрятана в комментарий"), &l);
                continue;
            }
            if (l.text.simplified() != before->text.simplified())
                add(QStringLiteral("текст ссылки изменён: ") + quoted(before->text.simplified()) +
                        QStringLiteral(" → ") + quoted(l.text.simplified()),
                    &l);
            const bool wasFollowed = !notFollowed(before->rel), isFollowed = !notFollowed(l.rel);
            if (wasFollowed && !isFollowed)
                add(QStringLiteral("ссылка стала nofollow"), &l);
            else if (!wasFollowed && isFollowed)
                add(QStringLiteral("ссылка снова без nofollow"), &l);
            if (!l.href.isEmpty() && !before->href.isEmpty() && l.href != before->href)
                add(QStringLiteral("адрес ссылки изменён: ") + before->href + QStringLiteral(" → ") + l.href,
                    &l);
        }
    }
    // Told once: when the last find already showed another text than agreed, it is no news.
    const QString agreed = agreedText.simplified();
    auto differs = [&](const LinkSeen* l) {
        return l && l->found && l->text.simplified().compare(agreed, Qt::CaseInsensitive) != 0;
    };
    if (!agreed.isEmpty())
        for (const LinkSeen& l : now.links)
            if (differs(&l) && !differs(lastFound.link(l.needle)))
                add(QStringLiteral("текст ссылки не тот, что указан"), &l);
    return events;
}

QByteArray packSnapshot(const QString& pageText) {
    // One context kept: a run packs many pages.
    static const std::unique_ptr<ZSTD_CCtx, size_t (*)(ZSTD_CCtx*)> context(ZSTD_createCCtx(), ZSTD_freeCCtx);
    QString text = pageText.left(kMaxSnapshotText / 2);
    for (;;) {
        const QByteArray utf8 = text.toUtf8();
        const auto head = kSnapshotMagic.size();
        QByteArray packed = kSnapshotMagic;
        packed.resize(head + qsizetype(ZSTD_compressBound(size_t(utf8.size()))));
        const size_t n =
            context ? ZSTD_compressCCtx(context.get(), packed.data() + head, size_t(packed.size() - head),
                                        utf8.constData(), size_t(utf8.size()), 1)
                    : ZSTD_compress(packed.data() + head, size_t(packed.size() - head), utf8.constData(),
                                    size_t(utf8.size()), 1);
        if (ZSTD_isError(n)) return {};
        packed.truncate(head + qsizetype(n));
        if (packed.size() <= kMaxSnapshot || text.isEmpty()) return packed;
        text.truncate(text.size() * 3 / 4);
        // Never leave half of a surrogate pair at the cut.
        if (!text.isEmpty() && text.back().isHighSurrogate()) text.chop(1);
    }
}

std::optional<QString> unpackSnapshot(const QByteArray& packed) {
    // The size written in front is trusted by neither reader: a damaged one must not make it allocate
    // gigabytes.
    const quint64 cap = quint64(kMaxSnapshotText) * 3;
    if (packed.startsWith(kSnapshotMagic)) {
        const char* body = packed.constData() + kSnapshotMagic.size();
        const size_t size = size_t(packed.size() - kSnapshotMagic.size());
        const unsigned long long expected = ZSTD_getFrameContentSize(body, size);
        if (expected == ZSTD_CONTENTSIZE_ERROR || expected == ZSTD_CONTENTSIZE_UNKNOWN || expected > cap)
            return std::nullopt;
        QByteArray raw(qsizetype(expected), Qt::Uninitialized);
        const size_t got = ZSTD_decompress(raw.data(), size_t(raw.size()), body, size);
        if (ZSTD_isError(got) || got != expected) return std::nullopt;
        return QString::fromUtf8(raw);
    }
    if (!packed.startsWith(kZlibSnapshotMagic) || packed.size() < kZlibSnapshotMagic.size() + 4)
        return std::nullopt;
    const QByteArray body = packed.mid(kZlibSnapshotMagic.size());
    const quint32 expected = (quint32(uchar(body[0])) << 24) | (quint32(uchar(body[1])) << 16) |
                             (quint32(uchar(body[2])) << 8) | quint32(uchar(body[3]));
    if (expected > cap) return std::nullopt;
    const QByteArray raw = qUncompress(body);
    if (raw.isEmpty() && expected != 0) return std::nullopt;
    return QString::fromUtf8(raw);
}

QString inertPage(const QString& pageText) {
    static const QRegularExpression active(
        QStringLiteral("<(script|iframe|object|embed|frameset)\\b[\\s\\S]*?(</\\1\\s*>|$)"),
        QRegularExpression::CaseInsensitiveOption);
    static const QRegularExpression handlers(
        QStringLiteral("\\son[a-z]+\\s*=\\s*(\"[^\"]*\"|'[^']*'|[^\\s>]+)"),
        QRegularExpression::CaseInsensitiveOption);
    static const QRegularExpression refresh(
        QStringLiteral("<meta[^>]*http-equiv\\s*=\\s*[\"']?refresh[^>]*>"),
        QRegularExpression::CaseInsensitiveOption);
    QString page = pageText;
    page.remove(active).remove(refresh).remove(handlers);
    page.replace(QStringLiteral("javascript:"), QStringLiteral("no-script:"), Qt::CaseInsensitive);
    // A policy that forbids every script, whatever the cuts above missed.
    // The file is written in UTF-8: the first charset a browser meets wins over the page's own.
    return QStringLiteral("<meta charset=\"utf-8\">\n<meta http-equiv=\"Content-Security-Policy\" "
                          "content=\"script-src 'none'; "
                          "object-src 'none'; frame-src 'none'\">\n") +
           page;
}

} // namespace zentaro::db
