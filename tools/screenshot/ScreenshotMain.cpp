// Takes the documentation's screenshots of the main window: a captured message on show, and a
// message found by a body search with the hit selected. The messages arrive through the window's
// own listener on a loopback port, as from any client.
// Usage: quellpost-screenshots <output folder> [file name suffix, e.g. @2x]
// The window follows QT_SCALE_FACTOR, so the pictures come out at that scale.

#include <cstdio>
#include <cstdlib>
#include <string>
#include <utility>

#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QLineEdit>
#include <QPushButton>
#include <QWindow>

#include "LoopbackClient.h"
#include "MainWindowDriver.h"
#include "SmtpListener.h"
#include "frmMain.h"

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
        if (const std::string reply = client.Command(line); !reply.starts_with(code))
            fail("unexpected reply \"" + reply + "\", expected " + code);
}

void save(frmMain& window, const QString& folder, const QString& name)
{
    // Messages that arrive in a burst are painted together a moment after the burst.
    if (!WaitFor([&] { return window.centralWidget()->updatesEnabled(); }))
        fail("the window was never repainted");
    QCoreApplication::processEvents();
    const QString path = QDir(folder).filePath(name);
    if (!window.grab().save(path))
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

    frmMain window;
    window.SetListenAddress(QHostAddress::LocalHost, 0);
    Control<QAction>(window, "mnuStartStop")->trigger();
    if (!window.Listening())
        fail("the listener did not start");
    window.show();
    window.activateWindow();
    if (!WaitFor([&] { return window.windowHandle() && window.windowHandle()->isExposed(); }))
        fail("the window was never shown");

    {
        LoopbackClient client;
        if (!client.Connect(window.Listener().ListeningPort()) || !client.ReadLine().starts_with("220"))
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

    Control<QLineEdit>(window, "txtMessagesSearchFor")->setText(QStringLiteral("invoice"));
    auto* categories = Control<QComboBox>(window, "cboMessagesSearchFor");
    categories->setCurrentIndex(categories->findText(QStringLiteral("Body")));
    Control<QPushButton>(window, "cmdMessagesFind")->click();
    save(window, folder, QStringLiteral("search-found%1.png").arg(suffix));

    Control<QAction>(window, "mnuStartStop")->trigger();
    return 0;
}
