// The bar chart of the money and time reports, with its table, for screen, printer and image.
#pragma once

#include <QLocale>
#include <QWidget>

#include "reports/money_reports.h"

class QChart;
class QChartView;
class QPainter;
class QPrinter;
class QTableWidget;

namespace zentaro::reports {

// A report of money and time: its bars drawn with Qt Charts above the table of the same numbers. Screen,
// printer and image are drawn from one chart built for the report.
class MoneyChart : public QWidget {
    Q_OBJECT
public:
    explicit MoneyChart(QWidget* parent = nullptr);

    void setReport(MoneyReport report);
    const MoneyReport& report() const { return m_report; }
    QChart* chart() const;
    QTableWidget* table() const { return m_table; }

    // The chart of a report: bars (stacked or side by side) of the series shown on it, the category axis
    // with months or projects, the value axis in the locale's numbers with the currency sign for money.
    static QChart* makeChart(const MoneyReport& report, const QLocale& locale);
    // Draws the report's chart, laid out at the given size, scaled into the rectangle.
    void paintChart(QPainter& p, const QRectF& area, const QSize& layout) const;
    // Laid out at 800 × 600 and scaled onto the page, landscape when the page is taller than wide.
    bool printTo(QPrinter& printer) const;
    // The chart at its size on screen as a JPEG of quality 90; false when the file could not be written.
    bool saveJpeg(const QString& fileName) const;
    // The table as CSV into the clipboard, or into a file (false when it could not be written).
    void copyCsv() const;
    bool saveCsv(const QString& fileName) const;

private:
    MoneyReport m_report;
    QLocale m_locale;
    QChartView* m_view = nullptr;
    QTableWidget* m_table = nullptr;
};

} // namespace zentaro::reports
