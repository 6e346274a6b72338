// The report tab: chooses a report, builds it and shows it as a pie or as bars with their table.
#pragma once

#include <functional>

#include <QObject>

#include "widgets/pane_kit.h"

class QComboBox;
class QPrinter;
class QStackedWidget;

namespace zentaro::reports {
class MoneyChart;
class PieChart;
} // namespace zentaro::reports

namespace zentaro::app {

// The report tab: the report chooser, "Построить", and the chart with its six buttons (print, tilt, spin,
// values or percentages, save as JPEG). The reports of money and time show their bar chart and table in
// place of the pie, with their own buttons (print, JPEG, copy and save the table as CSV).
class ReportPane : public QObject {
    Q_OBJECT
public:
    ReportPane(const PaneContext& ctx, QWidget* page);

    reports::PieChart* chart() const { return m_chart; }
    reports::MoneyChart* moneyChart() const { return m_money; }

    void bGetReportClick();
    void sbRepPrintClick();
    void SpeedButton8Click();
    void sbMoneyPrintClick();
    void sbMoneyJpegClick();
    void sbMoneyCsvClick();

    // The print dialog; replaced by tests. False when the user cancels.
    std::function<bool(QPrinter&)> choosePrinter;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    PaneContext m_ctx;
    QComboBox* m_cbRep = nullptr;
    reports::PieChart* m_chart = nullptr;
    QComboBox* m_cbRepPeriod = nullptr;
    QComboBox* m_cbRepProject = nullptr;
    QStackedWidget* m_stack = nullptr;
    reports::MoneyChart* m_money = nullptr;

    QWidget* moneyPage(QWidget* page);
};

} // namespace zentaro::app
