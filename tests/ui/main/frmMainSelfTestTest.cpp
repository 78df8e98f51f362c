#include <algorithm>
#include <string>
#include <vector>

#include <QAction>
#include <QCheckBox>
#include <QTcpServer>
#include <QTcpSocket>

#include <gtest/gtest.h>

#include "LoopbackClient.h"
#include "MainWindowDriver.h"
#include "RecordingMessageBoxes.h"
#include "SmtpListener.h"
#include "clsEmailHandler.h"
#include "clsEmailStorage.h"
#include "frmLog.h"

namespace {

using Texts = std::vector<std::string>;

constexpr int SmtpPort = 25;
const std::string QuestionText =
    "Warning: The Quellpost is not running.\rThe selftest will most likely fail.\rOK to continue anyway?";
const std::string FailureBoxText = "Sending a test email did not succeed.\rView log window for details.";
const std::string SuccessBoxText = "Test email has been successfully sent.";
const std::string TestMessageText = "This is a test message.\r\nIf you see this message the Quellpost test was succesful.";

// The log lines of the self-test's own statuses, detailed lines left out.
Texts testLoggerLines(frmMain& window)
{
    Texts lines;
    for (const std::string& line : LogLines(window))
        if (line.starts_with("TestLogger: "))
            lines.push_back(line);
    return lines;
}

bool somethingListensOnPort25()
{
    QTcpSocket probe;
    probe.connectToHost(QHostAddress::LocalHost, SmtpPort);
    WaitFor([&] { return probe.state() == QAbstractSocket::ConnectedState || probe.state() == QAbstractSocket::UnconnectedState; },
            5000);
    const bool connected = probe.state() == QAbstractSocket::ConnectedState;
    probe.abort();
    return connected;
}

// Why the capture server cannot take port 25 on loopback; empty when it can.
std::string port25Unavailable()
{
    QTcpServer probe;
    if (probe.listen(QHostAddress::LocalHost, SmtpPort))
        return {};
    return "port 25 on 127.0.0.1 cannot be bound: " + probe.errorString().toStdString();
}

class SelfTest : public ::testing::Test {
protected:
    // Starts the capture server on 127.0.0.1:25, where the self-test sends.
    std::string StartOnPort25()
    {
        if (std::string reason = port25Unavailable(); !reason.empty())
            return reason;
        window.SetListenAddress(QHostAddress::LocalHost, SmtpPort);
        Click(window, "mnuStartStop");
        if (!window.Listening())
            return "the capture server did not start on port 25";
        return {};
    }

    RecordingMessageBoxes boxes;
    frmMain window;
};

} // namespace

TEST_F(SelfTest, SucceedsAgainstItsOwnServer)
{
    if (std::string reason = StartOnPort25(); !reason.empty())
        GTEST_SKIP() << reason;
    window.LogWindow().chkLogFull()->setChecked(true);
    Click(window, "mnuTestLogger");

    EXPECT_EQ(testLoggerLines(window),
              (Texts{"TestLogger: Connecting to SMTP server (127.0.0.1)...", "TestLogger: Initializing communications...",
                     "TestLogger: Sending sender information to server...",
                     "TestLogger: Sending recipient information to server...",
                     "TestLogger: Sending message to server...", "TestLogger: Transmission Complete...",
                     "TestLogger: Closing connection to server...", "TestLogger: Email has been successfully sent."}));
    ASSERT_EQ(boxes.Boxes().size(), 1u);
    EXPECT_EQ(boxes.Boxes()[0].text, SuccessBoxText);
    EXPECT_EQ(boxes.Boxes()[0].icon, MsgIcon::Information);
    EXPECT_EQ(Caption(window, "lblReceivingPercent"), "(100%)");
    EXPECT_FALSE(Control<QLabel>(window, "lblReceiving")->isVisibleTo(&window));
    EXPECT_FALSE(Control<QLabel>(window, "lblReceivingPercent")->isVisibleTo(&window));
    EXPECT_TRUE(Control<QAction>(window, "mnuTestLogger")->isEnabled());

    // Detailed lines: protocol lines in one piece, without line breaks.
    Texts detailed;
    for (const std::string& line : LogLines(window))
        if (line.starts_with("TestLogger::ExtendedStatus: "))
            detailed.push_back(line.substr(28));
    EXPECT_NE(std::find(detailed.begin(), detailed.end(), "<< 220 Quellpost"), detailed.end());
    EXPECT_NE(std::find(detailed.begin(), detailed.end(), ">> HELO localhost"), detailed.end());
    EXPECT_NE(std::find(detailed.begin(), detailed.end(), "<< 250-127.0.0.1 SMTP mode ready250 OK"), detailed.end());
    EXPECT_NE(std::find(detailed.begin(), detailed.end(), ">> Subject: Quellpost test message"), detailed.end());
    for (const std::string& line : detailed) {
        EXPECT_EQ(line.find_first_of("\r\n"), std::string::npos) << line;
        EXPECT_TRUE(line.starts_with(">> ") || line.starts_with("<< ") || line.starts_with("Trying to connect (")
                    || line == "No further connection retries.")
            << line;
    }

    ASSERT_EQ(window.EmailStorage().Count(), 1);
    EXPECT_EQ(window.EmailStorage().EmailFrom(1), "<quellpost.sender@localhost>");
    EXPECT_EQ(window.EmailStorage().EmailTo(1), "<quellpost.recipient@localhost>");
    const std::string& data = window.EmailStorage().EmailBody(1);
    EXPECT_NE(data.find("\r\nSubject: Quellpost test message\r\n"), std::string::npos) << data;
    EXPECT_NE(data.find("\r\nX-Mailer: Quellpost1.0 (build 0)\r\n"), std::string::npos) << data;
    EXPECT_NE(data.find("\r\nFrom: \"Quellpost (From)\" <quellpost.sender@localhost>\r\n"), std::string::npos);
    EXPECT_NE(data.find("\r\nTo: \"Quellpost (Recipient)\" <quellpost.recipient@localhost>\r\n"), std::string::npos);
    EXPECT_NE(data.find("\r\nReply-to: <quellpost.replyto@localhost>\r\n"), std::string::npos);
    EXPECT_TRUE(data.ends_with("\r\n\r\n" + TestMessageText + "\r\n")) << data;
}

TEST_F(SelfTest, SmtpAuthIsRefusedByItsOwnServer)
{
    if (std::string reason = StartOnPort25(); !reason.empty())
        GTEST_SKIP() << reason;
    Click(window, "mnuSMTPAuth");
    ASSERT_TRUE(Control<QAction>(window, "mnuSMTPAuth")->isChecked());
    Click(window, "mnuTestLogger");

    const Texts lines = testLoggerLines(window);
    EXPECT_EQ(std::count(lines.begin(), lines.end(), "TestLogger: Sending Email failed!"), 1);
    EXPECT_NE(std::find(lines.begin(), lines.end(), "TestLogger: 500 \r\n"), lines.end());
    EXPECT_EQ(std::count(lines.begin(), lines.end(), "TestLogger: Email has been successfully sent."), 0);
    EXPECT_EQ(boxes.Texts(), (Texts{FailureBoxText}));
    EXPECT_EQ(boxes.Boxes()[0].icon, MsgIcon::Exclamation);
    EXPECT_EQ(window.EmailStorage().Count(), 0);
}

TEST_F(SelfTest, ASecondTestWaitsForTheFirst)
{
    if (std::string reason = StartOnPort25(); !reason.empty())
        GTEST_SKIP() << reason;
    bool enabledDuringTest = true;
    QObject context;
    QObject::connect(&window.EmailHandler(), &clsEmailHandler::Status, &context, [&](const std::string& status) {
        if (status == "Sending message to server...") {
            enabledDuringTest = Control<QAction>(window, "mnuTestLogger")->isEnabled();
            Click(window, "mnuTestLogger");
        }
    });
    Click(window, "mnuTestLogger");
    EXPECT_FALSE(enabledDuringTest);
    EXPECT_EQ(window.EmailStorage().Count(), 1);
    EXPECT_EQ(boxes.Texts(), (Texts{SuccessBoxText}));
    const Texts lines = testLoggerLines(window);
    EXPECT_EQ(std::count(lines.begin(), lines.end(), "TestLogger: Connecting to SMTP server (127.0.0.1)..."), 1);
    EXPECT_TRUE(Control<QAction>(window, "mnuTestLogger")->isEnabled());
}

TEST_F(SelfTest, IdleServerAndNothingOnThePort)
{
    if (somethingListensOnPort25())
        GTEST_SKIP() << "something listens on 127.0.0.1 port 25";
    boxes.Answer(MsgResult::Ok);
    Click(window, "mnuTestLogger");

    ASSERT_EQ(boxes.Boxes().size(), 2u);
    EXPECT_EQ(boxes.Boxes()[0].text, QuestionText);
    EXPECT_EQ(boxes.Boxes()[0].buttons, MsgButtons::OkCancel);
    EXPECT_EQ(boxes.Boxes()[0].icon, MsgIcon::Question);
    EXPECT_EQ(boxes.Boxes()[1].text, FailureBoxText);
    EXPECT_EQ(boxes.Boxes()[1].icon, MsgIcon::Exclamation);
    EXPECT_EQ(LogLines(window), (Texts{"TestLogger: Connecting to SMTP server (127.0.0.1)...",
                                       "TestLogger: Sending Email failed!", "TestLogger: Connection refused",
                                       "TestLogger: Closing connection to server..."}));
    EXPECT_FALSE(Control<QLabel>(window, "lblReceiving")->isVisibleTo(&window));
    EXPECT_FALSE(Control<QLabel>(window, "lblReceivingPercent")->isVisibleTo(&window));

    // The next failing test writes its heading again.
    boxes.Answer(MsgResult::Ok);
    Click(window, "mnuTestLogger");
    const Texts lines = LogLines(window);
    EXPECT_EQ(std::count(lines.begin(), lines.end(), "TestLogger: Sending Email failed!"), 2);
}

TEST_F(SelfTest, CancelSendsNothing)
{
    boxes.Answer(MsgResult::Cancel);
    Click(window, "mnuTestLogger");
    EXPECT_EQ(boxes.Texts(), (Texts{QuestionText}));
    EXPECT_TRUE(LogLines(window).empty());
    EXPECT_EQ(window.EmailHandler().Subject(), "");
    EXPECT_EQ(window.EmailHandler().Recipient(), "");
}

TEST_F(SelfTest, Pop3AuthWithoutAPop3Server)
{
    QTcpServer probe;
    ASSERT_TRUE(probe.listen(QHostAddress::LocalHost, 0));
    window.EmailHandler().setPop3Port(probe.serverPort());
    probe.close();
    boxes.Answer(MsgResult::Ok);
    Click(window, "mnuPop3Auth");
    Click(window, "mnuTestLogger");
    EXPECT_EQ(LogLines(window), (Texts{"TestLogger: Connecting to POP3 Server (127.0.0.1)...",
                                       "TestLogger: Sending Email failed!", "TestLogger: Connection refused",
                                       "TestLogger: Closing connection to server..."}));
    EXPECT_EQ(boxes.Texts(), (Texts{QuestionText, FailureBoxText}));
}

TEST_F(SelfTest, CheckMarksTurnOver)
{
    QAction* pop3 = Control<QAction>(window, "mnuPop3Auth");
    QAction* smtp = Control<QAction>(window, "mnuSMTPAuth");
    EXPECT_EQ(pop3->shortcut(), QKeySequence(Qt::Key_F11));
    EXPECT_EQ(smtp->shortcut(), QKeySequence(Qt::Key_F12));
    Click(window, "mnuPop3Auth");
    EXPECT_TRUE(pop3->isChecked());
    EXPECT_FALSE(smtp->isChecked());
    Click(window, "mnuPop3Auth");
    EXPECT_FALSE(pop3->isChecked());
    Click(window, "mnuSMTPAuth");
    EXPECT_TRUE(smtp->isChecked());
}

TEST_F(SelfTest, BodyLinesStartingWithADotArriveAsWritten)
{
    // The client on its own, to the capture server on a free port: no port 25 needed.
    window.SetListenAddress(QHostAddress::LocalHost, 0);
    Click(window, "mnuStartStop");
    ASSERT_TRUE(window.Listening());
    clsEmailHandler& handler = window.EmailHandler();
    handler.SetSMTPHost("127.0.0.1");
    handler.SetSMTPPort(window.Listener().ListeningPort());
    handler.SetFrom("me@localhost");
    handler.SetRecipient("you@localhost");
    handler.SetSubject("Dots");
    const std::string body = ".\r\n.first\r\nmiddle\r\n..second";
    handler.SetMessage(body);
    handler.Send();
    EXPECT_EQ(boxes.Texts(), (Texts{SuccessBoxText}));
    ASSERT_EQ(window.EmailStorage().Count(), 1);
    EXPECT_TRUE(window.EmailStorage().EmailBody(1).ends_with("\r\n\r\n" + body + "\r\n"))
        << window.EmailStorage().EmailBody(1);
}
