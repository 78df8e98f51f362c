#include <QProcess>

#include "WindowTest.h"

namespace {

using RealClient = WindowTest<>;

// Python's smtplib falls back to HELO after its EHLO is refused; its body has a line that starts with a dot.
TEST_F(RealClient, DeliversAMessageTheWindowShows)
{
    click(window, "mnuStartStop");
    QProcess python;
    python.setProcessChannelMode(QProcess::MergedChannels);
    python.start(QStringLiteral("/usr/bin/python3"),
                 {QStringLiteral("-c"),
                  QStringLiteral("import smtplib, sys\n"
                                 "s = smtplib.SMTP('127.0.0.1', int(sys.argv[1]), timeout=20)\n"
                                 "s.sendmail('alice@example.com', ['bob@example.com', 'carol@example.com'],\n"
                                 "           'Subject: from smtplib\\r\\n\\r\\nHello\\r\\n.starts with a dot\\r\\n')\n"
                                 "s.quit()\n"),
                  QString::number(window.listener().listeningPort())});
    if (!python.waitForStarted(10000))
        GTEST_SKIP() << "python3 is not installed";
    // Run to its end while the window keeps serving it.
    ASSERT_TRUE(waitFor([&] { return python.state() == QProcess::NotRunning; }, 60000));
    EXPECT_EQ(python.exitCode(), 0) << python.readAll().toStdString();
    ASSERT_EQ(window.emailStorage().Count(), 1);
    EXPECT_EQ(window.emailStorage().EmailFrom(1), "<alice@example.com>");
    EXPECT_EQ(window.emailStorage().EmailTo(1), "<bob@example.com>, <carol@example.com>");
    EXPECT_TRUE(
        window.emailStorage().EmailBody(1).ends_with("Subject: from smtplib\r\n\r\nHello\r\n.starts with a dot\r\n"));
    EXPECT_EQ(caption(window, "lblMessage"), "Message: 1/1");
    EXPECT_TRUE(boxes.boxes().empty());
}

} // namespace
