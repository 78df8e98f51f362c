#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryFile>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "LoopbackClient.h"
#include "MainWindowDriver.h"
#include "RecordingMessageBoxes.h"
#include "SmtpListener.h"
#include "clsEmailStorage.h"

namespace {

using ::testing::HasSubstr;

class RealClients : public ::testing::Test {
protected:
    void SetUp() override
    {
        window.SetListenAddress(QHostAddress::LocalHost, 0);
        Click(window, "mnuStartStop");
        ASSERT_TRUE(window.Listening());
        port = QString::number(window.Listener().ListeningPort());
    }

    // Runs a client program to its end while the window keeps serving it; then its message is shown.
    void Run(const QString& program, const QStringList& arguments, const std::string& sender,
             const std::string& recipients, const ::testing::Matcher<const std::string&>& body)
    {
        if (program.isEmpty() || !QFileInfo(program).isExecutable())
            GTEST_SKIP() << "client program not installed: " << program.toStdString();
        QProcess process;
        process.setProcessChannelMode(QProcess::MergedChannels);
        process.start(program, arguments);
        ASSERT_TRUE(process.waitForStarted(10000));
        ASSERT_TRUE(WaitFor([&] { return process.state() == QProcess::NotRunning; }, 60000))
            << process.readAll().toStdString();
        EXPECT_EQ(process.exitStatus(), QProcess::NormalExit);
        EXPECT_EQ(process.exitCode(), 0) << process.readAll().toStdString();
        ASSERT_EQ(window.EmailStorage().Count(), 1);
        EXPECT_EQ(window.EmailStorage().EmailFrom(1), sender);
        EXPECT_EQ(window.EmailStorage().EmailTo(1), recipients);
        EXPECT_THAT(window.EmailStorage().EmailBody(1), body);
        EXPECT_EQ(Caption(window, "lblMessage"), "Message: 1/1");
        EXPECT_TRUE(boxes.Boxes().empty());
    }

    RecordingMessageBoxes boxes;
    frmMain window;
    QString port;
};

} // namespace

TEST_F(RealClients, PythonSmtplibFallsBackToHelo)
{
    const QString script = QStringLiteral(
        "import smtplib, sys\n"
        "s = smtplib.SMTP('127.0.0.1', int(sys.argv[1]), timeout=20)\n"
        "s.sendmail('alice@example.com', ['bob@example.com', 'carol@example.com'],\n"
        "           'Subject: from smtplib\\r\\n\\r\\nHello\\r\\n.starts with a dot\\r\\n')\n"
        "s.quit()\n");
    // Debian's interpreter first: it is the one the packages are installed for.
    const QString python = QFileInfo::exists("/usr/bin/python3") ? QStringLiteral("/usr/bin/python3")
                                                                 : QStandardPaths::findExecutable("python3");
    Run(python, {QStringLiteral("-c"), script, port}, "<alice@example.com>", "<bob@example.com>, <carol@example.com>",
        "Subject: from smtplib\r\n\r\nHello\r\n.starts with a dot\r\n");
}

TEST_F(RealClients, Swaks)
{
    const QStringList arguments{"--server", "127.0.0.1", "--port", port, "--from", "sender@example.org", "--to",
                                "rcpt@example.org", "--helo", "tester", "--header", "Subject: from swaks", "--body",
                                "Body from swaks"};
    Run(QStandardPaths::findExecutable("swaks"), arguments, "<sender@example.org>", "<rcpt@example.org>",
        AllOf(HasSubstr("Subject: from swaks\r\n"), HasSubstr("\r\n\r\nBody from swaks\r\n")));
}

TEST_F(RealClients, Curl)
{
    QTemporaryFile mail;
    ASSERT_TRUE(mail.open());
    mail.write("Subject: from curl\r\n\r\nBody from curl\r\n");
    mail.close();
    Run(QStandardPaths::findExecutable("curl"),
        {"-sS", "smtp://127.0.0.1:" + port, "--mail-from", "c@example.net", "--mail-rcpt", "d@example.net", "-T",
         mail.fileName()},
        "<c@example.net>", "<d@example.net>", "Subject: from curl\r\n\r\nBody from curl\r\n");
}
