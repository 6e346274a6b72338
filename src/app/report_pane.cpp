#include "app/report_pane.h"

#include <QComboBox>
#include <QEvent>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QPrintDialog>
#include <QPrinter>
#include <QPushButton>
#include <QToolButton>
#include <QVBoxLayout>

#include "widgets/hints.h"
#include "app/icons.h"
#include "db/database.h"
#include "reports/pie_chart.h"
#include "reports/report_builders.h"
#include "util/user_interface.h"

namespace zentaro::app {

ReportPane::ReportPane(const PaneContext& ctx, QWidget* page) : QObject(page), m_ctx(ctx) {
    auto* layout = new QVBoxLayout(page);
    layout->setContentsMargins(0, 0, 0, 0);
    auto* panel8 = new QWidget(page);
    panel8->setObjectName(QStringLiteral("Panel8"));
    auto* bar = new QHBoxLayout(panel8);
    bar->addWidget(new QLabel(QStringLiteral("Тип отчета: "), panel8));
    m_cbRep = new QComboBox(panel8);
    m_cbRep->setObjectName(QStringLiteral("cbRep"));
    m_cbRep->setMinimumWidth(260);
    m_cbRep->addItems(reports::reportNames());
    m_cbRep->setCurrentIndex(0);
    // The report is chosen from the list only: typed characters are cancelled.
    m_cbRep->installEventFilter(this);
    bar->addWidget(m_cbRep);
    auto* build = new QPushButton(QStringLiteral("Построить"), panel8);
    build->setObjectName(QStringLiteral("bGetReport"));
    setHint(build, QStringLiteral("|Построить отчет"));
    connect(build, &QPushButton::clicked, this, &ReportPane::bGetReportClick);
    bar->addWidget(build);
    bar->addStretch();
    layout->addWidget(panel8);

    auto* body = new QHBoxLayout;
    auto* buttons = new QVBoxLayout;
    buttons->setSpacing(2);
    m_chart = new reports::PieChart(page);
    struct ButtonDef {
        const char* name;
        const char* hint;
        const char* icon;
        QStyle::StandardPixmap fallback;
        std::function<void()> action;
    };
    const ButtonDef defs[] = {
        {"sbRepPrint", "Печатать диаграмму", "document-print", QStyle::SP_FileDialogDetailedView,
         [this] { sbRepPrintClick(); }},
        {"SpeedButton23", "Поворот диаграммы", "go-up", QStyle::SP_ArrowUp, [this] { m_chart->tilt(-10); }},
        {"SpeedButton26", "Вращение диаграммы", "object-rotate-right", QStyle::SP_BrowserReload,
         [this] { m_chart->spin(); }},
        {"SpeedButton24", "Поворот диаграммы", "go-down", QStyle::SP_ArrowDown,
         [this] { m_chart->tilt(10); }},
        {"SpeedButton7", "Показывать проценты или числа", nullptr, QStyle::SP_CustomBase,
         [this] { m_chart->togglePercent(); }},
        {"SpeedButton8", "Сохранить изображение", "document-save", QStyle::SP_DialogSaveButton,
         [this] { SpeedButton8Click(); }},
    };
    for (const ButtonDef& s : defs) {
        auto* b = new QToolButton(page);
        b->setObjectName(QString::fromLatin1(s.name));
        b->setAutoRaise(true);
        b->setFixedSize(26, 26);
        if (s.icon)
            b->setIcon(themeIcon(s.icon, s.fallback));
        else
            b->setText(QStringLiteral("%"));
        setHint(b, QString::fromUtf8(s.hint));
        connect(b, &QToolButton::clicked, this, s.action);
        buttons->addWidget(b);
    }
    buttons->addStretch();
    body->addLayout(buttons);
    body->addWidget(m_chart, 1);
    layout->addLayout(body, 1);
    choosePrinter = [page](QPrinter& printer) {
        QPrintDialog dialog(&printer, page);
        return dialog.exec() == QDialog::Accepted;
    };
}

bool ReportPane::eventFilter(QObject* watched, QEvent* event) {
    if (watched == m_cbRep && event->type() == QEvent::KeyPress &&
        !static_cast<QKeyEvent*>(event)->text().isEmpty())
        return true;
    return QObject::eventFilter(watched, event);
}

void ReportPane::bGetReportClick() {
    if (std::optional<reports::Report> r = reports::bGetReportClick(m_ctx.db, m_cbRep->currentText()))
        m_chart->setReport(std::move(*r));
}

void ReportPane::sbRepPrintClick() {
    QPrinter printer(QPrinter::HighResolution);
    if (!choosePrinter || !choosePrinter(printer)) return;
    m_chart->printTo(printer);
}

void ReportPane::SpeedButton8Click() {
    QString file;
    if (!m_ctx.ui.chooseSaveFile(QStringLiteral("rep.jpg"), file) || file.isEmpty()) return;
    if (QFileInfo(file).suffix().isEmpty()) file += QStringLiteral(".jpg");
    // Written straight from the chart's painting; a file that cannot be written is said, not passed over.
    if (!m_chart->saveJpeg(file))
        m_ctx.ui.showError(QStringLiteral("Не удалось сохранить изображение в файл \"%1\".").arg(file),
                           QStringLiteral("Ошибка"));
}

} // namespace zentaro::app
