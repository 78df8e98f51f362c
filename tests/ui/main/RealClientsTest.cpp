#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryFile>

#include <gtest/gtest.h>

#include "LoopbackClient.h"
#include "MainWindowDriver.h"
#include "RecordingMessageBoxes.h"
#include "SmtpListener.h"
#include "clsEmailStorage.h"

namespace {

// Debian's interpreter first: it is the one the packages (aiosmtpd) are installed for.
QString Python()
{
    if (QFileInfo::exists(QStringLiteral("/usr/bin/python3")))
        return QStringLiteral("/usr/bin/python3");
    return QStandardPaths::findExecutable(QStringLiteral("python3"));
}

class RealClients : public ::testing::Test {
protected:
    void SetUp() override
    {
        window.SetListenAddress(QHostAddress::LocalHost, 0);
        Click(window, "mnuStartStop");
        ASSERT_TRUE(window.Listening());
        port = QString::number(window.Listener().ListeningPort());
    }

    // Runs a client program to its end while the window keeps serving it.
    void Run(const QString& program, const QStringList& arguments)
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
    }

    void ExpectOneMessageShown(const std::string& sender, const std::string& recipients)
    {
        clsEmailStorage& store = window.EmailStorage();
        ASSERT_EQ(store.Count(), 1);
        EXPECT_EQ(store.EmailFrom(1), sender);
        EXPECT_EQ(store.EmailTo(1), recipients);
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
    Run(Python(), {QStringLiteral("-c"), script, port});
    ExpectOneMessageShown("<alice@example.com>", "<bob@example.com>, <carol@example.com>");
    EXPECT_EQ(window.EmailStorage().EmailBody(1), "Subject: from smtplib\r\n\r\nHello\r\n.starts with a dot\r\n");
}

TEST_F(RealClients, Swaks)
{
    Run(QStandardPaths::findExecutable(QStringLiteral("swaks")),
        {QStringLiteral("--server"), QStringLiteral("127.0.0.1"), QStringLiteral("--port"), port,
         QStringLiteral("--from"), QStringLiteral("sender@example.org"), QStringLiteral("--to"),
         QStringLiteral("rcpt@example.org"), QStringLiteral("--helo"), QStringLiteral("tester"),
         QStringLiteral("--header"), QStringLiteral("Subject: from swaks"), QStringLiteral("--body"),
         QStringLiteral("Body from swaks")});
    ExpectOneMessageShown("<sender@example.org>", "<rcpt@example.org>");
    const std::string& body = window.EmailStorage().EmailBody(1);
    EXPECT_NE(body.find("Subject: from swaks\r\n"), std::string::npos);
    EXPECT_NE(body.find("\r\n\r\nBody from swaks\r\n"), std::string::npos);
}

TEST_F(RealClients, Curl)
{
    QTemporaryFile mail;
    ASSERT_TRUE(mail.open());
    mail.write("Subject: from curl\r\n\r\nBody from curl\r\n");
    mail.close();
    Run(QStandardPaths::findExecutable(QStringLiteral("curl")),
        {QStringLiteral("-sS"), QStringLiteral("smtp://127.0.0.1:") + port, QStringLiteral("--mail-from"),
         QStringLiteral("c@example.net"), QStringLiteral("--mail-rcpt"), QStringLiteral("d@example.net"),
         QStringLiteral("-T"), mail.fileName()});
    ExpectOneMessageShown("<c@example.net>", "<d@example.net>");
    EXPECT_EQ(window.EmailStorage().EmailBody(1), "Subject: from curl\r\n\r\nBody from curl\r\n");
}
