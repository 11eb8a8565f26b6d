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

QImage applicationImage(int size) {
    QImage image(size, size, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    p.scale(size / 256.0, size / 256.0);  // drawn in the SVG's 256-unit square
    const QColor blue(0x1f, 0x4e, 0x79);
    p.setPen(Qt::NoPen);
    p.setBrush(blue);
    p.drawRoundedRect(QRectF(16, 16, 224, 224), 40, 40);
    p.setBrush(QColor(0xf2, 0xf2, 0xf2));
    p.drawRoundedRect(QRectF(44, 36, 112, 184), 10, 10);
    p.setBrush(blue);
    for (const int y : {48, 88, 128, 168})
        for (const int x : {52, 132}) p.drawRoundedRect(QRectF(x, y, 16, 20), 3, 3);
    p.drawRoundedRect(QRectF(78, 48, 44, 60), 4, 4);
    p.drawRoundedRect(QRectF(78, 128, 44, 60), 4, 4);
    const QPolygonF arrow({QPointF(168, 96), QPointF(208, 96), QPointF(208, 152), QPointF(234, 152), QPointF(188, 204),
                           QPointF(142, 152), QPointF(168, 152)});
    p.setPen(QPen(Qt::white, 6, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p.setBrush(QColor(0xf3, 0x9c, 0x12));
    p.drawPolygon(arrow);
    return image;
}

QIcon applicationIcon() {
    QIcon icon;
    for (const int size : {16, 22, 24, 32, 48, 64, 128, 256}) icon.addPixmap(QPixmap::fromImage(applicationImage(size)));
    return icon;
}

}  // namespace vemlis
