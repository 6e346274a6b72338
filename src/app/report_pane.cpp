// The report tab: chooses a report, builds it and shows it as a pie or as bars with their table.
#include "app/report_pane.h"

#include <functional>
#include <initializer_list>

#include <QComboBox>
#include <QEvent>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QPrintDialog>
#include <QPrinter>
#include <QPushButton>
#include <QStackedWidget>
#include <QToolButton>
#include <QVBoxLayout>

#include "widgets/hints.h"
#include "widgets/icons.h"
#include "db/database.h"
#include "charts/money_chart.h"
#include "reports/money_reports.h"
#include "charts/pie_chart.h"
#include "reports/report_builders.h"
#include "util/user_interface.h"

namespace zentaro::app {

namespace {

// One button of a chart's column: its name, hint, icon (by its freedesktop name; none: a "%" text) and
// action.
struct ButtonDef {
    const char* name;
    const char* hint;
    const char* icon;
    QStyle::StandardPixmap fallback;
    std::function<void()> action;
};

void addButtons(QWidget* page, QObject* receiver, QVBoxLayout* column,
                std::initializer_list<ButtonDef> defs) {
    for (const ButtonDef& d : defs) {
        auto* b = new QToolButton(page);
        b->setObjectName(QString::fromLatin1(d.name));
        b->setAutoRaise(true);
        b->setFixedSize(26, 26);
        if (d.icon)
            b->setIcon(themeIcon(d.icon, d.fallback));
        else
            b->setText(QStringLiteral("%"));
        setHint(b, QString::fromUtf8(d.hint));
        QObject::connect(b, &QToolButton::clicked, receiver, d.action);
        column->addWidget(b);
    }
    column->addStretch();
}

} // namespace

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
    m_cbRep->addItems(reports::moneyReportNames());
    m_cbRep->setCurrentIndex(0);
    // The report is chosen from the list only: typed characters are cancelled.
    m_cbRep->installEventFilter(this);
    bar->addWidget(m_cbRep);
    auto* build = new QPushButton(QStringLiteral("Построить"), panel8);
    build->setObjectName(QStringLiteral("bGetReport"));
    setHint(build, QStringLiteral("|Построить отчет"));
    connect(build, &QPushButton::clicked, this, &ReportPane::bGetReportClick);
    bar->addWidget(build);
    // Which months and projects the reports of money and time take.
    m_cbRepPeriod = new QComboBox(panel8);
    m_cbRepPeriod->setObjectName(QStringLiteral("cbRepPeriod"));
    m_cbRepPeriod->addItems(reports::periodNames());
    bar->addWidget(m_cbRepPeriod);
    m_cbRepProject = new QComboBox(panel8);
    m_cbRepProject->setObjectName(QStringLiteral("cbRepProject"));
    m_cbRepProject->addItems(reports::projectScopeNames());
    bar->addWidget(m_cbRepProject);
    bar->addStretch();
    layout->addWidget(panel8);

    auto* body = new QHBoxLayout;
    auto* buttons = new QVBoxLayout;
    buttons->setSpacing(2);
    m_chart = new reports::PieChart(page);
    addButtons(page, this, buttons,
               {
                   {"sbRepPrint", "Печатать диаграмму", "document-print", QStyle::SP_FileDialogDetailedView,
                    [this] { sbRepPrintClick(); }},
                   {"SpeedButton23", "Поворот диаграммы", "go-up", QStyle::SP_ArrowUp,
                    [this] { m_chart->tilt(-10); }},
                   {"SpeedButton26", "Вращение диаграммы", "object-rotate-right", QStyle::SP_BrowserReload,
                    [this] { m_chart->spin(); }},
                   {"SpeedButton24", "Поворот диаграммы", "go-down", QStyle::SP_ArrowDown,
                    [this] { m_chart->tilt(10); }},
                   {"SpeedButton7", "Показывать проценты или числа", nullptr, QStyle::SP_CustomBase,
                    [this] { m_chart->togglePercent(); }},
                   {"SpeedButton8", "Сохранить изображение", "document-save", QStyle::SP_DialogSaveButton,
                    [this] { SpeedButton8Click(); }},
               });
    body->addLayout(buttons);
    body->addWidget(m_chart, 1);
    m_stack = new QStackedWidget(page);
    auto* piePage = new QWidget(m_stack);
    piePage->setLayout(body);
    m_stack->addWidget(piePage);
    m_stack->addWidget(moneyPage(m_stack));
    layout->addWidget(m_stack, 1);
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

QWidget* ReportPane::moneyPage(QWidget* parent) {
    auto* page = new QWidget(parent);
    auto* body = new QHBoxLayout(page);
    body->setContentsMargins(0, 0, 0, 0);
    auto* buttons = new QVBoxLayout;
    buttons->setSpacing(2);
    m_money = new reports::MoneyChart(page);
    addButtons(page, this, buttons,
               {
                   {"sbMoneyPrint", "Печатать диаграмму", "document-print", QStyle::SP_FileDialogDetailedView,
                    [this] { sbMoneyPrintClick(); }},
                   {"sbMoneyJpeg", "Сохранить изображение", "document-save", QStyle::SP_DialogSaveButton,
                    [this] { sbMoneyJpegClick(); }},
                   {"sbMoneyCopy", "Копировать таблицу", "edit-copy", QStyle::SP_FileDialogContentsView,
                    [this] { m_money->copyCsv(); }},
                   {"sbMoneyCsv", "Сохранить таблицу в CSV", "document-save-as", QStyle::SP_DriveFDIcon,
                    [this] { sbMoneyCsvClick(); }},
               });
    body->addLayout(buttons);
    body->addWidget(m_money, 1);
    return page;
}

void ReportPane::bGetReportClick() {
    if (const std::optional<reports::MoneyKind> kind = reports::moneyKindOf(m_cbRep->currentText())) {
        reports::MoneyOptions options;
        options.period = reports::Period(std::max(0, m_cbRepPeriod->currentIndex()));
        options.currentProjectOnly = m_cbRepProject->currentIndex() == 1;
        options.today = QDate::currentDate();
        m_money->setReport(reports::buildMoneyReport(m_ctx.db, *kind, options));
        m_stack->setCurrentIndex(1);
        return;
    }
    if (std::optional<reports::Report> r = reports::bGetReportClick(m_ctx.db, m_cbRep->currentText())) {
        m_chart->setReport(std::move(*r));
        m_stack->setCurrentIndex(0);
    }
}

void ReportPane::sbMoneyPrintClick() {
    QPrinter printer(QPrinter::HighResolution);
    if (!choosePrinter || !choosePrinter(printer)) return;
    m_money->printTo(printer);
}

void ReportPane::sbMoneyJpegClick() {
    QString file;
    if (!m_ctx.ui.chooseSaveFile(QStringLiteral("rep.jpg"), file) || file.isEmpty()) return;
    if (QFileInfo(file).suffix().isEmpty()) file += QStringLiteral(".jpg");
    if (!m_money->saveJpeg(file))
        m_ctx.ui.showError(QStringLiteral("Не удалось сохранить изображение в файл \"%1\".").arg(file),
                           QStringLiteral("Ошибка"));
}

void ReportPane::sbMoneyCsvClick() {
    QString file;
    if (!m_ctx.ui.chooseSaveFile(QStringLiteral("rep.csv"), file) || file.isEmpty()) return;
    if (QFileInfo(file).suffix().isEmpty()) file += QStringLiteral(".csv");
    if (!m_money->saveCsv(file))
        m_ctx.ui.showError(QStringLiteral("Не удалось сохранить таблицу в файл \"%1\".").arg(file),
                           QStringLiteral("Ошибка"));
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
