// Evidence of a presence check: its bounded stored form, the change events between two checks, kept pages.
#include "db/evidence.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>

namespace zentaro::db {

namespace {

constexpr int kMaxUrl = 512;
constexpr int kMaxHops = 10;
constexpr int kMaxLinks = 20;
constexpr int kMaxRelWords = 8;
constexpr int kMaxSnapshotText = 8 * 1024 * 1024; // a snapshot never unpacks to more
const QByteArray kSnapshotMagic = "ZS1";

QJsonArray relArray(const QStringList& rel) {
    QJsonArray a;
    for (const QString& w : rel.mid(0, kMaxRelWords))
        a.append(w.left(32));
    return a;
}

QJsonObject linkObject(const LinkSeen& l, int textCap) {
    QJsonObject o;
    o[QStringLiteral("a")] = l.needle.left(kMaxUrl);
    o[QStringLiteral("ok")] = l.found;
    if (!l.tag.isEmpty()) o[QStringLiteral("t")] = l.tag.left(textCap);
    if (!l.href.isEmpty()) o[QStringLiteral("r")] = l.href.left(kMaxUrl);
    if (!l.rel.isEmpty()) o[QStringLiteral("rel")] = relArray(l.rel);
    if (!l.text.isEmpty()) o[QStringLiteral("x")] = l.text.left(textCap);
    if (!l.nearest.isEmpty()) o[QStringLiteral("n")] = l.nearest.left(textCap);
    if (l.inComment) o[QStringLiteral("c")] = true;
    return o;
}

QByteArray encodeWith(const Evidence& e, int textCap, int links, int urlCap, int hopCount) {
    QJsonObject o;
    o[QStringLiteral("u")] = e.requested.left(urlCap);
    QJsonArray hops;
    for (size_t i = 0; i < e.hops.size() && i < size_t(hopCount); ++i)
        hops.append(QJsonArray{e.hops[i].status, e.hops[i].target.left(urlCap)});
    if (!hops.isEmpty()) o[QStringLiteral("h")] = hops;
    o[QStringLiteral("f")] = e.finalUrl.left(urlCap);
    o[QStringLiteral("s")] = e.status;
    if (!e.contentType.isEmpty()) o[QStringLiteral("ct")] = e.contentType.left(100);
    if (!e.charset.isEmpty()) o[QStringLiteral("cs")] = e.charset.left(40);
    o[QStringLiteral("src")] = int(e.charsetSource);
    if (!e.robotsHeader.isEmpty()) o[QStringLiteral("xr")] = e.robotsHeader.left(200);
    if (!e.robotsMeta.isEmpty()) o[QStringLiteral("rm")] = e.robotsMeta.left(200);
    if (e.noindex) o[QStringLiteral("ni")] = true;
    if (e.size >= 0) o[QStringLiteral("z")] = double(e.size);
    if (!e.sha256.isEmpty()) o[QStringLiteral("sha")] = QString::fromLatin1(e.sha256.left(64));
    QJsonArray arr;
    for (int i = 0; i < int(e.links.size()) && i < links; ++i)
        arr.append(linkObject(e.links[size_t(i)], textCap));
    o[QStringLiteral("l")] = arr;
    return QJsonDocument(o).toJson(QJsonDocument::Compact);
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
    QString text = pageText.left(kMaxSnapshotText / 2);
    for (;;) {
        QByteArray packed = kSnapshotMagic + qCompress(text.toUtf8(), 9);
        if (packed.size() <= kMaxSnapshot || text.isEmpty()) return packed;
        text.truncate(text.size() * 3 / 4);
        // Never leave half of a surrogate pair at the cut.
        if (!text.isEmpty() && text.back().isHighSurrogate()) text.chop(1);
    }
}

std::optional<QString> unpackSnapshot(const QByteArray& packed) {
    if (!packed.startsWith(kSnapshotMagic) || packed.size() < kSnapshotMagic.size() + 4) return std::nullopt;
    const QByteArray body = packed.mid(kSnapshotMagic.size());
    // qUncompress trusts the size written in front; a damaged one must not make it allocate gigabytes.
    const quint32 expected = (quint32(uchar(body[0])) << 24) | (quint32(uchar(body[1])) << 16) |
                             (quint32(uchar(body[2])) << 8) | quint32(uchar(body[3]));
    if (expected > quint32(kMaxSnapshotText) * 3) return std::nullopt;
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
