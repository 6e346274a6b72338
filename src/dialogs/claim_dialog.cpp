// The claim dialog: print, save as PDF, copy.
#include "dialogs/claim_dialog.h"

#include <QApplication>
#include <QClipboard>
#include <QDate>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QPageSize>
#include <QPrintDialog>
#include <QPrinter>
#include <QPushButton>
#include <QTextBrowser>
#include <QTextDocument>
#include <QVBoxLayout>

#include "util/user_interface.h"

namespace zentaro::dialogs {

ClaimDialog::ClaimDialog(std::vector<reports::ClaimLink> links, UserInterface& ui, QWidget* parent)
    : QDialog(parent), m_ui(ui) {
    setObjectName(QStringLiteral("fmClaim"));
    setWindowTitle(QStringLiteral("Претензия"));
    const QDate today = QDate::currentDate();
    m_text = reports::claimText(links, today);
    m_html = reports::claimHtml(links, today);
    auto* box = new QVBoxLayout(this);
    m_view = new QTextBrowser(this);
    m_view->setObjectName(QStringLiteral("tbClaim"));
    m_view->setOpenLinks(false);
    m_view->setHtml(m_html);
    box->addWidget(m_view);
    auto* buttons = new QHBoxLayout;
    auto add = [&](const char* name, const QString& caption, auto slot) {
        auto* b = new QPushButton(caption, this);
        b->setObjectName(QLatin1String(name));
        connect(b, &QPushButton::clicked, this, slot);
        buttons->addWidget(b);
    };
    add("bClaimPrint", QStringLiteral("Печать…"), [this] { bPrintClick(); });
    add("bClaimPdf", QStringLiteral("Сохранить в PDF…"), [this] { bPdfClick(); });
    add("bClaimCopy", QStringLiteral("Копировать"), [this] { bCopyClick(); });
    buttons->addStretch();
    add("bClaimClose", QStringLiteral("Закрыть"), [this] { accept(); });
    box->addLayout(buttons);
    resize(760, 640);
}

void ClaimDialog::bCopyClick() {
    QApplication::clipboard()->setText(m_text);
}

bool ClaimDialog::saveAsPdf(const QString& fileName) const {
    QPrinter printer(QPrinter::HighResolution);
    printer.setOutputFormat(QPrinter::PdfFormat);
    printer.setPageSize(QPageSize(QPageSize::A4));
    printer.setOutputFileName(fileName);
    QTextDocument doc;
    doc.setHtml(m_html);
    doc.print(&printer);
    return QFileInfo(fileName).size() > 0;
}

void ClaimDialog::bPdfClick() {
    QString name = QStringLiteral("pretenziya.pdf");
    if (!m_ui.chooseSaveFile(name, name)) return;
    if (!name.endsWith(QLatin1String(".pdf"), Qt::CaseInsensitive)) name += QStringLiteral(".pdf");
    if (!saveAsPdf(name))
        m_ui.showError(QStringLiteral("Не удалось сохранить файл ") + name, QStringLiteral("Ошибка"));
}

void ClaimDialog::bPrintClick() {
    QPrinter printer;
    QPrintDialog dlg(&printer, this);
    if (dlg.exec() != QDialog::Accepted) return;
    QTextDocument doc;
    doc.setHtml(m_html);
    doc.print(&printer);
}

} // namespace zentaro::dialogs
