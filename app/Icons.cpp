#include "Icons.h"

#include <QPainter>
#include <QPixmap>

namespace vemlis {

namespace {

QIcon draw(const std::function<void(QPainter&)>& paint) {
    QPixmap pixmap(16, 16);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    paint(painter);
    return QIcon(pixmap);
}

void tick(QPainter& p, QColor colour) {
    p.setPen(QPen(colour, 2.5, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p.drawPolyline(QPolygonF({QPointF(2.5, 8.5), QPointF(6.5, 12.5), QPointF(13.5, 3.5)}));
}

}  // namespace

QList<QIcon> statisticsIcons() {
    return {
        draw([](QPainter& p) {
            p.setPen(QPen(Qt::black, 1.5));
            p.setBrush(Qt::black);
            for (int row = 0; row < 3; ++row) {
                const double y = 3.5 + row * 4.5;
                p.drawEllipse(QPointF(3, y), 1.5, 1.5);
                p.drawLine(QPointF(6.5, y), QPointF(14, y));
            }
        }),
        draw([](QPainter& p) { tick(p, Qt::black); }),
        draw([](QPainter& p) { tick(p, QColor(0, 150, 0)); }),
        draw([](QPainter& p) {
            p.setPen(QPen(QColor(210, 0, 0), 2.5, Qt::SolidLine, Qt::RoundCap));
            p.drawLine(QPointF(3.5, 3.5), QPointF(12.5, 12.5));
            p.drawLine(QPointF(12.5, 3.5), QPointF(3.5, 12.5));
        }),
    };
}

}  // namespace vemlis
