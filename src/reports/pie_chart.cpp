#include "reports/pie_chart.h"

#include <algorithm>
#include <cmath>
#include <numbers>

#include <QImageWriter>
#include <QLinearGradient>
#include <QLocale>
#include <QPainter>
#include <QPainterPath>
#include <QPrinter>

namespace zentaro::reports {

namespace {

const unsigned kPalette[12] = {0x4466A3, 0xF39C35, 0xF14C14, 0x4E97A8, 0x2B406B, 0x1D7B63,
                               0xB3080E, 0xF2C05D, 0x5DB79E, 0x707070, 0xF3EA8D, 0xB4B4B4};

// "#,##0.###": grouped thousands, up to three decimals.
QString valueText(double v) {
    QString s = QLocale().toString(v, 'f', 3);
    const QChar dot = QLocale().decimalPoint().front();
    if (s.contains(dot)) {
        while (s.endsWith(u'0'))
            s.chop(1);
        if (s.endsWith(dot)) s.chop(1);
    }
    return s;
}

// "##0.## %"
QString percentText(double share) {
    QLocale plain;
    plain.setNumberOptions(QLocale::OmitGroupSeparator);
    QString s = plain.toString(share * 100.0, 'f', 2);
    const QChar dot = plain.decimalPoint().front();
    while (s.endsWith(u'0'))
        s.chop(1);
    if (s.endsWith(dot)) s.chop(1);
    return s + QStringLiteral(" %");
}

} // namespace

PieChart::PieChart(QWidget* parent) : QWidget(parent) {
    setObjectName(QStringLiteral("Rep"));
    setAutoFillBackground(false);
    setMinimumSize(200, 150);
}

void PieChart::setReport(Report report) {
    m_report = std::move(report);
    update();
    emit changed();
}

void PieChart::tilt(int delta) {
    const int e = m_elevation + delta;
    if (e > 280 && e < 380) m_elevation = e;
    update();
}

void PieChart::spin() {
    m_rotation = (m_rotation + 10) % 360;
    update();
}

void PieChart::togglePercent() {
    m_percent = !m_percent;
    update();
}

unsigned PieChart::paletteColour(int index) {
    return kPalette[index % 12];
}

QString PieChart::markText(size_t slice) const {
    const Slice& s = m_report.slices[slice];
    if (!m_percent) return s.label + valueText(s.value);
    // Shares of the magnitudes, as the slices are drawn: a negative value must not push others over 100 %.
    double sum = 0;
    for (const Slice& x : m_report.slices)
        sum += std::abs(x.value);
    return s.label + percentText(sum > 0 ? std::abs(s.value) / sum : 0);
}

void PieChart::paintChart(QPainter& p, const QRect& area) const {
    p.save();
    p.setRenderHint(QPainter::Antialiasing);
    p.fillRect(area, Qt::white);
    QFont titleFont(QStringLiteral("Times New Roman"));
    titleFont.setBold(true);
    titleFont.setPixelSize(20);
    p.setFont(titleFont);
    p.setPen(Qt::black);
    const QRect titleRect(area.left(), area.top() + 6, area.width(), 28);
    p.drawText(titleRect, Qt::AlignHCenter | Qt::AlignVCenter, m_report.title);

    double sum = 0;
    for (const Slice& s : m_report.slices)
        sum += std::abs(s.value);
    // The pie seen from the elevation: 270 is from the side, 360 from above.
    const double view = (m_elevation - 270) * std::numbers::pi / 180.0;
    const double squash = std::max(0.15, std::abs(std::sin(view)));
    const double depthFactor = std::max(0.0, std::cos(view));
    const QRect body = area.adjusted(12, titleRect.bottom() - area.top() + 12, -12, -12);
    const double radius =
        std::max(10.0, std::min(body.width() * 0.28, body.height() / (2.0 * squash) * 0.62));
    const double ry = radius * squash;
    const double depth = std::round(radius * 0.18 * depthFactor);
    const QPointF centre(body.center().x(), body.center().y() - depth / 2);
    const QRectF ellipse(centre.x() - radius, centre.y() - ry, 2 * radius, 2 * ry);

    QFont markFont = p.font();
    markFont.setFamily(QStringLiteral("Sans Serif"));
    markFont.setBold(false);
    markFont.setPixelSize(12);
    const QFontMetrics fm(markFont);

    struct Drawn {
        double start, span;
        QColor colour;
    };
    std::vector<Drawn> drawn;
    int automatic = 0;
    double angle = m_rotation;
    for (const Slice& s : m_report.slices) {
        const QColor c =
            s.rgb ? QColor::fromRgb(QRgb(*s.rgb)) : QColor::fromRgb(QRgb(paletteColour(automatic)));
        if (!s.rgb) ++automatic;
        const double span = sum > 0 ? std::abs(s.value) / sum * 360.0 : 0;
        drawn.push_back({angle, span, c});
        angle += span;
    }
    if (sum > 0) {
        // The side of the pie: the slices extruded downwards, darker, front parts last.
        for (int d = int(depth); d > 0; --d) {
            const QRectF e = ellipse.translated(0, d);
            for (const Drawn& s : drawn) {
                p.setPen(Qt::NoPen);
                p.setBrush(s.colour.darker(135));
                p.drawPie(e, int(s.start * 16), int(std::ceil(s.span * 16)));
            }
        }
        for (const Drawn& s : drawn) {
            p.setPen(QPen(s.colour.darker(150), 1));
            p.setBrush(s.colour);
            p.drawPie(ellipse, int(s.start * 16), int(std::ceil(s.span * 16)));
        }
    } else {
        p.setPen(QPen(QColor(0xB4B4B4), 1, Qt::DashLine));
        p.setBrush(Qt::NoBrush);
        p.drawEllipse(ellipse);
    }

    // Marks: at each slice's middle, an arrow of length 10 out of the pie to a rounded box; boxes on each
    // side are kept from overlapping by moving them down.
    p.setFont(markFont);
    struct Mark {
        QPointF tip, anchor;
        QRectF box;
        QString text;
        bool right;
    };
    std::vector<Mark> marks;
    for (size_t i = 0; i < drawn.size(); ++i) {
        const double mid = (drawn[i].start + drawn[i].span / 2) * std::numbers::pi / 180.0;
        const QPointF dir(std::cos(mid), -std::sin(mid));
        const QPointF tip(centre.x() + dir.x() * radius,
                          centre.y() + dir.y() * ry + (dir.y() > 0 ? depth : 0));
        const QPointF anchor = tip + dir * 10.0;
        const QString text = markText(i);
        const QSizeF size(fm.horizontalAdvance(text) + 10, fm.height() + 4);
        const bool right = dir.x() >= 0;
        const QRectF box(right ? anchor.x() : anchor.x() - size.width(), anchor.y() - size.height() / 2,
                         size.width(), size.height());
        marks.push_back({tip, anchor, box, text, right});
    }
    for (const bool side : {true, false}) {
        std::vector<Mark*> column;
        for (Mark& m : marks)
            if (m.right == side) column.push_back(&m);
        std::sort(column.begin(), column.end(), [](Mark* a, Mark* b) { return a->box.top() < b->box.top(); });
        double bottom = -1e9;
        for (Mark* m : column) {
            if (m->box.top() < bottom + 2) m->box.moveTop(bottom + 2);
            bottom = m->box.bottom();
        }
    }
    for (const Mark& m : marks) {
        p.setPen(QPen(Qt::black, 1));
        const QPointF join(m.right ? m.box.left() : m.box.right(), m.box.center().y());
        p.drawLine(m.tip, m.anchor);
        p.drawLine(m.anchor, join);
        QLinearGradient g(m.box.topLeft(), m.box.bottomLeft());
        g.setColorAt(0, Qt::white);
        g.setColorAt(1, QColor(0xE6, 0xE6, 0xE6));
        p.setBrush(g);
        p.setPen(QPen(QColor(0x80, 0x80, 0x80), 1));
        p.drawRoundedRect(m.box, 4, 4);
        p.setPen(Qt::black);
        p.drawText(m.box, Qt::AlignCenter, m.text);
    }
    p.restore();
}

void PieChart::paintEvent(QPaintEvent*) {
    QPainter p(this);
    paintChart(p, rect());
}

bool PieChart::printTo(QPrinter& printer) const {
    QRectF page = printer.pageRect(QPrinter::DevicePixel);
    if (page.width() < page.height()) {
        printer.setPageOrientation(QPageLayout::Landscape);
        page = printer.pageRect(QPrinter::DevicePixel);
    }
    printer.setDocName(QStringLiteral("Zentaro. Печать отчета."));
    QPainter p;
    if (!p.begin(&printer)) return false;
    // Laid out at 800 × 600, the width and height scaled each to the page.
    p.scale(page.width() / 800.0, page.height() / 600.0);
    paintChart(p, QRect(0, 0, 800, 600));
    return p.end();
}

bool PieChart::saveJpeg(const QString& fileName) const {
    QImage image(size(), QImage::Format_RGB32);
    QPainter p(&image);
    paintChart(p, image.rect());
    p.end();
    QImageWriter writer(fileName, "jpeg");
    writer.setQuality(90);
    return writer.write(image);
}

} // namespace zentaro::reports
