// The bar chart of the money and time reports, with its table, for screen, printer and image.
#include "charts/money_chart.h"

#include <algorithm>
#include <cmath>

#include <QApplication>
#include <QBarCategoryAxis>
#include <QBarSeries>
#include <QBarSet>
#include <QChart>
#include <QChartView>
#include <QClipboard>
#include <QCursor>
#include <QGraphicsScene>
#include <QHeaderView>
#include <QHorizontalBarSeries>
#include <QHorizontalStackedBarSeries>
#include <QImageWriter>
#include <QPainter>
#include <QPrinter>
#include <QSaveFile>
#include <QSplitter>
#include <QStackedBarSeries>
#include <QTableWidget>
#include <QToolTip>
#include <QVBoxLayout>
#include <QValueAxis>

#include "charts/pie_chart.h"

namespace zentaro::reports {

namespace {

QAbstractBarSeries* newSeries(const MoneyReport& r) {
    if (r.byMonth())
        return r.stacked ? static_cast<QAbstractBarSeries*>(new QStackedBarSeries) : new QBarSeries;
    return r.stacked ? static_cast<QAbstractBarSeries*>(new QHorizontalStackedBarSeries)
                     : new QHorizontalBarSeries;
}

// The largest bar (or stack of bars) the value axis must reach.
double largest(const MoneyReport& r) {
    double top = 0;
    for (qsizetype i = 0; i < r.categories.size(); ++i) {
        double stack = 0;
        for (const MoneySeries& s : r.series) {
            if (!s.onChart) continue;
            const double v = s.values[size_t(i)].value_or(0);
            stack = r.stacked ? stack + std::max(v, 0.0) : std::max(stack, v);
        }
        top = std::max(top, stack);
    }
    return top;
}

// The value axis: about five whole steps of 1, 2 or 5 times a power of ten, so that the labels, shown
// without decimals, never repeat.
std::pair<double, int> valueScale(double largest) {
    if (!std::isfinite(largest) || largest < 1) largest = 1;
    const double target = largest / 5;
    double step = 1;
    while (step < target) {
        if (step * 2 >= target) {
            step *= 2;
            break;
        }
        if (step * 5 >= target) {
            step *= 5;
            break;
        }
        step *= 10;
    }
    const int steps = std::max(1, int(std::ceil(largest / step)));
    return {step * steps, steps + 1};
}

} // namespace

MoneyChart::MoneyChart(QWidget* parent) : QWidget(parent) {
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    auto* split = new QSplitter(Qt::Vertical, this);
    m_view = new QChartView(split);
    m_view->setObjectName(QStringLiteral("chMoney"));
    m_view->setRenderHint(QPainter::Antialiasing);
    m_view->setChart(makeChart(m_report, m_locale));
    m_table = new QTableWidget(split);
    m_table->setObjectName(QStringLiteral("grdMoney"));
    m_table->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_table->verticalHeader()->hide();
    split->addWidget(m_view);
    split->addWidget(m_table);
    split->setStretchFactor(0, 3);
    split->setStretchFactor(1, 1);
    layout->addWidget(split);
}

QChart* MoneyChart::chart() const {
    return m_view->chart();
}

void MoneyChart::setReport(MoneyReport report) {
    m_report = std::move(report);
    QChart* old = m_view->chart();
    QChart* chart = makeChart(m_report, m_locale);
    // A bar's numbers as a tooltip: the month or project, the series, the value as in the table.
    std::vector<size_t> shown; // the report's series behind each bar set
    for (size_t i = 0; i < m_report.series.size(); ++i)
        if (m_report.series[i].onChart) shown.push_back(i);
    for (QAbstractSeries* s : chart->series()) {
        auto* bars = static_cast<QAbstractBarSeries*>(s);
        connect(bars, &QAbstractBarSeries::hovered, this,
                [this, bars, shown](bool on, int bar, QBarSet* set) {
                    const qsizetype k = bars->barSets().indexOf(set);
                    const qsizetype count = m_report.categories.size();
                    // Horizontal bars went in backwards (see makeChart).
                    const qsizetype index = m_report.byMonth() ? bar : count - 1 - bar;
                    if (!on || k < 0 || size_t(k) >= shown.size() || index < 0 || index >= count) {
                        QToolTip::hideText();
                        return;
                    }
                    const MoneySeries& series = m_report.series[shown[size_t(k)]];
                    QToolTip::showText(QCursor::pos(), m_report.categories[index] + u'\n' + series.name +
                                                           QStringLiteral(": ") +
                                                           valueText(series, size_t(index), m_locale));
                });
    }
    m_view->setChart(chart);
    delete old;

    const QStringList header = tableHeader(m_report);
    const auto rows = tableRows(m_report, m_locale);
    m_table->clear();
    m_table->setColumnCount(int(header.size()));
    m_table->setRowCount(int(rows.size()));
    m_table->setHorizontalHeaderLabels(header);
    for (int r = 0; r < int(rows.size()); ++r)
        for (int c = 0; c < int(rows[size_t(r)].size()); ++c) {
            auto* item = new QTableWidgetItem(rows[size_t(r)][c]);
            if (c > 0) item->setTextAlignment(Qt::AlignRight | Qt::AlignVCenter);
            m_table->setItem(r, c, item);
        }
    m_table->resizeColumnsToContents();
}

QChart* MoneyChart::makeChart(const MoneyReport& r, const QLocale& locale) {
    auto* chart = new QChart;
    chart->setAnimationOptions(QChart::NoAnimation);
    chart->setBackgroundBrush(Qt::white);
    chart->setLocale(locale);
    chart->setLocalizeNumbers(true);
    QFont titleFont(QStringLiteral("Times New Roman"));
    titleFont.setBold(true);
    titleFont.setPixelSize(20);
    chart->setTitleFont(titleFont);
    // The title's second, smaller line says what the report counts.
    chart->setTitle(r.subtitle.isEmpty() ? r.title.toHtmlEscaped()
                                         : r.title.toHtmlEscaped() +
                                               QStringLiteral("<br><span style=\"font-size:12px; "
                                                              "font-weight:normal\">") +
                                               r.subtitle.toHtmlEscaped() + QStringLiteral("</span>"));

    const bool vertical = r.byMonth();
    QAbstractBarSeries* bars = newSeries(r);
    int shown = 0;
    bool money = false;
    for (const MoneySeries& s : r.series) {
        if (!s.onChart) continue;
        auto* set = new QBarSet(s.name);
        set->setColor(QColor::fromRgb(PieChart::paletteColour(shown++)));
        // Horizontal bars are drawn from the bottom up: the projects go in backwards so that the largest,
        // first in the table, stands on top.
        for (size_t i = 0; i < s.values.size(); ++i)
            *set << s.values[vertical ? i : s.values.size() - 1 - i].value_or(0);
        bars->append(set);
        money = money || s.money;
    }
    chart->addSeries(bars);
    chart->legend()->setVisible(shown > 1);
    chart->legend()->setAlignment(Qt::AlignBottom);

    auto* categories = new QBarCategoryAxis;
    QStringList names = r.categories;
    if (!vertical) std::reverse(names.begin(), names.end());
    categories->append(names);
    // Month names stand upright beside each other.
    if (vertical && r.categories.size() > 6) categories->setLabelsAngle(-90);
    auto* values = new QValueAxis;
    values->setLabelFormat(money ? QStringLiteral("%.0f ") + locale.currencySymbol()
                                 : QStringLiteral("%.0f"));
    const auto [top, ticks] = valueScale(largest(r));
    values->setRange(0, top);
    values->setTickCount(ticks);
    chart->addAxis(categories, vertical ? Qt::AlignBottom : Qt::AlignLeft);
    chart->addAxis(values, vertical ? Qt::AlignLeft : Qt::AlignBottom);
    bars->attachAxis(categories);
    bars->attachAxis(values);
    return chart;
}

void MoneyChart::paintChart(QPainter& p, const QRectF& area, const QSize& layout) const {
    QGraphicsScene scene;
    QChart* chart = makeChart(m_report, m_locale);
    scene.addItem(chart); // the scene owns it now
    chart->setGeometry(QRectF(QPointF(0, 0), QSizeF(layout)));
    scene.setSceneRect(chart->geometry());
    p.fillRect(area, Qt::white);
    scene.render(&p, area, scene.sceneRect(), Qt::IgnoreAspectRatio);
}

bool MoneyChart::printTo(QPrinter& printer) const {
    const QRectF page = preparePrintPage(printer);
    QPainter p;
    if (!p.begin(&printer)) return false;
    paintChart(p, QRectF(0, 0, page.width(), page.height()), QSize(800, 600));
    return p.end();
}

bool MoneyChart::saveJpeg(const QString& fileName) const {
    const QSize size = m_view->size().expandedTo(QSize(200, 150));
    QImage image(size, QImage::Format_RGB32);
    QPainter p(&image);
    paintChart(p, image.rect(), size);
    p.end();
    QImageWriter writer(fileName, "jpeg");
    writer.setQuality(90);
    return writer.write(image);
}

void MoneyChart::copyCsv() const {
    QApplication::clipboard()->setText(QString::fromUtf8(toCsv(m_report).mid(3)));
}

bool MoneyChart::saveCsv(const QString& fileName) const {
    // Written beside and renamed over: a failed save leaves the old file whole.
    QSaveFile file(fileName);
    if (!file.open(QIODevice::WriteOnly)) return false;
    const QByteArray csv = toCsv(m_report);
    return file.write(csv) == csv.size() && file.commit();
}

} // namespace zentaro::reports
