#include "res/AppIcon.h"

#include <QPainter>
#include <QPainterPath>

namespace AppIcon {

QImage Render(int size)
{
    QImage image(size, size, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    p.scale(size / 48.0, size / 48.0);

    // The token: a connector and a blue body.
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(150, 156, 166));
    p.drawRect(QRectF(1, 18, 7, 12));
    p.setBrush(QColor(43, 95, 168));
    p.drawRoundedRect(QRectF(6, 9, 40, 30), 6, 6);

    // A certificate on it.
    p.setBrush(Qt::white);
    p.drawRect(QRectF(13, 13, 22, 21));
    p.setPen(QPen(QColor(120, 140, 170), 2));
    for (int y : {18, 23, 28})
        p.drawLine(QPointF(16, y), QPointF(32, y));

    // The red cross of removal.
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(220, 30, 30));
    p.drawEllipse(QPointF(36, 35), 10, 10);
    p.setPen(QPen(Qt::white, 3, Qt::SolidLine, Qt::RoundCap));
    p.drawLine(QPointF(32, 31), QPointF(40, 39));
    p.drawLine(QPointF(40, 31), QPointF(32, 39));
    p.end();
    return image;
}

QIcon Load()
{
    QIcon icon;
    for (int size : {kSmallSize, kLargeSize, kExtraSize})
        icon.addPixmap(QPixmap::fromImage(Render(size)));
    return icon;
}

}  // namespace AppIcon
