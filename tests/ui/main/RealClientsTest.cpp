#include <ostream>

#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>

#include "WindowTest.h"

namespace {

// A mail program a user would point at the capture server, and what the window must show of its message.
struct Peer {
    const char* name;
    const char* program;
    QStringList arguments;                // "%port" stands for the listening port
    std::string sender, recipients, body; // the body must contain this
};

// Names the peer in test listings instead of dumping its bytes.
void PrintTo(const Peer& peer, std::ostream* out)
{
    *out << peer.name;
}

class RealClients : public WindowTest<::testing::TestWithParam<Peer>> { };

TEST_P(RealClients, DeliverAMessageTheWindowShows)
{
    const Peer& peer = GetParam();
    // The system's own program first: Python's packages, for one, are installed for it.
    const QString system = QStringLiteral("/usr/bin/") + peer.program;
    const QString program = QFileInfo::exists(system) ? system : QStandardPaths::findExecutable(peer.program);
    if (program.isEmpty())
        GTEST_SKIP() << peer.program << " is not installed";
    Click(window, "mnuStartStop");
    QStringList arguments = peer.arguments;
    arguments.replaceInStrings(QStringLiteral("%port"), QString::number(window.Listener().ListeningPort()));

    // Run to its end while the window keeps serving it.
    QProcess process;
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(program, arguments);
    ASSERT_TRUE(process.waitForStarted(10000));
    process.closeWriteChannel();
    ASSERT_TRUE(WaitFor([&] { return process.state() == QProcess::NotRunning; }, 60000))
        << process.readAll().toStdString();
    EXPECT_EQ(process.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(process.exitCode(), 0) << process.readAll().toStdString();
    ASSERT_EQ(window.EmailStorage().Count(), 1);
    EXPECT_EQ(window.EmailStorage().EmailFrom(1), peer.sender);
    EXPECT_EQ(window.EmailStorage().EmailTo(1), peer.recipients);
    EXPECT_NE(window.EmailStorage().EmailBody(1).find(peer.body), std::string::npos)
        << window.EmailStorage().EmailBody(1);
    EXPECT_EQ(Caption(window, "lblMessage"), "Message: 1/1");
    EXPECT_TRUE(boxes.Boxes().empty());
}

// smtplib falls back to HELO after its EHLO is refused; its body has a line that starts with a dot.
INSTANTIATE_TEST_SUITE_P(
    Peers, RealClients,
    ::testing::Values(Peer{"PythonSmtplib",
                           "python3",
                           {"-c",
                            "import smtplib, sys\n"
                            "s = smtplib.SMTP('127.0.0.1', int(sys.argv[1]), timeout=20)\n"
                            "s.sendmail('alice@example.com', ['bob@example.com', 'carol@example.com'],\n"
                            "           'Subject: from smtplib\\r\\n\\r\\nHello\\r\\n.starts with a dot\\r\\n')\n"
                            "s.quit()\n",
                            "%port"},
                           "<alice@example.com>",
                           "<bob@example.com>, <carol@example.com>",
                           "Subject: from smtplib\r\n\r\nHello\r\n.starts with a dot\r\n"},
                      Peer{"Swaks",
                           "swaks",
                           {"--server", "127.0.0.1", "--port", "%port", "--from", "sender@example.org", "--to",
                            "rcpt@example.org", "--helo", "tester", "--header", "Subject: from swaks", "--body",
                            "Body from swaks"},
                           "<sender@example.org>",
                           "<rcpt@example.org>",
                           "\r\n\r\nBody from swaks\r\n"}),
    [](const auto& paramInfo) { return std::string(paramInfo.param.name); });

} // namespace
