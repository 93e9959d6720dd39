#include "print/PrintPictures.h"

#include <QPainter>
#include <QPainterPath>

QPixmap printerPicture()
{
    QPixmap pm(27, 27);
    pm.fill(Qt::transparent);
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing);
    const QColor outline(60, 60, 60);
    // Paper going in at the back.
    p.setPen(QPen(outline, 1));
    p.setBrush(Qt::white);
    p.drawRect(QRectF(7.5, 2.5, 12, 9));
    // Body.
    p.setBrush(QColor(176, 190, 197));
    p.drawRoundedRect(QRectF(2.5, 10.5, 22, 10), 2, 2);
    p.setBrush(QColor(120, 144, 156));
    p.drawRect(QRectF(2.5, 17.5, 22, 3));
    // The printed page coming out, with a few lines of text.
    p.setBrush(Qt::white);
    p.drawRect(QRectF(7.5, 17.5, 12, 7));
    p.setPen(QPen(QColor(46, 125, 50), 1));
    p.drawLine(QPointF(9.5, 20.5), QPointF(17.5, 20.5));
    p.drawLine(QPointF(9.5, 22.5), QPointF(15.5, 22.5));
    // Power light.
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(76, 175, 80));
    p.drawEllipse(QPointF(21, 13.5), 1.2, 1.2);
    return pm;
}

QPixmap magnifierPicture()
{
    QPixmap pm(16, 16);
    pm.fill(Qt::transparent);
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing);
    // Handle first, so the rim covers its end.
    p.setPen(QPen(QColor(93, 64, 55), 3, Qt::SolidLine, Qt::RoundCap));
    p.drawLine(QPointF(10, 10), QPointF(14, 14));
    p.setPen(QPen(QColor(60, 60, 60), 1.5));
    p.setBrush(QColor(187, 222, 251));
    p.drawEllipse(QPointF(6.5, 6.5), 4.5, 4.5);
    // A glint on the glass.
    p.setPen(QPen(Qt::white, 1.2, Qt::SolidLine, Qt::RoundCap));
    p.drawArc(QRectF(3.5, 3.5, 6, 6), 100 * 16, 70 * 16);
    return pm;
}
