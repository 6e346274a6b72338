// Icons from the desktop theme, with the program's own drawings where the theme has none.
#include "widgets/icons.h"

#include <functional>

#include <QApplication>
#include <QPainter>
#include <QPainterPath>
#include <QPixmap>

namespace zentaro::app {

namespace {

using Drawing = std::function<void(QPainter&)>;

// The program's own pictures, drawn on a 16 × 16 grid, for names the desktop's theme does not have.
Drawing ownDrawing(const QString& name) {
    const QColor ink(0x30, 0x30, 0x30);
    const QColor blue(0x2b, 0x5f, 0xb4);
    const QColor green(0x1d, 0x8a, 0x3a);
    auto chain = [blue](QPainter& p) {
        p.setPen(QPen(blue, 1.6));
        p.setBrush(Qt::NoBrush);
        p.save();
        p.translate(8, 8);
        p.rotate(-45);
        p.drawRoundedRect(QRectF(-7, -2.5, 7.5, 5), 2.5, 2.5);
        p.drawRoundedRect(QRectF(-0.5, -2.5, 7.5, 5), 2.5, 2.5);
        p.restore();
    };
    if (name == QLatin1String("document-print"))
        return [ink](QPainter& p) {
            p.setPen(QPen(ink, 1));
            p.setBrush(Qt::white);
            p.drawRect(QRectF(4.5, 1.5, 7, 5)); // the paper going in
            p.setBrush(QColor(0xb0, 0xb0, 0xb0));
            p.drawRoundedRect(QRectF(1.5, 6.5, 13, 6), 1.5, 1.5);
            p.setBrush(Qt::white);
            p.drawRect(QRectF(4.5, 10.5, 7, 4.5)); // the printed sheet
            p.drawLine(QPointF(6, 12.5), QPointF(10, 12.5));
        };
    if (name == QLatin1String("internet-web-browser"))
        return [blue](QPainter& p) {
            p.setPen(QPen(blue, 1.2));
            p.setBrush(QColor(0xdd, 0xea, 0xfb));
            p.drawEllipse(QRectF(1.5, 1.5, 13, 13));
            p.setBrush(Qt::NoBrush);
            p.drawEllipse(QRectF(5, 1.5, 6, 13));
            p.drawLine(QPointF(1.5, 8), QPointF(14.5, 8));
            p.drawLine(QPointF(8, 1.5), QPointF(8, 14.5));
        };
    if (name == QLatin1String("view-refresh"))
        return [green](QPainter& p) {
            p.setPen(QPen(green, 2, Qt::SolidLine, Qt::RoundCap));
            p.setBrush(Qt::NoBrush);
            p.drawArc(QRectF(2.5, 2.5, 11, 11), 60 * 16, 280 * 16);
            p.setPen(Qt::NoPen);
            p.setBrush(green);
            p.drawPolygon(QPolygonF({QPointF(9, 0.5), QPointF(14, 3.5), QPointF(9, 6.5)}));
        };
    if (name == QLatin1String("system-search"))
        return [ink, blue](QPainter& p) {
            p.setPen(QPen(blue, 1.6));
            p.setBrush(QColor(0xee, 0xf4, 0xff));
            p.drawEllipse(QRectF(1.5, 1.5, 9, 9));
            p.setPen(QPen(ink, 2.4, Qt::SolidLine, Qt::RoundCap));
            p.drawLine(QPointF(10, 10), QPointF(14.5, 14.5));
        };
    if (name == QLatin1String("go-jump"))
        return [ink, blue](QPainter& p) {
            p.setPen(QPen(ink, 1));
            p.setBrush(Qt::white);
            p.drawRect(QRectF(1.5, 4.5, 10, 10));
            p.setPen(QPen(blue, 1.8, Qt::SolidLine, Qt::RoundCap));
            p.drawLine(QPointF(6, 10), QPointF(14, 2));
            p.drawLine(QPointF(9.5, 2), QPointF(14, 2));
            p.drawLine(QPointF(14, 2), QPointF(14, 6.5));
        };
    if (name == QLatin1String("insert-link")) return chain;
    if (name == QLatin1String("zentaro-link-check"))
        return [chain, green](QPainter& p) {
            p.save();
            p.translate(-2, -2);
            p.scale(0.85, 0.85);
            chain(p);
            p.restore();
            p.setPen(QPen(green, 2.2, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
            p.setBrush(Qt::NoBrush);
            p.drawPolyline(QPolygonF({QPointF(8, 12), QPointF(10.5, 14.5), QPointF(15, 9)}));
        };
    if (name == QLatin1String("emblem-default"))
        return [green](QPainter& p) {
            p.setPen(Qt::NoPen);
            p.setBrush(green);
            p.drawEllipse(QRectF(1, 1, 14, 14));
            p.setPen(QPen(Qt::white, 2, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
            p.drawPolyline(QPolygonF({QPointF(4.5, 8.5), QPointF(7, 11), QPointF(11.5, 5.5)}));
        };
    if (name == QLatin1String("open-menu"))
        return [ink](QPainter& p) {
            p.setPen(QPen(ink, 2, Qt::SolidLine, Qt::RoundCap));
            for (const double y : {4.0, 8.0, 12.0})
                p.drawLine(QPointF(3, y), QPointF(13, y));
        };
    return {};
}

QIcon drawnIcon(const Drawing& draw) {
    QIcon icon;
    for (const int side : {16, 32}) {
        QPixmap pixmap(side, side);
        pixmap.fill(Qt::transparent);
        QPainter p(&pixmap);
        p.setRenderHint(QPainter::Antialiasing);
        p.scale(side / 16.0, side / 16.0);
        draw(p);
        p.end();
        icon.addPixmap(pixmap);
    }
    return icon;
}

} // namespace

QIcon themeIcon(const char* name, QStyle::StandardPixmap fallback) {
    const QString n = QString::fromLatin1(name);
    if (QIcon::hasThemeIcon(n)) return QIcon::fromTheme(n);
    if (const Drawing draw = ownDrawing(n)) return drawnIcon(draw);
    return QApplication::style()->standardIcon(fallback);
}

} // namespace zentaro::app
