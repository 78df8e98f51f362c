#include <QCheckBox>
#include <QTcpSocket>

#include <gmock/gmock.h>

#include "DovecotServer.h"
#include "WindowTest.h"
#include "clsEmailHandler.h"
#include "frmLog.h"

namespace {

using namespace ::testing;

const std::string QuestionText
    = "Warning: The Quellpost is not running.\rThe selftest will most likely fail.\rOK to continue anyway?";
const std::string FailureBoxText = "Sending a test email did not succeed.\rView log window for details.";
const std::string SuccessBoxText = "Test email has been successfully sent.";

class SelfTest : public WindowTest<> {
protected:
    // Starts the capture server on 127.0.0.1:25, where the self-test sends; why not, when it cannot.
    std::string startOnPort25()
    {
        service.setListenAddress({"127.0.0.1", 25});
        click(window, "mnuStartStop");
        const Texts refusal = boxes.texts();
        boxes.Clear();
        return window.listening() ? std::string() : "port 25 on 127.0.0.1 cannot be bound: " + refusal.at(0);
    }

    // The log lines that start with the prefix, without it.
    Texts lines(const std::string& prefix)
    {
        Texts lines;
        for (const std::string& line : logLines(window))
            if (line.starts_with(prefix))
                lines.push_back(line.substr(prefix.size()));
        return lines;
    }
};

} // namespace

TEST_F(SelfTest, SucceedsAgainstItsOwnServerWhileASecondTestWaits)
{
    if (std::string reason = startOnPort25(); !reason.empty())
        GTEST_SKIP() << reason;
    window.logWindow().chkLogFull()->setChecked(true);
    // The send's waits run events: a second test asked for meanwhile must not start.
    bool enabledDuringTest = true;
    QObject context;
    QObject::connect(&window.emailHandler(), &clsEmailHandler::Status, &context, [&](const std::string& status) {
        if (status == "Sending message to server...") {
            enabledDuringTest = control<QAction>(window, "mnuTestLogger")->isEnabled();
            click(window, "mnuTestLogger");
        }
    });
    click(window, "mnuTestLogger");
    EXPECT_FALSE(enabledDuringTest);

    EXPECT_EQ(lines("TestLogger: ").back(), "Email has been successfully sent.");
    EXPECT_EQ(boxes.texts(), Texts{SuccessBoxText});
    EXPECT_TRUE(control<QAction>(window, "mnuTestLogger")->isEnabled());

    // Detailed lines: protocol lines in one piece, without line breaks.
    EXPECT_THAT(lines("TestLogger::ExtendedStatus: "),
                AllOf(IsSupersetOf({"<< 220 Quellpost", ">> HELO localhost", "<< 250-127.0.0.1 SMTP mode ready250 OK",
                                    ">> Subject: Quellpost test message"}),
                      Each(Not(ContainsRegex("[\r\n]")))));

    ASSERT_EQ(window.emailStorage().Count(), 1);
    EXPECT_EQ(window.emailStorage().EmailFrom(1), "<quellpost.sender@localhost>");
    EXPECT_EQ(window.emailStorage().EmailTo(1), "<quellpost.recipient@localhost>");
    EXPECT_TRUE(window.emailStorage().EmailBody(1).ends_with(
        "\r\n\r\nThis is a test message.\r\nIf you see this message the Quellpost test was succesful.\r\n"));
}

TEST_F(SelfTest, IdleServerAsksFirstCancelSendsNothingOkFails)
{
    boxes.answer(MsgResult::Cancel);
    click(window, "mnuTestLogger");
    EXPECT_EQ(boxes.texts(), Texts{QuestionText});
    EXPECT_TRUE(logLines(window).empty());
    boxes.Clear();

    QTcpSocket probe;
    probe.connectToHost(QHostAddress::LocalHost, 25);
    if (probe.waitForConnected(5000))
        GTEST_SKIP() << "something listens on 127.0.0.1 port 25";
    click(window, "mnuTestLogger");
    ASSERT_EQ(boxes.texts(), (Texts{QuestionText, FailureBoxText}));
    EXPECT_EQ(logLines(window),
              (Texts{"TestLogger: Connecting to SMTP server (127.0.0.1)...", "TestLogger: Sending Email failed!",
                     "TestLogger: Connection refused", "TestLogger: Closing connection to server..."}));
}

// A failure the client ends without a report still ends the test with the failure box.
TEST_F(SelfTest, Pop3AuthWithoutAPop3Port)
{
    window.emailHandler().setPop3Port(0);
    click(window, "mnuPop3Auth");
    click(window, "mnuTestLogger");
    EXPECT_EQ(logLines(window),
              (Texts{"TestLogger: Connecting to POP3 Server (127.0.0.1)...",
                     "TestLogger: Connect error: Invalid port number", "TestLogger: Sending Email failed!"}));
    EXPECT_EQ(boxes.texts(), (Texts{QuestionText, FailureBoxText}));
}

// Dovecot answers QUIT and closes the connection at once, as RFC 1939 servers do.
TEST_F(SelfTest, Pop3LoginAtARealServer)
{
    if (std::string reason = startOnPort25(); !reason.empty())
        GTEST_SKIP() << reason;
    click(window, "mnuPop3Auth");
    for (const char* password : {"Selftest", "Another"}) {
        SCOPED_TRACE(password);
        DovecotServer dovecot("Username", password);
        if (!dovecot.failure().empty())
            GTEST_SKIP() << dovecot.failure();
        window.emailHandler().setPop3Port(dovecot.port());
        boxes.Clear();
        const std::size_t before = lines("TestLogger: ").size();
        click(window, "mnuTestLogger");
        const Texts all = lines("TestLogger: ");
        const Texts lines(all.begin() + std::ptrdiff_t(before), all.end());
        ASSERT_GE(lines.size(), 2u);
        if (std::string(password) == "Selftest") {
            EXPECT_EQ(lines[1], "POP3 authentication successful...") << ::testing::PrintToString(lines);
            EXPECT_EQ(boxes.texts(), Texts{SuccessBoxText});
        } else {
            EXPECT_EQ(lines,
                      (Texts{"Connecting to POP3 Server (127.0.0.1)...", "Sending Email failed!",
                             "-ERR [AUTH] Authentication failed.\r\n", "Closing connection to server..."}));
            EXPECT_EQ(boxes.texts(), Texts{FailureBoxText});
        }
        EXPECT_EQ(window.emailStorage().Count(), 1);
    }
}
