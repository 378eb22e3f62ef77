#include "app/TavimoIcon.h"

#include <QPainter>
#include <QPainterPath>
#include <QPixmap>

QIcon TavimoIcon() {
    static const QIcon icon = [] {
        QIcon result;
        for (int size : {16, 32, 64}) {
            QPixmap pixmap(size, size);
            pixmap.fill(Qt::transparent);
            QPainter p(&pixmap);
            p.setRenderHint(QPainter::Antialiasing);
            const double r = size / 2.0 - 1.0;
            p.translate(size / 2.0, size / 2.0);
            p.setPen(QPen(QColor(20, 40, 80), size / 16.0));
            p.setBrush(QColor(225, 235, 245));
            p.drawEllipse(QPointF(0, 0), r, r);
            QPainterPath north;
            north.moveTo(0, -r * 0.85);
            north.lineTo(r * 0.25, 0);
            north.lineTo(-r * 0.25, 0);
            north.closeSubpath();
            p.fillPath(north, QColor(200, 30, 30));
            QPainterPath south;
            south.moveTo(0, r * 0.85);
            south.lineTo(r * 0.25, 0);
            south.lineTo(-r * 0.25, 0);
            south.closeSubpath();
            p.fillPath(south, QColor(20, 40, 80));
            result.addPixmap(pixmap);
        }
        return result;
    }();
    return icon;
}
