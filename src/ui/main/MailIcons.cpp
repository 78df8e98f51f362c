#include "MailIcons.h"

#include <QPainter>
#include <QPainterPath>
#include <QPixmap>

namespace {

const QColor TrayColor(0x2f, 0x5d, 0x8a);
const QColor LetterColor(0xff, 0xfb, 0xe8);
const QColor FlapColor(0xc0, 0x39, 0x2b);

// The pictures are drawn on a 32-unit grid and scaled to each size.
template <class Paint> QIcon Painted(Paint paint)
{
    QIcon icon;
    for (int size : {16, 32, 48}) {
        QPixmap pixmap(size, size);
        pixmap.fill(Qt::transparent);
        QPainter painter(&pixmap);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.scale(size / 32.0, size / 32.0);
        paint(painter);
        icon.addPixmap(pixmap);
    }
    return icon;
}

void PaintTray(QPainter& painter)
{
    QPainterPath tray;
    tray.moveTo(2, 18);
    tray.lineTo(9, 18);
    tray.lineTo(11, 22);
    tray.lineTo(21, 22);
    tray.lineTo(23, 18);
    tray.lineTo(30, 18);
    tray.lineTo(30, 29);
    tray.lineTo(2, 29);
    tray.closeSubpath();
    painter.setPen(QPen(TrayColor.darker(140), 1.5));
    painter.setBrush(TrayColor);
    painter.drawPath(tray);
}

void PaintLetter(QPainter& painter)
{
    const QRectF letter(6, 3, 20, 14);
    painter.setPen(QPen(Qt::black, 1.2));
    painter.setBrush(LetterColor);
    painter.drawRect(letter);
    painter.setPen(QPen(FlapColor, 1.6));
    painter.drawLine(QPointF(6, 3), QPointF(16, 11));
    painter.drawLine(QPointF(26, 3), QPointF(16, 11));
}

} // namespace

QIcon NoMailIcon()
{
    return Painted([](QPainter& painter) { PaintTray(painter); });
}

QIcon MailPresentIcon()
{
    return Painted([](QPainter& painter) {
        PaintLetter(painter);
        PaintTray(painter);
    });
}

QIcon ProgramIcon()
{
    return MailPresentIcon();
}
