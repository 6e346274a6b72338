// The check history, the evidence and the claims of the links pane's current link page.
#include "app/links_pane.h"

#include <QDialog>
#include <QLabel>
#include <QLocale>
#include <QTreeWidget>
#include <QVBoxLayout>

#include "db/database.h"
#include "dialogs/claim_dialog.h"
#include "util/user_interface.h"
#include "widgets/data_grid.h"
#include "widgets/evidence_view.h"

namespace zentaro::app {

void LinksPane::showHistory() {
    db::Table& t = m_ctx.db.tbLink;
    m_history->clear();
    m_lostSince->clear();
    m_lostSince->hide();
    if (t.currentPos() < 0 || t.isNull(QStringLiteral("ID")) || !m_ctx.db.checks.isOpen()) return;
    const int id = t.asInteger(QStringLiteral("ID"));
    if (const auto last = m_ctx.db.checks.last(db::CheckSubject::LinkPage, id);
        last && last->lostSince.isValid()) {
        m_lostSince->setText(QStringLiteral("Ссылка пропала с %1")
                                 .arg(QLocale().toString(last->lostSince, QLocale::ShortFormat)));
        m_lostSince->show();
    }
    // Outcomes and change events, newest first.
    const auto events =
        m_ctx.db.checks.evidence().events(m_ctx.db.checks.connection(), int(db::CheckSubject::LinkPage), id);
    size_t e = 0;
    auto addEvents = [&](const QDateTime& notBefore) {
        for (; e < events.size() && events[e].at >= notBefore; ++e) {
            auto* item =
                new QTreeWidgetItem(m_history, {QLocale().toString(events[e].at, QLocale::ShortFormat),
                                                QStringLiteral("Изменение"),
                                                events[e].text,
                                                {}});
            item->setForeground(2, QColor::fromRgb(0xb06000));
            item->setToolTip(2, events[e].text);
        }
    };
    for (const db::CheckOutcome& o : m_ctx.db.checks.history(db::CheckSubject::LinkPage, id)) {
        addEvents(o.at);
        auto* item =
            new QTreeWidgetItem(m_history, {QLocale().toString(o.at, QLocale::ShortFormat),
                                            db::kindText(o.kind), db::reasonText(o.reason), o.detail});
        item->setForeground(2, QColor::fromRgb(QRgb(db::reasonRgb(o.reason))));
        item->setToolTip(3, o.detail);
    }
    addEvents(QDateTime());
}

void LinksPane::showEvidence() {
    const db::Table& t = m_ctx.db.tbLink;
    if (t.currentPos() < 0) return;
    QDialog dialog(m_grid->window());
    dialog.setObjectName(QStringLiteral("fmEvidence"));
    dialog.setWindowTitle(QStringLiteral("Доказательства: ") + t.asString(QStringLiteral("PageURL")));
    auto* box = new QVBoxLayout(&dialog);
    auto* view = new widgets::EvidenceView(&dialog);
    view->setObjectName(QStringLiteral("evCheckEvidence"));
    view->showLink(m_ctx.db, t.currentRow());
    box->addWidget(view);
    dialog.resize(900, 520);
    m_evidenceDialog = &dialog;
    dialog.exec();
    m_evidenceDialog = nullptr;
}

void LinksPane::makeClaim() {
    db::Database& db = m_ctx.db;
    std::vector<int> ids = selectedLinkIds();
    if (ids.size() < 2 && db.tbLink.currentPos() >= 0 && !db.tbLink.isNull(QStringLiteral("ID")))
        ids = {db.tbLink.asInteger(QStringLiteral("ID"))};
    std::vector<reports::ClaimLink> links;
    for (const int id : ids) {
        const auto last = db.checks.last(db::CheckSubject::LinkPage, id);
        if (!last || !last->lostSince.isValid()) continue;
        const int row = db.tbLink.findRow(QStringLiteral("ID"), id);
        if (row >= 0) links.push_back(reports::claimLinkAt(db, row));
    }
    if (links.empty()) {
        Msg(m_ctx.ui,
            QStringLiteral("Претензию составляют по пропавшим ссылкам: среди выбранных страниц их нет."));
        return;
    }
    dialogs::ClaimDialog dialog(std::move(links), m_ctx.ui, m_grid->window());
    dialog.exec();
}

} // namespace zentaro::app
