#pragma once

#include <functional>

#include <QObject>

#include "app/pane_kit.h"

class QComboBox;
class QPrinter;

namespace zentaro::reports {
class PieChart;
}

namespace zentaro::app {

// The report tab: the report chooser, "Построить", and the chart with its six buttons (print, tilt, spin,
// values or percentages, save as JPEG).
class ReportPane : public QObject {
    Q_OBJECT
public:
    ReportPane(const PaneContext& ctx, QWidget* page);

    reports::PieChart* chart() const { return m_chart; }

    void bGetReportClick();
    void sbRepPrintClick();
    void SpeedButton8Click();

    // The print dialog; replaced by tests. False when the user cancels.
    std::function<bool(QPrinter&)> choosePrinter;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    PaneContext m_ctx;
    QComboBox* m_cbRep = nullptr;
    reports::PieChart* m_chart = nullptr;
};

} // namespace zentaro::app
