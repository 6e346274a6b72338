// The 3D pie chart of the reports, painted here, for screen, printer and image.
#include "charts/pie_chart.h"

#include <algorithm>
#include <cmath>
#include <numbers>

#include <QHelpEvent>
#include <QImageWriter>
#include <QLinearGradient>
#include <QLocale>
#include <QPainter>
#include <QPainterPath>
#include <QPrinter>
#include <QToolTip>

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

struct PieChart::Layout {
    struct Drawn {
        double start, span;
        QColor colour;
    };
    struct Mark {
        QPointF tip, anchor;
        QRectF box;
        QString text;
        bool right;
        double span;
        bool shown = true;
    };
    QRect titleRect;
    QString title;
    QRectF ellipse;
    double depth = 0;
    bool pie = false;
    std::vector<Drawn> drawn;
    std::vector<Mark> marks;
    QFont titleFont, markFont;
};

PieChart::PieChart(QWidget* parent) : QWidget(parent) {
    setObjectName(QStringLiteral("Rep"));
    setAutoFillBackground(false);
    setMinimumSize(200, 150);
}

void PieChart::setReport(Report report) {
    m_report = std::move(report);
    m_shown = m_report.slices;
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
    const Slice& s = m_shown[slice];
    if (!m_percent) return s.label + valueText(s.value);
    // Shares of the magnitudes, as the slices are drawn: a negative value must not push others over 100 %.
    double sum = 0;
    for (const Slice& x : m_shown)
        sum += std::abs(x.value);
    return s.label + percentText(sum > 0 ? std::abs(s.value) / sum : 0);
}

PieChart::Layout PieChart::layout(const QRect& area) const {
    Layout l;
    l.titleFont = QFont(QStringLiteral("Times New Roman"));
    l.titleFont.setBold(true);
    l.titleFont.setPixelSize(20);
    l.titleRect = QRect(area.left() + 4, area.top() + 6, std::max(0, area.width() - 8), 28);
    l.title = QFontMetrics(l.titleFont).elidedText(m_report.title, Qt::ElideRight, l.titleRect.width());

    double sum = 0;
    for (const Slice& s : m_shown)
        sum += std::abs(s.value);
    l.pie = sum > 0;
    // The pie seen from the elevation: 270 is from the side, 360 from above.
    const double view = (m_elevation - 270) * std::numbers::pi / 180.0;
    const double squash = std::max(0.15, std::abs(std::sin(view)));
    const double depthFactor = std::max(0.0, std::cos(view));
    const QRect body = area.adjusted(12, l.titleRect.bottom() - area.top() + 12, -12, -12);
    const double radius =
        std::max(10.0, std::min(body.width() * 0.28, body.height() / (2.0 * squash) * 0.62));
    const double ry = radius * squash;
    l.depth = std::round(radius * 0.18 * depthFactor);
    const QPointF centre(body.center().x(), body.center().y() - l.depth / 2);
    l.ellipse = QRectF(centre.x() - radius, centre.y() - ry, 2 * radius, 2 * ry);

    l.markFont = l.titleFont;
    l.markFont.setFamily(QStringLiteral("Sans Serif"));
    l.markFont.setBold(false);
    l.markFont.setPixelSize(12);
    const QFontMetrics fm(l.markFont);

    int automatic = 0;
    double angle = m_rotation;
    for (const Slice& s : m_shown) {
        const QColor c =
            s.rgb ? QColor::fromRgb(QRgb(*s.rgb)) : QColor::fromRgb(QRgb(paletteColour(automatic)));
        if (!s.rgb) ++automatic;
        const double span = sum > 0 ? std::abs(s.value) / sum * 360.0 : 0;
        l.drawn.push_back({angle, span, c});
        angle += span;
    }

    // Marks: at each slice's middle, an arrow of length 10 out of the pie to a rounded box. The boxes stay
    // inside the area: on each side they are kept from overlapping, and when a side has no room for all,
    // the marks of its smallest slices are left out.
    const QRectF inside = QRectF(area).adjusted(1, l.titleRect.bottom() - area.top() + 2, -1, -1);
    for (size_t i = 0; i < l.drawn.size(); ++i) {
        const double mid = (l.drawn[i].start + l.drawn[i].span / 2) * std::numbers::pi / 180.0;
        const QPointF dir(std::cos(mid), -std::sin(mid));
        const QPointF tip(centre.x() + dir.x() * radius,
                          centre.y() + dir.y() * ry + (dir.y() > 0 ? l.depth : 0));
        const QPointF anchor = tip + dir * 10.0;
        const bool right = dir.x() >= 0;
        const double room = std::max(20.0, right ? inside.right() - anchor.x() : anchor.x() - inside.left());
        const QString text = fm.elidedText(markText(i), Qt::ElideRight, int(std::max(10.0, room - 10.0)));
        const QSizeF size(std::min(room, double(fm.horizontalAdvance(text) + 10)), fm.height() + 4);
        QRectF box(right ? anchor.x() : anchor.x() - size.width(), anchor.y() - size.height() / 2,
                   size.width(), size.height());
        box.moveLeft(
            std::clamp(box.left(), inside.left(), std::max(inside.left(), inside.right() - box.width())));
        l.marks.push_back({tip, anchor, box, text, right, l.drawn[i].span, true});
    }
    for (const bool side : {true, false}) {
        std::vector<Layout::Mark*> column;
        for (Layout::Mark& m : l.marks)
            if (m.right == side) column.push_back(&m);
        const double step = fm.height() + 6;
        const auto fits = size_t(std::max(0.0, std::floor((inside.height() + 2) / step)));
        if (column.size() > fits) {
            std::vector<Layout::Mark*> bySize = column;
            std::stable_sort(bySize.begin(), bySize.end(),
                             [](const Layout::Mark* a, const Layout::Mark* b) { return a->span > b->span; });
            for (size_t k = fits; k < bySize.size(); ++k)
                bySize[k]->shown = false;
            std::erase_if(column, [](const Layout::Mark* m) { return !m->shown; });
        }
        std::sort(column.begin(), column.end(),
                  [](const Layout::Mark* a, const Layout::Mark* b) { return a->box.top() < b->box.top(); });
        double bottom = inside.top() - 2;
        for (Layout::Mark* m : column) {
            if (m->box.top() < bottom + 2) m->box.moveTop(bottom + 2);
            bottom = m->box.bottom();
        }
        // Pushed past the bottom: back up from the bottom edge.
        double top = inside.bottom() + 2;
        for (auto it = column.rbegin(); it != column.rend(); ++it) {
            Layout::Mark* m = *it;
            if (m->box.bottom() > top - 2) m->box.moveBottom(top - 2);
            top = m->box.top();
        }
    }
    return l;
}

std::vector<QRectF> PieChart::markBoxes(const QRect& area) const {
    std::vector<QRectF> boxes;
    const Layout l = layout(area);
    for (const Layout::Mark& m : l.marks)
        boxes.push_back(m.shown ? m.box : QRectF());
    return boxes;
}

void PieChart::paintChart(QPainter& p, const QRect& area) const {
    const Layout l = layout(area);
    p.save();
    p.setRenderHint(QPainter::Antialiasing);
    p.fillRect(area, Qt::white);
    p.setFont(l.titleFont);
    p.setPen(Qt::black);
    p.drawText(l.titleRect, Qt::AlignHCenter | Qt::AlignVCenter, l.title);

    if (l.pie) {
        // The side of the pie: the slices extruded downwards, darker, front parts last.
        for (int d = int(l.depth); d > 0; --d) {
            const QRectF e = l.ellipse.translated(0, d);
            for (const Layout::Drawn& s : l.drawn) {
                p.setPen(Qt::NoPen);
                p.setBrush(s.colour.darker(135));
                p.drawPie(e, int(s.start * 16), int(std::ceil(s.span * 16)));
            }
        }
        for (const Layout::Drawn& s : l.drawn) {
            p.setPen(QPen(s.colour.darker(150), 1));
            p.setBrush(s.colour);
            p.drawPie(l.ellipse, int(s.start * 16), int(std::ceil(s.span * 16)));
        }
    } else {
        p.setPen(QPen(QColor(0xB4B4B4), 1, Qt::DashLine));
        p.setBrush(Qt::NoBrush);
        p.drawEllipse(l.ellipse);
    }

    p.setFont(l.markFont);
    for (const Layout::Mark& m : l.marks) {
        if (!m.shown) continue;
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

int PieChart::sliceAt(const QRect& area, const QPointF& point) const {
    const Layout l = layout(area);
    if (!l.pie) return -1;
    // Marks first: a pointer on a mark means its slice.
    for (size_t i = 0; i < l.marks.size(); ++i)
        if (l.marks[i].shown && l.marks[i].box.contains(point)) return int(i);
    // On the top face: the angle from the centre, as the slices were laid out (counter-clockwise, y down).
    const QPointF c = l.ellipse.center();
    const double rx = l.ellipse.width() / 2, ry = l.ellipse.height() / 2;
    if (rx <= 0 || ry <= 0) return -1;
    const double dx = (point.x() - c.x()) / rx, dy = (point.y() - c.y()) / ry;
    if (dx * dx + dy * dy > 1) return -1;
    double angle = std::atan2(-dy, dx) * 180.0 / std::numbers::pi;
    for (size_t i = 0; i < l.drawn.size(); ++i) {
        const double from = std::fmod(l.drawn[i].start, 360.0);
        const double offset = std::fmod(angle - from + 720.0, 360.0);
        if (l.drawn[i].span > 0 && offset < l.drawn[i].span) return int(i);
    }
    return -1;
}

bool PieChart::event(QEvent* e) {
    // A slice whose mark had no room still tells its label and value under the pointer.
    if (e->type() == QEvent::ToolTip) {
        const auto* help = static_cast<QHelpEvent*>(e);
        const int slice = sliceAt(rect(), help->pos());
        if (slice >= 0)
            QToolTip::showText(help->globalPos(), markText(size_t(slice)), this);
        else
            QToolTip::hideText();
        return true;
    }
    return QWidget::event(e);
}

void PieChart::paintEvent(QPaintEvent*) {
    QPainter p(this);
    paintChart(p, rect());
}

QRectF preparePrintPage(QPrinter& printer) {
    QRectF page = printer.pageRect(QPrinter::DevicePixel);
    if (page.width() < page.height()) {
        printer.setPageOrientation(QPageLayout::Landscape);
        page = printer.pageRect(QPrinter::DevicePixel);
    }
    printer.setDocName(QStringLiteral("Zentaro. Печать отчета."));
    return page;
}

bool PieChart::printTo(QPrinter& printer) const {
    const QRectF page = preparePrintPage(printer);
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
