#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QPushButton>
#include <QTcpServer>

#include <gtest/gtest.h>

#include "LoopbackClient.h"
#include "MainWindowDriver.h"
#include "RecordingMessageBoxes.h"
#include "SmtpListener.h"
#include "frmLog.h"

namespace {

class MainWindow : public ::testing::Test {
protected:
    MainWindow() { window.SetListenAddress(QHostAddress::LocalHost, 0); }

    RecordingMessageBoxes boxes;
    frmMain window;
};

} // namespace

TEST_F(MainWindow, StartsIdleWithItsCaptions)
{
    ASSERT_TRUE(window.Loaded());
    EXPECT_EQ(window.windowTitle(), "Quellpost");
    EXPECT_EQ(Caption(window, "lblApplicationState"), "Idle (inactive).");
    EXPECT_EQ(Caption(window, "lblActiveConnectionsNum"), "0");
    EXPECT_EQ(Caption(window, "lblMessage"), "Message: (n/a)");
    EXPECT_FALSE(Control<QLabel>(window, "lblReceiving")->isVisibleTo(&window));
    EXPECT_EQ(Control<QAction>(window, "mnuStartStop")->text(), "Start");
    EXPECT_EQ(Control<QAction>(window, "mnuStartStop")->shortcut(), QKeySequence(Qt::Key_F5));
    EXPECT_EQ(Control<QAction>(window, "mnuQuit")->shortcut(), QKeySequence(Qt::SHIFT | Qt::Key_F4));
    EXPECT_EQ(Control<QAction>(window, "mnuTestLogger")->shortcut(), QKeySequence(Qt::Key_F6));
    EXPECT_EQ(Control<QAction>(window, "mnuLog")->shortcut(), QKeySequence(Qt::CTRL | Qt::Key_L));
    EXPECT_FALSE(Control<QAction>(window, "mnuPop3Auth")->isChecked());
    EXPECT_FALSE(Control<QAction>(window, "mnuSMTPAuth")->isChecked());
    EXPECT_EQ(Control<QComboBox>(window, "cboMessagesSearchFor")->currentText(), "From:");
    for (const char* button : {"cmdMessagePrev", "cmdMessageNext", "cmdMessageDelete"})
        EXPECT_FALSE(Control<QPushButton>(window, button)->isEnabled()) << button;
    EXPECT_EQ(Control<QPushButton>(window, "cmdMessageDelete")->accessibleDescription(),
              "Remove current message from storage.");
    EXPECT_FALSE(window.LogWindow().isVisible());
    EXPECT_TRUE(boxes.Boxes().empty());
}

TEST_F(MainWindow, StartStopStartLogsInOrder)
{
    Click(window, "mnuStartStop");
    EXPECT_EQ(window.windowTitle(), "Quellpost (listening)");
    EXPECT_EQ(Control<QAction>(window, "mnuStartStop")->text(), "Stop");
    EXPECT_EQ(Caption(window, "lblApplicationState"), "Listening for messages.");
    EXPECT_TRUE(window.Listening());

    Click(window, "mnuStartStop");
    EXPECT_EQ(window.windowTitle(), "Quellpost");
    EXPECT_EQ(Control<QAction>(window, "mnuStartStop")->text(), "Start");
    EXPECT_EQ(Caption(window, "lblApplicationState"), "Idle (inactive).");
    EXPECT_FALSE(window.Listening());

    Click(window, "mnuStartStop");
    EXPECT_EQ(window.windowTitle(), "Quellpost (listening)");
    EXPECT_EQ(LogLines(window), (std::vector<std::string>{"SMTP server started.", "Shutting down all WinSock connections.",
                                                          "SMTP server stopped.", "SMTP server started."}));
    EXPECT_TRUE(boxes.Boxes().empty());
}

TEST_F(MainWindow, PortInUseLeavesEverythingIdle)
{
    QTcpServer holder;
    ASSERT_TRUE(holder.listen(QHostAddress::LocalHost, 0));
    window.SetListenAddress(QHostAddress::LocalHost, holder.serverPort());
    Click(window, "mnuStartStop");
    ASSERT_EQ(boxes.Boxes().size(), 1u);
    EXPECT_EQ(boxes.Boxes()[0].icon, MsgIcon::Critical);
    EXPECT_TRUE(boxes.Boxes()[0].text.starts_with("Fatal application error tracked:\r[10048]: "));
    EXPECT_TRUE(boxes.Boxes()[0].text.ends_with("\rSource: mnuStartStop_Click"));
    EXPECT_EQ(window.windowTitle(), "Quellpost");
    EXPECT_EQ(Control<QAction>(window, "mnuStartStop")->text(), "Start");
    EXPECT_EQ(Caption(window, "lblApplicationState"), "Idle (inactive).");
    EXPECT_FALSE(window.Listening());
    EXPECT_TRUE(LogLines(window).empty());

    // Once the port is free, Start works.
    holder.close();
    Click(window, "mnuStartStop");
    EXPECT_TRUE(window.Listening());
}

TEST_F(MainWindow, QuitClosesTheConnectionsAndTheWindow)
{
    window.show();
    Click(window, "mnuStartStop");
    LoopbackClient client;
    ASSERT_TRUE(client.Connect(window.Listener().ListeningPort()));
    EXPECT_EQ(client.ReadLine(), "220 Quellpost");
    EXPECT_EQ(Caption(window, "lblActiveConnectionsNum"), "1");
    Click(window, "mnuQuit");
    EXPECT_TRUE(client.WaitForClose());
    EXPECT_FALSE(window.isVisible());
    EXPECT_EQ(LogLines(window).back(), "Shutting down all WinSock connections.");
}

TEST_F(MainWindow, LogWindowFollowsItsMenuEntry)
{
    QAction* mnuLog = Control<QAction>(window, "mnuLog");
    mnuLog->trigger();
    EXPECT_TRUE(window.LogWindow().isVisible());
    EXPECT_TRUE(mnuLog->isChecked());
    mnuLog->trigger();
    EXPECT_FALSE(window.LogWindow().isVisible());
    EXPECT_FALSE(mnuLog->isChecked());

    mnuLog->trigger();
    window.LogWindow().close(); // its own close box
    EXPECT_FALSE(window.LogWindow().isVisible());
    EXPECT_FALSE(mnuLog->isChecked());
}

TEST_F(MainWindow, DetailedLoggingFollowsTheCheckBox)
{
    Click(window, "mnuStartStop");
    LoopbackClient client;
    ASSERT_TRUE(client.Connect(window.Listener().ListeningPort()));
    EXPECT_EQ(client.ReadLine(), "220 Quellpost");
    window.LogWindow().chkLogFull()->setChecked(true);
    client.Close();
    ASSERT_TRUE(WaitFor([&] { return Caption(window, "lblActiveConnectionsNum") == "0"; }));
    const auto lines = LogLines(window);
    EXPECT_EQ(lines[lines.size() - 2], "SMTPServer::Close, index 1: Close request.");
    EXPECT_EQ(lines.back(), "SMTPServer::Close, index 1: Socket has been closed.");
}
