// Drawing of the progress images.
#include "gui/ProgressIcons.h"

#include <QPainter>
#include <QPainterPath>
#include <QPolygonF>

namespace ab {
namespace {

void DrawArrow(QPainter& p) {
    // Shaft and head as one outline, so the fill has no seam.
    const QPolygonF arrow(
        {{1.5, 6.0}, {8.0, 6.0}, {8.0, 2.0}, {14.5, 8.0}, {8.0, 14.0}, {8.0, 10.0}, {1.5, 10.0}});
    p.setPen(QPen(QColor(0x0E, 0x3F, 0x9A), 1.0, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p.setBrush(QColor(0x1E, 0x6F, 0xE0));
    p.drawPolygon(arrow);
}

void DrawCheck(QPainter& p) {
    QPainterPath tick;
    tick.moveTo(2.5, 8.5);
    tick.lineTo(6.0, 12.0);
    tick.lineTo(13.5, 3.5);
    p.setBrush(Qt::NoBrush);
    p.setPen(QPen(QColor(0x12, 0x7A, 0x2A), 3.4, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p.drawPath(tick);
    p.setPen(QPen(QColor(0x2E, 0xB8, 0x4A), 2.0, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p.drawPath(tick);
}

void DrawCross(QPainter& p) {
    const QLineF a(3.5, 3.5, 12.5, 12.5);
    const QLineF b(12.5, 3.5, 3.5, 12.5);
    p.setPen(QPen(QColor(0x9A, 0x10, 0x10), 3.6, Qt::SolidLine, Qt::RoundCap));
    p.drawLine(a);
    p.drawLine(b);
    p.setPen(QPen(QColor(0xE0, 0x24, 0x24), 2.2, Qt::SolidLine, Qt::RoundCap));
    p.drawLine(a);
    p.drawLine(b);
}

// A grey circle with a bar: passed over, neither done nor failed.
void DrawSkipped(QPainter& p) {
    p.setPen(QPen(QColor(0x6A, 0x6A, 0x6A), 1.6));
    p.setBrush(QColor(0xD8, 0xD8, 0xD8));
    p.drawEllipse(QPointF(8.0, 8.0), 6.2, 6.2);
    p.setPen(QPen(QColor(0x55, 0x55, 0x55), 2.2, Qt::SolidLine, Qt::RoundCap));
    p.drawLine(QLineF(4.8, 8.0, 11.2, 8.0));
}

}  // namespace

QPixmap DrawProgressIcon(int index) {
    if (index < 0 || index >= kProgressIconCount)
        return {};
    // Drawn into an image so the result does not depend on the screen's pixel format.
    QImage image(kProgressIconSize, kProgressIconSize, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    {
        QPainter p(&image);
        p.setRenderHint(QPainter::Antialiasing);
        switch (index) {
            case 0:
                DrawArrow(p);
                break;
            case 1:
                DrawCheck(p);
                break;
            case 2:
                DrawCross(p);
                break;
            default:
                DrawSkipped(p);
                break;
        }
    }
    return QPixmap::fromImage(image);
}

}  // namespace ab
