// Takes the documentation's screenshots of the main window: a captured message on show, and a
// message found by a body search with the hit selected; then the message window with an HTML mail
// and with that mail's attachments. The messages arrive through the window's
// own listener on a loopback port, as from any client.
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
#include <QDir>
#include <QLineEdit>
#include <QPushButton>
#include <QWindow>

#include "LoopbackClient.h"
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

} // namespace

// A tool: an exception that escapes ends it like any other failure.
int main(int argc, char** argv) // NOLINT(bugprone-exception-escape)
{
    QApplication app(argc, argv);
    if (argc < 2)
        fail("usage: quellpost-screenshots <output folder> [suffix]");
    const QString folder = QString::fromLocal8Bit(argv[1]);
    const QString suffix = argc > 2 ? QString::fromLocal8Bit(argv[2]) : QString();

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

    control<QAction>(window, "mnuStartStop")->trigger();
    return 0;
}
