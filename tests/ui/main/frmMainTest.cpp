#include <QCheckBox>
#include <QTcpServer>
#include <QTest>

#include "CaptureSetup.h"
#include "ErrorReport.h"
#include "MessageBoxes.h"
#include "WindowTest.h"
#include "frmLog.h"

namespace {

class MainWindow : public WindowTest<> {
protected:
    MainWindow()
    {
        window.show();
        window.activateWindow();
        EXPECT_TRUE(QTest::qWaitForWindowActive(&window));
    }

    // The state caption and the listener agree.
    void expectListening(bool listening)
    {
        EXPECT_EQ(caption(window, "lblApplicationState"), listening ? "Listening for messages." : "Idle (inactive).");
        EXPECT_EQ(window.listening(), listening);
    }
};

} // namespace

TEST_F(MainWindow, PortInUseLeavesEverythingIdleThenStartStopStartLogsInOrder)
{
    ASSERT_TRUE(window.loaded());
    expectListening(false);
    QTcpServer holder;
    ASSERT_TRUE(holder.listen(QHostAddress::LocalHost, 0));
    service.setListenAddress({"127.0.0.1", holder.serverPort()});
    click(window, "mnuStartStop");
    EXPECT_EQ(boxes.texts(),
              Texts{"Fatal application error tracked:\r[10048]: Address in use: another "
                    "program is already using port "
                    + std::to_string(holder.serverPort()) + "\rSource: mnuStartStop_Click"});
    expectListening(false);
    EXPECT_TRUE(logLines(window).empty());

    holder.close();
    boxes.Clear();
    for (bool listening : {true, false, true}) {
        click(window, "mnuStartStop");
        expectListening(listening);
    }
    EXPECT_EQ(logLines(window),
              (Texts{"SMTP server started.", "Shutting down all WinSock connections.", "SMTP server stopped.",
                     "SMTP server started."}));
    EXPECT_TRUE(boxes.boxes().empty());
}

TEST_F(MainWindow, CountsClientsLogsInDetailWhenCheckedAndQuitClosesThem)
{
    auto leaving = connected();
    LoopbackClient staying;
    ASSERT_TRUE(staying.Connect(window.listener().listeningPort()));
    ASSERT_TRUE(waitFor([&] { return caption(window, "lblActiveConnectionsNum") == "2"; }));
    window.logWindow().chkLogFull()->setChecked(true);
    leaving->Close();
    ASSERT_TRUE(waitFor([&] { return caption(window, "lblActiveConnectionsNum") == "1"; }));
    EXPECT_EQ(logLines(window).back(), "SMTPServer::Close, index 1: Socket has been closed.");

    click(window, "mnuQuit");
    EXPECT_TRUE(staying.waitForClose());
    EXPECT_FALSE(window.isVisible());
    EXPECT_EQ(logLines(window).back(), "Shutting down all WinSock connections.");
}

// Quit from a box a socket handler raised: the handler resumes after it and must touch nothing destroyed.
TEST_F(MainWindow, QuitFromABoxInsideASocketHandler)
{
    boxes.whileOpen = [&] { click(window, "mnuQuit"); };
    for (int i = 0; i < 32767; ++i)
        window.emailStorage().StoreEmail("a@b", "c@d", "x");
    auto client = connected();
    client->Send("MAIL FROM:<a@b>\r\nRCPT TO:<c@d>\r\nDATA\r\nbody\r\n.\r\n");
    EXPECT_TRUE(client->waitForClose());
    ASSERT_EQ(boxes.boxes().size(), 1u);
    EXPECT_TRUE(boxes.boxes()[0].text.ends_with("Source: sckSMTPServer_DataArrival\rIndex: 1"));
    EXPECT_FALSE(window.isVisible());
    EXPECT_EQ(window.emailStorage().Count(), 0);
}

// Reports arriving inside a modal box's nested loop open boxes of their own, up to a few; then go to the log.
TEST_F(MainWindow, BoxesBeyondThreeGoToTheLog)
{
    int burst = 250, deepest = 0;
    boxes.whileOpen = [&] {
        deepest = std::max(deepest, openMessageBoxes());
        while (burst > 0) {
            --burst;
            reportFatal("sckSMTPServer_DataArrival", 3, AppError(ErrorNumber::Overflow, "Overflow"));
        }
    };
    msgBox("Sending a test email did not succeed.\rView log window for details.", MsgButtons::Ok, MsgIcon::Exclamation);

    EXPECT_EQ(boxes.boxes().size(), 3u);
    EXPECT_EQ(deepest, MaxOpenMessageBoxes);
    const Texts lines = logLines(window);
    ASSERT_EQ(lines.size(), 248u);
    for (const std::string& line : lines)
        EXPECT_EQ(line, "Fatal application error tracked: [6]: Overflow Source: sckSMTPServer_DataArrival Index: 3");
    EXPECT_EQ(openMessageBoxes(), 0);
}

// The window comes before the command line is applied: its menu and log show what that did.
TEST_F(MainWindow, TheModernDialogueFromTheCommandLineShowsInTheMenuAndTheLog)
{
    CommandLineOptions options;
    options.modernSmtp = true;
    ASSERT_TRUE(setUpCapture(service, options).done);
    EXPECT_TRUE(control<QAction>(window, "mnuModernSmtp")->isChecked());
    ASSERT_FALSE(logLines(window).empty());
    EXPECT_TRUE(logLines(window).back().starts_with("Modern SMTP (EHLO, STARTTLS, AUTH) on"))
        << logLines(window).back();
    click(window, "mnuModernSmtp");
    EXPECT_FALSE(service.modernSmtp());
    EXPECT_FALSE(control<QAction>(window, "mnuModernSmtp")->isChecked());
}

// What the user reads and presses, as designed: "name=caption|tooltip|shortcut" of each window, control and menu.
TEST_F(MainWindow, CaptionsTooltipsAndShortcutsAsDesigned)
{
    const QStringList cases
        = QStringLiteral(
              "frmMain=Quellpost||;frameApplicationState=Application state:||;lblApplicationState=Idle (inactive).||;"
              "lblReceiving=Receiving...||;lblReceivingPercent=(%)||;lblActiveConnections=Active connections:||;"
              "lblActiveConnectionsNum=0||;frameMessages=Messages received (stored):||;"
              "cmdMessagePrev=<|Switch to the previous message.|;"
              "cmdMessageDelete=x|Remove current message from storage.|;cmdMessageNext=>|Switch to the next message.|;"
              "lblMessage=Message: (n/a)||;lblMessageFrom=From:||;"
              "txtMessageFrom=|Address, the message has been received from|;"
              "lblMessageTo=To:|Address the message has been sent to|;"
              "txtMessageTo=|Address, the message has been sent to|;"
              "txtMessageBody=|The message content received at last (or specifically selected).|;"
              "picMessageBody=|Required to toggle textbox scrollbars only if required.|;"
              "frameMessagesSearch=Search within messages:||;lblMessagesSearchFor=Search for:||;"
              "txtMessagesSearchFor=|Enter text to serach for within messages.|;lblMessagesSearchIn=in:||;"
              "cboMessagesSearchFor=|Select category to search within|;"
              "cmdMessagesFind=Find|Find first message with specified context.|;"
              "cmdMessagesFindNext=Next|Find next message with specified context.|;mnuControl=&Control||;"
              "mnuStartStop=Start||F5;mnuQuit=&Quit||Shift+F4;mnuSelftest=&Selftest||;mnuSettings=Settings||;"
              "mnuPop3Auth=With POP3-AUTH||F11;mnuSMTPAuth=With SMTP-AUTH||F12;mnuTestLogger=Send Test Email||F6;"
              "mnuView=&View||;mnuLog=Log window||Ctrl+L;frmLog=Quellpost (log)||;"
              "frameApplicationLog=Application log:||;lstLog=|Log of operations done by Quellpost.|;"
              "cmdClearLog=Clear|Clear log messages collected so far.|;"
              "chkLogFull=Enable detailed (full) logging|Enable extended logging (full log, for debugging purposes).|;")
              .split(u';', Qt::SkipEmptyParts);
    for (const QString& row : cases) {
        const QString name = row.section(u'=', 0, 0);
        QObject* object = nullptr;
        for (QWidget* top : std::initializer_list<QWidget*>{&window, &window.logWindow()})
            if (!object)
                object = top->objectName() == name ? top : top->findChild<QObject*>(name);
        ASSERT_NE(object, nullptr) << row.toStdString();
        // Labels, buttons and menu entries have a text, frames and menus a title, windows a title of their own.
        const auto text = [&](const char* property) { return object->property(property).toString(); };
        const QString tip = qobject_cast<QAction*>(object) ? QString() : text("toolTip");
        const QString keys = object->property("shortcut").value<QKeySequence>().toString();
        EXPECT_EQ((text("text") + text("title") + text("windowTitle") + u'|' + tip + u'|' + keys).toStdString(),
                  row.section(u'=', 1).toStdString());
    }
}
