#include "ui/Pictures.h"

#include <QPainter>
#include <QPainterPath>

QPixmap pitchPicture(QSize size)
{
    QPixmap pixmap(size);
    pixmap.fill(QColor(46, 125, 50));
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    const int w = size.width(), h = size.height();
    // Mown stripes.
    for (int i = 0; i < 8; i += 2)
        p.fillRect(QRectF(i * w / 8.0, 0, w / 8.0, h), QColor(56, 142, 60));
    p.setPen(QPen(Qt::white, 1.5));
    p.setBrush(Qt::NoBrush);
    const QRectF field(4, 4, w - 8, h - 8);
    p.drawRect(field);
    p.drawLine(QPointF(w / 2.0, field.top()), QPointF(w / 2.0, field.bottom()));
    const double r = std::min(w, h) / 7.0;
    p.drawEllipse(QPointF(w / 2.0, h / 2.0), r, r);
    const double boxH = field.height() * 0.5, boxW = field.width() * 0.14;
    p.drawRect(QRectF(field.left(), h / 2.0 - boxH / 2, boxW, boxH));
    p.drawRect(QRectF(field.right() - boxW, h / 2.0 - boxH / 2, boxW, boxH));
    // A few cones and a ball, for a drill.
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(255, 152, 0));
    for (int i = 0; i < 3; ++i) {
        const QPointF c(w * (0.25 + 0.1 * i), h * (0.3 + 0.2 * i));
        QPainterPath cone;
        cone.moveTo(c.x(), c.y() - 4);
        cone.lineTo(c.x() - 3, c.y() + 3);
        cone.lineTo(c.x() + 3, c.y() + 3);
        cone.closeSubpath();
        p.drawPath(cone);
    }
    p.setBrush(Qt::white);
    p.drawEllipse(QPointF(w * 0.68, h * 0.62), 3.5, 3.5);
    return pixmap;
}

QIcon applicationIcon()
{
    QIcon icon;
    for (int side : {16, 32, 48, 64, 128}) {
        QPixmap pm(side, side);
        pm.fill(Qt::transparent);
        QPainter p(&pm);
        p.setRenderHint(QPainter::Antialiasing);
        const double m = side / 16.0;
        p.setPen(Qt::NoPen);
        p.setBrush(QColor(46, 125, 50));
        p.drawRoundedRect(QRectF(m, m * 2, side - 2 * m, side - 3 * m), 2 * m, 2 * m);
        p.setBrush(QColor(27, 94, 32));
        p.drawRect(QRectF(m, m * 2, side - 2 * m, side * 0.22));
        p.setBrush(Qt::white);
        for (int row = 0; row < 2; ++row)
            for (int col = 0; col < 3; ++col)
                p.drawRect(QRectF(m * (2.5 + col * 4), side * 0.45 + row * m * 4, m * 3, m * 2.5));
        icon.addPixmap(pm);
    }
    return icon;
}
