// The claim for lost links, as plain text and as HTML.
#include "reports/claim.h"

#include "db/database.h"

namespace zentaro::reports {

namespace {

QString dateText(const QDate& d) {
    return d.isValid() ? d.toString(QStringLiteral("dd.MM.yyyy")) : QStringLiteral("—");
}

QString timeText(const QDateTime& t) {
    return t.isValid() ? t.toString(QStringLiteral("dd.MM.yyyy HH:mm")) : QStringLiteral("—");
}

QString moneyText(double v) {
    return QString::number(v, 'f', 2).replace(QLatin1Char('.'), QLatin1Char(','));
}

// The evidence of one check as lines "label: value".
QStringList evidenceLines(const db::EvidenceRow& row) {
    const db::Evidence& e = row.evidence;
    QStringList out;
    out << QStringLiteral("Дата проверки: ") + timeText(row.at);
    out << QStringLiteral("Запрошен адрес: ") + e.requested;
    for (const db::RedirectHop& h : e.hops)
        out << QStringLiteral("Перенаправление (HTTP %1): %2").arg(h.status).arg(h.target);
    if (!e.finalUrl.isEmpty() && e.finalUrl != e.requested)
        out << QStringLiteral("Итоговый адрес: ") + e.finalUrl;
    out << QStringLiteral("Ответ сервера: HTTP %1").arg(e.status);
    if (!e.charset.isEmpty())
        out << QStringLiteral("Кодировка: %1 (%2)").arg(e.charset, db::charsetSourceText(e.charsetSource));
    if (!e.robotsHeader.isEmpty()) out << QStringLiteral("X-Robots-Tag: ") + e.robotsHeader;
    if (!e.robotsMeta.isEmpty()) out << QStringLiteral("meta robots: ") + e.robotsMeta;
    if (e.size >= 0) out << QStringLiteral("Размер страницы: %1 байт").arg(e.size);
    if (!e.sha256.isEmpty()) out << QStringLiteral("SHA-256 страницы: ") + QString::fromLatin1(e.sha256);
    for (const db::LinkSeen& l : e.links) {
        if (l.found) {
            out << QStringLiteral("Ссылка на %1 найдена: %2").arg(l.needle, l.tag);
            if (!l.text.isEmpty()) out << QStringLiteral("  текст ссылки: «%1»").arg(l.text);
            if (!l.rel.isEmpty()) out << QStringLiteral("  rel: ") + l.rel.join(QLatin1Char(' '));
        } else {
            out << QStringLiteral("Ссылка на %1 не найдена").arg(l.needle) +
                       (l.nearest.isEmpty() ? QString() : QStringLiteral("; ближе всего: ") + l.nearest);
        }
    }
    return out;
}

struct Section {
    QString title;
    QStringList lines;
};

std::vector<Section> sectionsOf(const ClaimLink& l) {
    std::vector<Section> s;
    Section what{QStringLiteral("Размещение"), {}};
    what.lines << QStringLiteral("Сайт: ") + (l.site.isEmpty() ? QStringLiteral("—") : l.site);
    what.lines << QStringLiteral("Страница: ") + l.pageUrl;
    what.lines << QStringLiteral("Дата размещения: ") + dateText(l.placed);
    if (l.price) what.lines << QStringLiteral("Цена: ") + moneyText(*l.price);
    for (const ClaimAnchor& a : l.anchors)
        what.lines << QStringLiteral("Согласованная ссылка: %1%2")
                          .arg(a.url,
                               a.text.isEmpty() ? QString() : QStringLiteral(", текст «%1»").arg(a.text));
    s.push_back(what);
    s.push_back({QStringLiteral("Последняя проверка, при которой ссылка была на месте"),
                 l.lastFound ? evidenceLines(*l.lastFound) : QStringList{QStringLiteral("нет данных")}});
    s.push_back(
        {QStringLiteral("Первая проверка, при которой ссылки не оказалось"),
         l.firstMissing ? evidenceLines(*l.firstMissing) : QStringList{QStringLiteral("нет данных")}});
    Section changes{QStringLiteral("Что изменилось"), {}};
    // Oldest first reads as a story.
    for (auto it = l.changes.rbegin(); it != l.changes.rend(); ++it)
        changes.lines << timeText(it->at) + QStringLiteral(" — ") + it->text;
    if (changes.lines.isEmpty()) changes.lines << QStringLiteral("изменений не замечено");
    s.push_back(changes);
    return s;
}

QString heading(const ClaimLink& l) {
    return QStringLiteral("Претензия: ссылка пропала со страницы ") + l.pageUrl;
}

} // namespace

ClaimLink claimLinkAt(const db::Database& db, int linkRow) {
    ClaimLink c;
    const db::Table& link = db.tbLink;
    auto val = [&](const char* f) { return link.rowValue(linkRow, link.fieldIndex(QLatin1String(f))); };
    const int id = val("ID").toInt();
    c.pageUrl = val("PageURL").toString();
    c.placed = val("PublicDate").toDate();
    if (val("Price").isValid()) c.price = val("Price").toDouble();
    const int siteRow = db.tbSite.findRow(QStringLiteral("ID"), val("SiteID"));
    if (siteRow >= 0)
        c.site = db.tbSite.rowValue(siteRow, db.tbSite.fieldIndex(QStringLiteral("Site"))).toString();
    const int text = db.tbAncor.fieldIndex(QStringLiteral("Ancor")),
              url = db.tbAncor.fieldIndex(QStringLiteral("URL"));
    for (const int row : db.tbAncor.findRows(QStringLiteral("LinkID"), id))
        c.anchors.push_back(
            {db.tbAncor.rowValue(row, text).toString(), db.tbAncor.rowValue(row, url).toString()});
    sqlite3* conn = db.checks.connection();
    const db::EvidenceStore& ev = db.checks.evidence();
    const int subject = int(db::CheckSubject::LinkPage);
    // Newest first: the misses after the newest find, the oldest of them being the first miss.
    for (db::EvidenceRow& row : ev.evidence(conn, subject, id)) {
        if (row.found) {
            c.lastFound = std::move(row);
            break;
        }
        c.firstMissing = std::move(row);
    }
    if (!c.lastFound) c.lastFound = ev.lastFound(conn, subject, id);
    c.changes = ev.events(conn, subject, id);
    return c;
}

QString claimText(const std::vector<ClaimLink>& links, const QDate& today) {
    QStringList out;
    for (size_t i = 0; i < links.size(); ++i) {
        if (i) out << QString(60, QLatin1Char('-'));
        out << heading(links[i]) << QStringLiteral("Дата составления: ") + dateText(today) << QString();
        for (const Section& s : sectionsOf(links[i])) {
            out << s.title + QLatin1Char(':');
            for (const QString& l : s.lines)
                out << QStringLiteral("  ") + l;
            out << QString();
        }
        out << QStringLiteral("Прошу восстановить ссылку или вернуть оплату в рамках гарантии.");
    }
    return out.join(QLatin1Char('\n')) + QLatin1Char('\n');
}

QString claimHtml(const std::vector<ClaimLink>& links, const QDate& today) {
    QString html = QStringLiteral("<html><head><meta charset=\"utf-8\"></head><body>");
    for (size_t i = 0; i < links.size(); ++i) {
        html += i ? QStringLiteral("<div style=\"page-break-before: always\">") : QStringLiteral("<div>");
        html += QStringLiteral("<h2>") + heading(links[i]).toHtmlEscaped() + QStringLiteral("</h2><p>") +
                QStringLiteral("Дата составления: ") + dateText(today) + QStringLiteral("</p>");
        for (const Section& s : sectionsOf(links[i])) {
            html += QStringLiteral("<h3>") + s.title.toHtmlEscaped() + QStringLiteral("</h3><ul>");
            for (const QString& l : s.lines)
                html += QStringLiteral("<li>") + l.toHtmlEscaped() + QStringLiteral("</li>");
            html += QStringLiteral("</ul>");
        }
        html +=
            QStringLiteral("<p>Прошу восстановить ссылку или вернуть оплату в рамках гарантии.</p></div>");
    }
    return html + QStringLiteral("</body></html>");
}

} // namespace zentaro::reports
