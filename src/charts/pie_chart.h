// The 3D pie chart of the reports, painted here, for screen, printer and image.
#pragma once

#include <QWidget>

#include "reports/report_builders.h"

class QPainter;
class QPrinter;

namespace zentaro::reports {

// The report chart: a tilted 3D pie painted here, with a mark (label and value or percentage, joined by a
// short arrow) at every slice and the title line above it. Screen, printer and image use the same painting.
class PieChart : public QWidget {
    Q_OBJECT
public:
    static constexpr int kStartElevation = 315;

    explicit PieChart(QWidget* parent = nullptr);

    void setReport(Report report);
    const Report& report() const { return m_report; }
    // The slices as drawn: every slice of the report, however small (marks that find no room are left out;
    // the slice's hint still says its label and value).
    const std::vector<Slice>& shownSlices() const { return m_shown; }

    int elevation() const { return m_elevation; }
    int rotation() const { return m_rotation; }

    // Tilt by delta degrees; applied only while 280 < elevation < 380.
    void tilt(int delta);
    // Turn the slices by 10 degrees.
    void spin();
    // Marks between label with value and label with percentage.
    void togglePercent();

    // The text of a shown slice's mark.
    QString markText(size_t slice) const;
    // Where the marks of the shown slices are drawn in the area (an empty box for a mark left out because
    // the chart has no room for it).
    std::vector<QRectF> markBoxes(const QRect& area) const;
    // The slice under a point of the area (its top face or its mark); -1 for none.
    int sliceAt(const QRect& area, const QPointF& point) const;
    // The colour a slice is drawn in: its own, or the palette's in turn over the palette slices.
    static unsigned paletteColour(int index);

    // Paints the chart into the rectangle (white background, title, pie, marks).
    void paintChart(QPainter& p, const QRect& area) const;
    // The chart laid out at 800 × 600 and scaled onto the printer's page, landscape when the page is taller
    // than wide; the job is titled "Zentaro. Печать отчета.". False when printing failed.
    bool printTo(QPrinter& printer) const;
    // The chart at its current size as a JPEG of quality 90; false when the file could not be written.
    bool saveJpeg(const QString& fileName) const;

signals:
    void changed();

protected:
    bool event(QEvent* e) override;
    void paintEvent(QPaintEvent* event) override;

private:
    struct Layout;
    Layout layout(const QRect& area) const;

    Report m_report;
    std::vector<Slice> m_shown;
    int m_elevation = kStartElevation;
    int m_rotation = 0;
    bool m_percent = false;
};

// Turns the printer's page to landscape, names the document and gives the page's printable rect: the one
// page set-up of every chart's printing.
QRectF preparePrintPage(QPrinter& printer);

} // namespace zentaro::reports
