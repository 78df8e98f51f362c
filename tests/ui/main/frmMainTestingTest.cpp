#include <deque>

#include <QApplication>
#include <QCheckBox>
#include <QSpinBox>
#include <QTimer>

#include "Desktop.h"
#include "RelayService.h"
#include "WindowTest.h"
#include "frmChaos.h"
#include "frmMessage.h"

namespace {

// Answers the text dialog from a queue; whileOpen runs while it is "open".
class AnsweringDesktop : public Desktop {
public:
    AnsweringDesktop() { setDesktop(this); }
    ~AnsweringDesktop() override { setDesktop(nullptr); }
    QString saveFileName(QWidget*, const QString&, const QString&, const QString&) override { return {}; }
    QStringList openFileNames(QWidget*, const QString&, const QString&) override { return {}; }
    void openUrl(const QUrl&) override { }
    std::optional<QString> askText(QWidget*, const QString&, const QString& label) override
    {
        labels.push_back(label);
        std::exchange(whileOpen, [] {})();
        std::optional<QString> answer = answers.empty() ? std::nullopt : answers.front();
        if (!answers.empty())
            answers.pop_front();
        return answer;
    }
    std::deque<std::optional<QString>> answers;
    std::vector<QString> labels;
    std::function<void()> whileOpen = [] {};
};

class Testing : public WindowTest<> {
protected:
    Testing() { click(window, "mnuStartStop"); }

    // The window's own server as the relay: what it releases comes back as a new message.
    void useOwnServerAsRelay()
    {
        std::string error;
        auto settings
            = RelaySettings::parse("smtp://127.0.0.1:" + std::to_string(window.listener().listeningPort()), error);
        settings->security = RelaySettings::Security::Plain;
        settings->timeout = std::chrono::seconds(10);
        service.setRelay(std::make_unique<RelayService>(*settings, *RelayAllowList::compile(".*@example\\.com", error),
                                                        [this](const std::string& line) { logged.push_back(line); }));
    }

    // Over SMTP, as mail arrives: the window shows it.
    void Send(const std::string& stuffedBody)
    {
        LoopbackClient client;
        ASSERT_TRUE(client.Connect(window.listener().listeningPort()));
        client.readLine();
        client.Send("MAIL FROM:<app@example.com>\r\nRCPT TO:<user@example.com>\r\nDATA\r\n" + stuffedBody + ".\r\n");
        ASSERT_TRUE(waitFor([&] { return window.emailStorage().Count() == 1; }));
    }

    AnsweringDesktop desktop;
    std::vector<std::string> logged;
};

const std::string Body = "From: app@example.com\r\nSubject: release\r\n\r\n.leading dot\r\nend\r\n";

} // namespace

// The dialog sets what the server answers; Cancel leaves it as it was.
TEST_F(Testing, FailureRepliesFromTheControlMenu)
{
    for (bool accept : {false, true}) {
        QTimer::singleShot(0, [accept] {
            auto* dialog = qobject_cast<frmChaos*>(QApplication::activeModalWidget());
            ASSERT_NE(dialog, nullptr);
            dialog->chkChaosEnabled()->setChecked(true);
            dialog->spnCode(ChaosStep::Recipient)->setValue(421);
            dialog->spnProbability(ChaosStep::Recipient)->setValue(100);
            accept ? dialog->accept() : dialog->reject();
        });
        click(window, "mnuChaos");
        EXPECT_EQ(window.listener().chaos().enabled(), accept);
    }
    LoopbackClient client;
    ASSERT_TRUE(client.Connect(window.listener().listeningPort()));
    client.readLine();
    EXPECT_EQ(client.command("MAIL FROM:<a@example.com>"), "250 OK");
    EXPECT_EQ(client.command("RCPT TO:<b@example.com>"), "421 Chaos recipient error");
}

// From the Messages menu and the message window: the message chosen before the dialog arrives at
// the relay unchanged; one deleted while the dialog is open, or a recipient not allowed, is not sent.
TEST_F(Testing, ReleaseSendsTheChosenMessageOnly)
{
    click(window, "mnuMessageRelease");
    EXPECT_EQ(boxes.texts(),
              Texts{"Release needs a mail server to send to: start the program with --relay URL and "
                    "--relay-allow REGEX."});
    useOwnServerAsRelay();
    boxes.Clear();
    Send("From: app@example.com\r\nSubject: release\r\n\r\n..leading dot\r\nend\r\n");
    desktop.answers = {QString("ann@example.com, bob@example.com")};
    click(window, "mnuMessageRelease");
    ASSERT_TRUE(waitFor([&] { return !boxes.boxes().empty(); }, 15000));
    EXPECT_EQ(
        boxes.texts(),
        Texts{"The message was released to 127.0.0.1:" + std::to_string(window.listener().listeningPort()) + "."});
    ASSERT_EQ(window.emailStorage().Count(), 2);
    EXPECT_EQ(window.emailStorage().EmailBody(2), Body);
    EXPECT_EQ(window.emailStorage().EmailTo(2), "<ann@example.com>, <bob@example.com>");
    EXPECT_EQ(window.emailStorage().EmailFrom(2), "<app@example.com>");

    boxes.Clear();
    click(window, "mnuMessageView");
    desktop.answers = {QString("eve@evil.example")};
    window.messageWindow()->findChild<QPushButton*>(QStringLiteral("cmdRelease"))->click();
    EXPECT_EQ(boxes.texts(), Texts{"The message was not released: not allowed by --relay-allow: eve@evil.example."});

    boxes.Clear();
    desktop.answers = {QString("ann@example.com")};
    desktop.whileOpen = [this] { window.emailStorage().Clear(); };
    click(window, "mnuMessageRelease");
    EXPECT_EQ(boxes.texts(), Texts{"The message chosen for release is no longer stored."});
    EXPECT_EQ(window.emailStorage().Count(), 0);
    ASSERT_EQ(logged.size(), 2U);
    EXPECT_EQ(logged[0].rfind("Release of message 1 to ann@example.com, bob@example.com: sent to 127.0.0.1:", 0), 0U);
    EXPECT_NE(logged[1].find("refused: not allowed"), std::string::npos);
}
