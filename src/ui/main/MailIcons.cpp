#include "MailIcons.h"

#include <algorithm>
#include <cstddef>

#include <QPainter>
#include <QPainterPath>
#include <QPixmap>

namespace {

const QColor TrayColor(0x2f, 0x5d, 0x8a);
const QColor LetterColor(0xff, 0xfb, 0xe8);
const QColor FlapColor(0xc0, 0x39, 0x2b);
const QColor BadgeColor(0xd3, 0x2f, 0x2f);
// The badge has room for two digits.
constexpr std::size_t MaxBadgeCount = 99;
constexpr const char* BadgeOverflowText = "99+";

// The pictures are drawn on a 32-unit grid and scaled to each size.
template <class Paint> QIcon painted(Paint paint)
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

void paintTray(QPainter& painter)
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

void paintLetter(QPainter& painter)
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

QIcon noMailIcon()
{
    return painted([](QPainter& painter) { paintTray(painter); });
}

QIcon mailPresentIcon()
{
    return painted([](QPainter& painter) {
        paintLetter(painter);
        paintTray(painter);
    });
}

QIcon programIcon()
{
    return mailPresentIcon();
}

QIcon trayPicture(const QIcon& base, bool listening, std::size_t unread)
{
    QIcon icon;
    for (int size : {16, 32, 48}) {
        QPixmap pixmap = base.pixmap(size, size, listening ? QIcon::Normal : QIcon::Disabled);
        if (unread > 0) {
            QPainter painter(&pixmap);
            painter.setRenderHint(QPainter::Antialiasing);
            const QRectF badge(size * 0.45, 0, size * 0.55, size * 0.55);
            painter.setPen(Qt::NoPen);
            painter.setBrush(BadgeColor);
            painter.drawEllipse(badge);
            QFont font = painter.font();
            font.setPixelSize(std::max(6, size / (unread > 9 ? 4 : 3)));
            font.setBold(true);
            painter.setFont(font);
            painter.setPen(Qt::white);
            const QString text
                = unread > MaxBadgeCount ? QString::fromLatin1(BadgeOverflowText) : QString::number(unread);
            painter.drawText(badge, Qt::AlignCenter, text);
        }
        icon.addPixmap(pixmap);
    }
    return icon;
}
