// The last find beside the first miss of a link page, and its kept pages opened without scripts.
#include "widgets/evidence_view.h"

#include <QDir>
#include <QGridLayout>
#include <QLabel>
#include <QPushButton>
#include <QSaveFile>
#include <QTextBrowser>
#include <QUrl>

#include "db/database.h"
#include "util/shell.h"

namespace zentaro::widgets {

namespace {

QString esc(const QString& s) {
    return s.toHtmlEscaped();
}

} // namespace

QString evidenceHtml(const std::optional<db::EvidenceRow>& row) {
    if (!row) return QStringLiteral("<i>нет данных</i>");
    const db::Evidence& e = row->evidence;
    QString h =
        QStringLiteral("<b>%1</b><br>").arg(esc(row->at.toString(QStringLiteral("dd.MM.yyyy HH:mm"))));
    h += QStringLiteral("Запрошен: %1<br>").arg(esc(e.requested));
    for (const db::RedirectHop& hop : e.hops)
        h += QStringLiteral("→ HTTP %1: %2<br>").arg(hop.status).arg(esc(hop.target));
    if (!e.finalUrl.isEmpty() && e.finalUrl != e.requested)
        h += QStringLiteral("Итог: %1<br>").arg(esc(e.finalUrl));
    h += QStringLiteral("HTTP %1").arg(e.status);
    if (!e.charset.isEmpty())
        h += QStringLiteral(", %1 (%2)").arg(esc(e.charset), esc(db::charsetSourceText(e.charsetSource)));
    if (e.size >= 0) h += QStringLiteral(", %1 байт").arg(e.size);
    h += QStringLiteral("<br>");
    if (e.noindex) h += QStringLiteral("Страница закрыта от индексации<br>");
    if (!e.robotsHeader.isEmpty()) h += QStringLiteral("X-Robots-Tag: %1<br>").arg(esc(e.robotsHeader));
    if (!e.robotsMeta.isEmpty()) h += QStringLiteral("meta robots: %1<br>").arg(esc(e.robotsMeta));
    for (const db::LinkSeen& l : e.links) {
        if (l.found)
            h += QStringLiteral("<br><b>[Есть]</b> %1<br><code>%2</code><br>текст: «%3»%4")
                     .arg(esc(l.needle), esc(l.tag), esc(l.text),
                          l.rel.isEmpty() ? QString()
                                          : QStringLiteral("; rel: ") + esc(l.rel.join(QLatin1Char(' '))));
        else
            h += QStringLiteral("<br><b>[Нет]</b> %1%2")
                     .arg(esc(l.needle), l.nearest.isEmpty()
                                             ? QString()
                                             : QStringLiteral("<br>ближе всего: ") + esc(l.nearest));
    }
    return h;
}

EvidenceView::EvidenceView(QWidget* parent) : QWidget(parent) {
    auto* grid = new QGridLayout(this);
    grid->setContentsMargins(0, 0, 0, 0);
    grid->addWidget(new QLabel(QStringLiteral("Последняя проверка, нашедшая ссылки"), this), 0, 0);
    grid->addWidget(new QLabel(QStringLiteral("Первая проверка, не нашедшая их"), this), 0, 1);
    m_found = new QTextBrowser(this);
    m_found->setObjectName(QStringLiteral("tbEvidenceFound"));
    m_missing = new QTextBrowser(this);
    m_missing->setObjectName(QStringLiteral("tbEvidenceMissing"));
    for (QTextBrowser* b : {m_found, m_missing})
        b->setOpenLinks(false);
    grid->addWidget(m_found, 1, 0);
    grid->addWidget(m_missing, 1, 1);
    m_openFound = new QPushButton(QStringLiteral("Открыть страницу, какой она была"), this);
    m_openFound->setObjectName(QStringLiteral("bSnapshotFound"));
    m_openMissing = new QPushButton(QStringLiteral("Открыть страницу при пропаже"), this);
    m_openMissing->setObjectName(QStringLiteral("bSnapshotMissing"));
    grid->addWidget(m_openFound, 2, 0);
    grid->addWidget(m_openMissing, 2, 1);
    m_changes = new QLabel(this);
    m_changes->setObjectName(QStringLiteral("lbEvidenceChanges"));
    m_changes->setWordWrap(true);
    m_changes->setTextFormat(Qt::PlainText);
    grid->addWidget(m_changes, 3, 0, 1, 2);
    connect(m_openFound, &QPushButton::clicked, this, [this] { openSnapshot(true); });
    connect(m_openMissing, &QPushButton::clicked, this, [this] { openSnapshot(false); });
    for (QTextBrowser* b : {m_found, m_missing})
        b->setHtml(evidenceHtml(std::nullopt));
    m_openFound->setEnabled(false);
    m_openMissing->setEnabled(false);
}

void EvidenceView::showLink(const db::Database& db, int linkRow) {
    m_db = &db;
    m_id = 0;
    std::optional<reports::ClaimLink> c;
    if (linkRow >= 0) {
        c = reports::claimLinkAt(db, linkRow);
        m_id = db.tbLink.rowValue(linkRow, db.tbLink.fieldIndex(QStringLiteral("ID"))).toInt();
    }
    m_found->setHtml(evidenceHtml(c ? c->lastFound : std::nullopt));
    m_missing->setHtml(evidenceHtml(c ? c->firstMissing : std::nullopt));
    QStringList lines;
    if (c)
        for (const db::ChangeEvent& e : c->changes)
            lines << e.at.toString(QStringLiteral("dd.MM.yyyy HH:mm")) + QStringLiteral(" — ") + e.text;
    m_changes->setText(lines.isEmpty() ? QString()
                                       : QStringLiteral("Что изменилось:\n") + lines.mid(0, 10).join('\n'));
    const db::EvidenceStore& ev = db.checks.evidence();
    sqlite3* conn = m_id ? db.checks.connection() : nullptr;
    m_openFound->setEnabled(conn && ev.snapshot(conn, 0, m_id, true).has_value());
    m_openMissing->setEnabled(conn && ev.snapshot(conn, 0, m_id, false).has_value());
}

QString EvidenceView::writeSnapshot(bool found) const {
    if (!m_db || !m_id) return {};
    const std::optional<db::Snapshot> s = m_db->checks.evidence().snapshot(
        m_db->checks.connection(), int(db::CheckSubject::LinkPage), m_id, found);
    if (!s) return {};
    const QString name = QDir::temp().filePath(QStringLiteral("zentaro-%1-%2-%3.html")
                                                   .arg(m_id)
                                                   .arg(found ? "found" : "missing")
                                                   .arg(s->at.toString("yyyyMMddHHmm")));
    QSaveFile f(name);
    if (!f.open(QIODevice::WriteOnly)) return {};
    f.write(db::inertPage(s->pageText).toUtf8());
    return f.commit() ? name : QString();
}

void EvidenceView::openSnapshot(bool found) const {
    const QString name = writeSnapshot(found);
    if (!name.isEmpty()) RunURL(QUrl::fromLocalFile(name).toString());
}

} // namespace zentaro::widgets
