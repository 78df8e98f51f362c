// Takes the documentation's screenshots of the main window: a captured message on show, and a
// message found by a body search with the hit selected; then the message window with an HTML mail
// and with that mail's attachments, and with its list; last, with the message window in front, a
// burst of mail: the tray icon with its count and menu, and the desktop's notice of the burst.
// The messages arrive through the window's own listener on a loopback port, as from any client.
// The tray and the notices need a tray host and a notification service on the session bus
// (scripts/screenshots.sh starts them).
// Usage: quellpost-screenshots <output folder> [file name suffix, e.g. @2x]
// The window follows QT_SCALE_FACTOR, so the pictures come out at that scale.

#include <cstdio>
#include <cstdlib>
#include <string>
#include <utility>

#include <QAction>
#include <QApplication>
#include <QBuffer>
#include <QPainter>
#include <QTabWidget>
#include <QComboBox>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusInterface>
#include <QDBusReply>
#include <QDir>
#include <QMenu>
#include <QScreen>
#include <QSystemTrayIcon>
#include <QLineEdit>
#include <QPushButton>
#include <QWindow>

#include "LoopbackClient.h"
#include "MailNotifications.h"
#include "MainWindowDriver.h"
#include "SmtpListener.h"
#include "frmMain.h"
#include "frmMessage.h"

namespace {

[[noreturn]] void fail(const std::string& what)
{
    std::fprintf(stderr, "quellpost-screenshots: %s\n", what.c_str());
    std::exit(1);
}

// Hands the window one message through its listener, as any client would.
void send(LoopbackClient& client, const std::string& from, const std::string& to, const std::string& data)
{
    const std::pair<std::string, const char*> dialogue[]
        = {{"MAIL FROM:<" + from + ">", "250"}, {"RCPT TO:<" + to + ">", "250"}, {"DATA", "354"}, {data + ".", "250"}};
    for (const auto& [line, code] : dialogue)
        if (const std::string reply = client.command(line); !reply.starts_with(code))
            fail("unexpected reply \"" + reply + "\", expected " + code);
}

void save(frmMain& window, const QString& folder, const QString& name)
{
    // Messages that arrive in a burst are painted together a moment after the burst.
    if (!waitFor([&] { return window.centralWidget()->updatesEnabled(); }))
        fail("the window was never repainted");
    QCoreApplication::processEvents();
    const QString path = QDir(folder).filePath(name);
    if (!window.grab().save(path))
        fail("cannot write " + path.toStdString());
    std::printf("%s\n", qPrintable(path));
}

std::string base64Lines(const QByteArray& bytes)
{
    std::string text;
    const QByteArray encoded = bytes.toBase64();
    for (qsizetype i = 0; i < encoded.size(); i += 76)
        text += encoded.mid(i, 76).toStdString() + "\r\n";
    return text;
}

// The shop's logo, as an HTML mail carries it inline.
QByteArray logo()
{
    QImage image(120, 36, QImage::Format_RGB32);
    image.fill(QColor(0x1f, 0x6f, 0xb2));
    QPainter painter(&image);
    painter.setPen(Qt::white);
    QFont font = painter.font();
    font.setBold(true);
    font.setPixelSize(20);
    painter.setFont(font);
    painter.drawText(image.rect(), Qt::AlignCenter, QStringLiteral("Example"));
    painter.end();
    QByteArray bytes;
    QBuffer buffer(&bytes);
    image.save(&buffer, "PNG");
    return bytes;
}

// An order confirmation as shops send it: a table laid out with inline CSS, the logo inline, a
// tracking pixel, the invoice and a delivery note attached.
std::string htmlMail()
{
    std::string rows;
    const char* items[][2] = {{"1 &times; Desk lamp", "39.90 &euro;"}, {"2 &times; Light bulb", "7.80 &euro;"}};
    for (const auto& item : items)
        rows += std::string("<tr><td style=\"padding:6px;border-bottom:1px solid #ddd\">") + item[0]
            + "</td><td align=right style=\"padding:6px;border-bottom:1px solid #ddd\">" + item[1] + "</td></tr>";
    return "From: Example Shop <orders@shop.example.com>\r\n"
           "To: =?UTF-8?Q?J=C3=BCrgen_M=C3=BCller?= <juergen@example.com>\r\n"
           "Subject: =?UTF-8?Q?Ihre_Bestellung_58214_=E2=80=93_Rechnung?=\r\n"
           "Date: Sun, 6 Dec 2026 22:10:00 +0100\r\n"
           "MIME-Version: 1.0\r\n"
           "Content-Type: multipart/mixed; boundary=\"mixed\"\r\n\r\n"
           "--mixed\r\nContent-Type: multipart/related; boundary=\"related\"\r\n\r\n"
           "--related\r\nContent-Type: multipart/alternative; boundary=\"alt\"\r\n\r\n"
           "--alt\r\nContent-Type: text/plain; charset=utf-8\r\nContent-Transfer-Encoding: quoted-printable\r\n\r\n"
           "Hallo J=C3=BCrgen, thank you for your order 58214.\r\n"
           "--alt\r\nContent-Type: text/html; charset=utf-8\r\n\r\n"
           "<html><body style=\"font-family:sans-serif;color:#222\">"
           "<table width=\"100%\" cellspacing=0 cellpadding=0><tr><td style=\"background:#1f6fb2;padding:8px\">"
           "<img src=\"cid:logo@shop\" alt=\"Example Shop\"></td></tr></table>"
           "<h2 style=\"color:#1f6fb2\">Thank you for your order</h2>"
           "<p>Hallo J\xc3\xbcrgen,<br>we are packing your order <b>58214</b>. The invoice is attached.</p>"
           "<table width=\"60%\" cellspacing=0 style=\"border:1px solid #ddd\">"
           "<tr style=\"background:#f0f4f8\"><th align=left style=\"padding:6px\">Item</th>"
           "<th align=right style=\"padding:6px\">Price</th></tr>"
        + rows
        + "<tr><td style=\"padding:6px\"><b>Total</b></td><td align=right style=\"padding:6px\"><b>47.70 &euro;</b>"
          "</td></tr></table>"
          "<p><a href=\"https://shop.example.com/orders/58214\" style=\"background:#1f6fb2;color:#fff;padding:8px\">"
          "Track your parcel</a></p>"
          "<img src=\"https://track.example.com/open.gif?id=58214\" width=1 height=1></body></html>\r\n"
          "--alt--\r\n"
          "--related\r\nContent-Type: image/png\r\nContent-Transfer-Encoding: base64\r\nContent-ID: <logo@shop>\r\n\r\n"
        + base64Lines(logo())
        + "--related--\r\n"
          "--mixed\r\nContent-Type: application/pdf\r\nContent-Transfer-Encoding: base64\r\n"
          "Content-Disposition: attachment; filename*=UTF-8''Rechnung%2058214%20M%C3%A4rz.pdf\r\n\r\n"
        + base64Lines(QByteArray(48213, 'P'))
        + "--mixed\r\nContent-Type: text/csv; charset=utf-8\r\nContent-Disposition: attachment; "
          "filename=\"delivery-note.csv\"\r\n\r\nitem;count\r\nDesk lamp;1\r\nLight bulb;2\r\n"
          "--mixed--\r\n";
}

void saveWidget(QWidget& widget, const QString& folder, const QString& name)
{
    QCoreApplication::processEvents();
    const QString path = QDir(folder).filePath(name);
    if (!widget.grab().save(path))
        fail("cannot write " + path.toStdString());
    std::printf("%s\n", qPrintable(path));
}

// The notices the notification service shows now (dunst's own count).
int shownNotices()
{
    QDBusInterface properties(QStringLiteral("org.freedesktop.Notifications"),
                              QStringLiteral("/org/freedesktop/Notifications"),
                              QStringLiteral("org.freedesktop.DBus.Properties"));
    const QDBusReply<QVariant> reply = properties.call(QStringLiteral("Get"), QStringLiteral("org.dunstproject.cmd0"),
                                                       QStringLiteral("displayedLength"));
    return reply.isValid() ? reply.value().toInt() : 0;
}

// This part of the screen once something other than one plain colour is drawn there: the tray
// host and the notification service draw in their own time.
QImage screenArea(const QRect& area)
{
    QImage image;
    const auto drawn = [&] {
        QCoreApplication::processEvents();
        image = QGuiApplication::primaryScreen()
                    ->grabWindow(0, area.x(), area.y(), area.width(), area.height())
                    .toImage();
        const QRgb first = image.pixel(0, 0);
        for (int y = 0; y < image.height(); ++y)
            for (int x = 0; x < image.width(); ++x)
                if (image.pixel(x, y) != first)
                    return true;
        return false;
    };
    if (!waitFor(drawn))
        fail("nothing was drawn on the screen there");
    return image;
}

// The notice alone: the part of the picture inside its frame's colour (scripts/screenshots.sh).
QImage framed(const QImage& image)
{
    const QRgb frame = qRgb(0x9a, 0x9a, 0x9a);
    QRect box;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            if (image.pixel(x, y) == frame)
                box |= QRect(x, y, 1, 1);
    if (box.isEmpty())
        fail("the notice has no frame");
    return image.copy(box);
}

void saveImage(const QImage& image, const QString& folder, const QString& name)
{
    const QString path = QDir(folder).filePath(name);
    if (!image.save(path))
        fail("cannot write " + path.toStdString());
    std::printf("%s\n", qPrintable(path));
}

// The corner that holds the notice, and the room left around the tray icon and its menu.
constexpr QSize NoticeArea{360, 120};
constexpr int Margin = 12;

// With the message window in front, a burst of mail: the tray icon with the count of unread mail
// (its menu open), and the one notice the desktop shows for the burst.
void saveTrayAndNotice(frmMain& window, frmMessage& message, const QString& folder, const QString& suffix)
{
    QSystemTrayIcon* tray = window.trayIcon();
    if (!tray || !tray->isVisible())
        fail("no tray icon (is a tray host running?)");
    if (!waitFor([&] {
            return QDBusConnection::sessionBus().interface()->isServiceRegistered(
                QStringLiteral("org.freedesktop.Notifications"));
        }))
        fail("no notification service on the session bus");
    message.raise();
    message.activateWindow();
    if (!waitFor([&] { return message.isActiveWindow() && !window.isActiveWindow(); }))
        fail("the message window did not come in front");
    {
        LoopbackClient client;
        if (!client.Connect(window.listener().listeningPort()) || !client.readLine().starts_with("220"))
            fail("no greeting from the listener");
        for (int i = 1; i <= 6; ++i)
            send(client, "build-bot@ci.example.com", "dev-team@example.com",
                 "From: Build Bot <build-bot@ci.example.com>\r\nTo: dev-team@example.com\r\nSubject: Test run "
                     + std::to_string(1042 + i) + " report\r\n\r\nAll tests passed.\r\n");
    }
    if (!waitFor([&] { return !window.notifications().pending() && shownNotices() == 1; }))
        fail("the burst was not told in one notice");
    // The desktop alone from here: the windows would cover the notice and the tray host.
    message.hide();
    window.hide();

    // Screen coordinates are the program's own, at its scale; the tray host and the notice are
    // drawn larger by the same factor (scripts/screenshots.sh), so their places read the same.
    const QRect screen = QGuiApplication::primaryScreen()->geometry();
    // The service shows its notices in the screen's top right corner (scripts/screenshots.sh).
    const QRect notice(screen.width() - NoticeArea.width(), 0, NoticeArea.width(), NoticeArea.height());
    saveImage(framed(screenArea(notice)), folder, QStringLiteral("notification%1.png").arg(suffix));

    auto* menu = window.findChild<QMenu*>(QStringLiteral("mnuTray"));
    const QRect icon = tray->geometry();
    // Above the icon, its right edge on the icon's, as a panel at the foot of the screen opens it.
    const QSize menuSize = menu->sizeHint();
    menu->popup(QPoint(icon.right() + 1 - menuSize.width(), icon.top() - menuSize.height()));
    if (!waitFor([&] { return menu->isVisible(); }))
        fail("the tray menu did not open");
    const QRect area = icon.united(menu->geometry()).adjusted(-Margin, -Margin, Margin, Margin) & screen;
    saveImage(screenArea(area), folder, QStringLiteral("tray-icon%1.png").arg(suffix));
    menu->hide();
}

} // namespace

// A tool: an exception that escapes ends it like any other failure.
int main(int argc, char** argv) // NOLINT(bugprone-exception-escape)
{
    QApplication app(argc, argv);
    if (argc < 2)
        fail("usage: quellpost-screenshots <output folder> [suffix]");
    const QString folder = QString::fromLocal8Bit(argv[1]);
    const QString suffix = argc > 2 ? QString::fromLocal8Bit(argv[2]) : QString();

    // The tray host starts beside this program; the window looks for a tray when it is made.
    if (!waitFor([] { return QSystemTrayIcon::isSystemTrayAvailable(); }))
        fail("no tray host on the display");
    CaptureService service;
    frmMain window(service);
    service.setListenAddress({"127.0.0.1", 0});
    control<QAction>(window, "mnuStartStop")->trigger();
    if (!window.listening())
        fail("the listener did not start");
    window.show();
    window.activateWindow();
    if (!waitFor([&] { return window.windowHandle() && window.windowHandle()->isExposed(); }))
        fail("the window was never shown");

    {
        LoopbackClient client;
        if (!client.Connect(window.listener().listeningPort()) || !client.readLine().starts_with("220"))
            fail("no greeting from the listener");
        send(client, "build-bot@ci.example.com", "dev-team@example.com",
             "From: Build Bot <build-bot@ci.example.com>\r\n"
             "To: dev-team@example.com\r\n"
             "Subject: Nightly build 1042 passed\r\n"
             "\r\n"
             "All 418 tests passed in 6 minutes 12 seconds.\r\n");
        send(client, "orders@shop.example.com", "alice@example.com",
             "From: Example Shop <orders@shop.example.com>\r\n"
             "To: Alice <alice@example.com>\r\n"
             "Subject: Your order 58213\r\n"
             "Content-Type: text/plain; charset=ISO-8859-1\r\n"
             "\r\n"
             "Dear Alice,\r\n"
             "\r\n"
             "thank you for your order. The invoice is attached to this message.\r\n"
             "\r\n"
             "  1 x Desk lamp                        39.90 EUR\r\n"
             "  2 x Light bulb                        7.80 EUR\r\n"
             "\r\n"
             "Kind regards,\r\n"
             "Example Shop\r\n");
        send(client, "no-reply@accounts.example.com", "bob@example.com",
             "From: Accounts <no-reply@accounts.example.com>\r\n"
             "To: Bob <bob@example.com>\r\n"
             "Subject: Reset your password\r\n"
             "Date: Mon, 3 Jun 2024 09:41:07 +0200\r\n"
             "Message-ID: <20240603094107.4711@accounts.example.com>\r\n"
             "\r\n"
             "Hello Bob,\r\n"
             "\r\n"
             "someone asked to reset the password of your account. If it was you, open\r\n"
             "https://accounts.example.com/reset?token=8f14e45fceea167a5a36dedd4bea2543&user=bob\r\n"
             "within the next hour. Otherwise you can ignore this message.\r\n");
    }
    save(window, folder, QStringLiteral("main-window%1.png").arg(suffix));

    control<QLineEdit>(window, "txtMessagesSearchFor")->setText(QStringLiteral("invoice"));
    auto* categories = control<QComboBox>(window, "cboMessagesSearchFor");
    categories->setCurrentIndex(categories->findText(QStringLiteral("Body")));
    control<QPushButton>(window, "cmdMessagesFind")->click();
    save(window, folder, QStringLiteral("search-found%1.png").arg(suffix));

    {
        LoopbackClient client;
        if (!client.Connect(window.listener().listeningPort()) || !client.readLine().starts_with("220"))
            fail("no greeting from the listener");
        send(client, "bounces+58214@shop.example.com", "juergen@example.com", htmlMail());
    }
    // The message at the window's own size first, its list hidden; then with the list.
    control<QAction>(window, "mnuMessageList")->trigger();
    control<QAction>(window, "mnuMessageView")->trigger();
    frmMessage& message = *window.messageWindow();
    if (!waitFor([&] { return message.windowHandle() && message.windowHandle()->isExposed(); }))
        fail("the message window was never shown");
    saveWidget(message, folder, QStringLiteral("message-html%1.png").arg(suffix));
    auto* tabs = message.findChild<QTabWidget*>(QStringLiteral("tabParts"));
    tabs->setCurrentIndex(2);
    saveWidget(message, folder, QStringLiteral("message-attachments%1.png").arg(suffix));
    tabs->setCurrentIndex(0);
    control<QAction>(window, "mnuMessageList")->trigger();
    saveWidget(message, folder, QStringLiteral("message-list%1.png").arg(suffix));
    saveTrayAndNotice(window, message, folder, suffix);

    control<QAction>(window, "mnuStartStop")->trigger();
    return 0;
}
