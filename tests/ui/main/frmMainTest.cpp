#include <algorithm>
#include <memory>
#include <set>

#include <QAccessible>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QMenuBar>
#include <QTcpServer>
#include <QTest>

#include <gtest/gtest.h>

#include "ErrorReport.h"
#include "LoopbackClient.h"
#include "MainWindowDriver.h"
#include "MessageBoxes.h"
#include "RecordingMessageBoxes.h"
#include "SmtpListener.h"
#include "clsEmailStorage.h"
#include "frmLog.h"

namespace {

QString Accessible(QObject* object, QAccessible::Text text)
{
    QAccessibleInterface* accessible = QAccessible::queryAccessibleInterface(object);
    return accessible ? accessible->text(text) : QString();
}

// A modal box runs a nested event loop: reports arriving while it is open open their own boxes
// inside it. This service plays such a burst out while its first box is open.
class NestingBoxes : public MessageBoxService {
public:
    explicit NestingBoxes(int burst) : m_remaining(burst) { SetMessageBoxService(this); }
    ~NestingBoxes() override { SetMessageBoxService(nullptr); }

    MsgResult Show(const std::string& text, MsgButtons, MsgIcon) override
    {
        shown.push_back(text);
        deepest = std::max(deepest, OpenMessageBoxes());
        while (m_remaining > 0) {
            --m_remaining;
            ReportFatal("sckSMTPServer_DataArrival", 3, AppError(ErrorNumber::Overflow, "Overflow"));
        }
        return MsgResult::Ok;
    }

    std::vector<std::string> shown;
    int deepest = 0;

private:
    int m_remaining;
};

class MainWindow : public ::testing::Test {
protected:
    MainWindow()
    {
        window.SetListenAddress(QHostAddress::LocalHost, 0);
        window.show();
        window.activateWindow();
        EXPECT_TRUE(QTest::qWaitForWindowActive(&window));
    }

    // Title, menu entry, state caption and listener agree.
    void ExpectListening(bool listening)
    {
        EXPECT_EQ(window.windowTitle(), listening ? "Quellpost (listening)" : "Quellpost");
        EXPECT_EQ(Control<QAction>(window, "mnuStartStop")->text(), listening ? "Stop" : "Start");
        EXPECT_EQ(Caption(window, "lblApplicationState"), listening ? "Listening for messages." : "Idle (inactive).");
        EXPECT_EQ(window.Listening(), listening);
    }

    std::unique_ptr<LoopbackClient> Connected()
    {
        Click(window, "mnuStartStop");
        auto client = std::make_unique<LoopbackClient>();
        EXPECT_TRUE(client->Connect(window.Listener().ListeningPort()));
        EXPECT_EQ(client->ReadLine(), "220 Quellpost");
        return client;
    }

    RecordingMessageBoxes boxes;
    frmMain window;
};

} // namespace

TEST_F(MainWindow, StartsIdleThenStartStopStartLogsInOrder)
{
    ASSERT_TRUE(window.Loaded());
    ExpectListening(false);
    EXPECT_EQ(Caption(window, "lblActiveConnectionsNum"), "0");
    EXPECT_FALSE(Control<QLabel>(window, "lblReceiving")->isVisibleTo(&window));
    EXPECT_EQ(Control<QComboBox>(window, "cboMessagesSearchFor")->currentText(), "From:");
    for (bool listening : {true, false, true}) {
        Click(window, "mnuStartStop");
        ExpectListening(listening);
    }
    EXPECT_EQ(LogLines(window), (std::vector<std::string>{"SMTP server started.",
                                                          "Shutting down all WinSock connections.",
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
    ExpectListening(false);
    EXPECT_TRUE(LogLines(window).empty());

    holder.close();
    Click(window, "mnuStartStop");
    EXPECT_TRUE(window.Listening());
}

TEST_F(MainWindow, QuitClosesTheConnectionsAndTheWindow)
{
    auto client = Connected();
    EXPECT_EQ(Caption(window, "lblActiveConnectionsNum"), "1");
    Click(window, "mnuQuit");
    EXPECT_TRUE(client->WaitForClose());
    EXPECT_FALSE(window.isVisible());
    EXPECT_EQ(LogLines(window).back(), "Shutting down all WinSock connections.");
}

// Quit chosen in a box that a socket handler raised: the handler resumes after its box with its
// socket shut down and the messages discarded, and must not touch anything destroyed.
TEST_F(MainWindow, QuitFromABoxInsideASocketHandler)
{
    struct QuitOnBox : MessageBoxService {
        explicit QuitOnBox(frmMain& w) : window(w) { SetMessageBoxService(this); }
        MsgResult Show(const std::string& text, MsgButtons, MsgIcon) override
        {
            shown.push_back(text);
            Click(window, "mnuQuit");
            return MsgResult::Ok;
        }
        frmMain& window;
        std::vector<std::string> shown;
    } quitOnBox(window);

    for (int i = 0; i < 32767; ++i)
        window.EmailStorage().StoreEmail("a@b", "c@d", "x");
    auto client = Connected();
    client->Send("MAIL FROM:<a@b>\r\nRCPT TO:<c@d>\r\nDATA\r\nbody\r\n.\r\n");
    EXPECT_TRUE(client->WaitForClose());
    SetMessageBoxService(&boxes);
    ASSERT_EQ(quitOnBox.shown.size(), 1u);
    EXPECT_TRUE(quitOnBox.shown[0].ends_with("Source: sckSMTPServer_DataArrival\rIndex: 1"));
    EXPECT_FALSE(window.isVisible());
    EXPECT_EQ(window.EmailStorage().Count(), 0);
}

TEST_F(MainWindow, LogWindowFollowsItsMenuEntryAndItsCloseBox)
{
    QAction* mnuLog = Control<QAction>(window, "mnuLog");
    for (bool shown : {true, false, true}) {
        mnuLog->trigger();
        EXPECT_EQ(window.LogWindow().isVisible(), shown);
        EXPECT_EQ(mnuLog->isChecked(), shown);
    }
    window.LogWindow().close();
    EXPECT_FALSE(window.LogWindow().isVisible());
    EXPECT_FALSE(mnuLog->isChecked());
}

TEST_F(MainWindow, DetailedLoggingFollowsTheCheckBox)
{
    auto client = Connected();
    window.LogWindow().chkLogFull()->setChecked(true);
    client->Close();
    ASSERT_TRUE(WaitFor([&] { return Caption(window, "lblActiveConnectionsNum") == "0"; }));
    const auto lines = LogLines(window);
    EXPECT_EQ(lines[lines.size() - 2], "SMTPServer::Close, index 1: Close request.");
    EXPECT_EQ(lines.back(), "SMTPServer::Close, index 1: Socket has been closed.");
}

TEST_F(MainWindow, ControlsAreNamedForScreenReaders)
{
    struct Case { const char* control; const char* name; const char* description; };
    const Case cases[] = {
        {"lblApplicationState", "Idle (inactive).", ""},
        {"lblActiveConnections", "Active connections:", ""},
        {"frameMessages", "Messages received (stored):", ""},
        {"cmdMessagePrev", "<", "Switch to the previous message."},
        {"cmdMessageDelete", "x", "Remove current message from storage."},
        {"cmdMessageNext", ">", "Switch to the next message."},
        {"txtMessageFrom", "From:", "Address, the message has been received from"},
        {"txtMessageTo", "To:", "Address, the message has been sent to"},
        {"txtMessageBody", "Message body", "The message content received at last (or specifically selected)."},
        {"txtMessagesSearchFor", "Search for:", "Enter text to serach for within messages."},
        {"cboMessagesSearchFor", "in:", "Select category to search within"},
        {"cmdMessagesFind", "Find", "Find first message with specified context."},
        {"cmdMessagesFindNext", "Next", "Find next message with specified context."},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.control);
        QWidget* widget = Control<QWidget>(window, c.control);
        // A combo box tells screen readers its current entry; its own name is a property.
        const bool combo = qobject_cast<QComboBox*>(widget);
        EXPECT_EQ(combo ? widget->accessibleName() : Accessible(widget, QAccessible::Name), c.name);
        EXPECT_EQ(Accessible(widget, QAccessible::Description), c.description);
    }
    // A label's name follows what it shows.
    Click(window, "mnuStartStop");
    EXPECT_EQ(Accessible(Control<QLabel>(window, "lblApplicationState"), QAccessible::Name), "Listening for messages.");
}

TEST_F(MainWindow, ShortcutsAndAccessKeysWork)
{
    QTest::keyClick(&window, Qt::Key_F5);
    EXPECT_TRUE(window.Listening());
    // The two check marks turn over each on its own.
    QAction* pop3 = Control<QAction>(window, "mnuPop3Auth");
    QAction* smtp = Control<QAction>(window, "mnuSMTPAuth");
    QTest::keyClick(&window, Qt::Key_F11);
    EXPECT_TRUE(pop3->isChecked() && !smtp->isChecked());
    QTest::keyClick(&window, Qt::Key_F11);
    QTest::keyClick(&window, Qt::Key_F12);
    EXPECT_TRUE(!pop3->isChecked() && smtp->isChecked());
    QTest::keyClick(&window, Qt::Key_L, Qt::ControlModifier);
    EXPECT_TRUE(window.LogWindow().isVisible());
    // Pressing these would quit or send: their keys are checked as they stand.
    EXPECT_EQ(Control<QAction>(window, "mnuQuit")->shortcut(), QKeySequence(Qt::SHIFT | Qt::Key_F4));
    EXPECT_EQ(Control<QAction>(window, "mnuTestLogger")->shortcut(), QKeySequence(Qt::Key_F6));

    std::set<QKeySequence> accessKeys;
    for (QAction* menu : window.menuBar()->actions())
        accessKeys.insert(QKeySequence::mnemonic(menu->text()));
    EXPECT_EQ(accessKeys, (std::set<QKeySequence>{QKeySequence(Qt::ALT | Qt::Key_C), QKeySequence(Qt::ALT | Qt::Key_S),
                                                   QKeySequence(Qt::ALT | Qt::Key_V)}));
    EXPECT_EQ(QKeySequence::mnemonic(Control<QAction>(window, "mnuQuit")->text()), QKeySequence(Qt::ALT | Qt::Key_Q));
}

TEST_F(MainWindow, EveryButtonIsReachableByTab)
{
    for (int i = 0; i < 3; ++i)
        window.EmailStorage().StoreEmail("<a@example.com>", "<b@example.com>", "body\r\n");
    Control<QPushButton>(window, "cmdMessagesFind")->setFocus();
    Control<QLineEdit>(window, "txtMessagesSearchFor")->setText("a");
    QTest::mouseClick(Control<QPushButton>(window, "cmdMessagesFind"), Qt::LeftButton);
    ASSERT_EQ(Caption(window, "lblMessage"), "Message: 1/3");

    std::set<QString> reached;
    for (int i = 0; i < 30; ++i) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        if (QWidget* focus = QApplication::focusWidget())
            reached.insert(focus->objectName());
    }
    for (const char* control : {"cmdMessageDelete", "cmdMessageNext", "cmdMessagesFind", "cmdMessagesFindNext",
                                "txtMessageFrom", "txtMessageTo", "txtMessageBody", "txtMessagesSearchFor",
                                "cboMessagesSearchFor"})
        EXPECT_TRUE(reached.contains(QString::fromLatin1(control))) << control;
}


TEST(MessageBoxBurst, BoxesBeyondThreeGoToTheLog)
{
    NestingBoxes boxes(250);
    frmMain window;
    ASSERT_TRUE(window.Loaded());
    MsgBox("Sending a test email did not succeed.\rView log window for details.", MsgButtons::Ok, MsgIcon::Exclamation);

    EXPECT_EQ(boxes.shown.size(), 3u);
    EXPECT_EQ(boxes.deepest, MaxOpenMessageBoxes);
    const std::vector<std::string> lines = LogLines(window);
    ASSERT_EQ(lines.size(), 248u);
    for (const std::string& line : lines)
        EXPECT_EQ(line, "Fatal application error tracked: [6]: Overflow Source: sckSMTPServer_DataArrival Index: 3");
    EXPECT_EQ(OpenMessageBoxes(), 0);
}
