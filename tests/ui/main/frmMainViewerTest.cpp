#include <QLineEdit>
#include <QPushButton>

#include <gtest/gtest.h>

#include "BodyTextMetrics.h"
#include "LoopbackClient.h"
#include "MailIcons.h"
#include "MainWindowDriver.h"
#include "MessageBodyView.h"
#include "RecordingMessageBoxes.h"
#include "SmtpListener.h"
#include "Twips.h"
#include "clsEmailStorage.h"

namespace {

bool ShowsIcon(const frmMain& window, const QIcon& icon)
{
    return window.windowIcon().pixmap(32, 32).toImage() == icon.pixmap(32, 32).toImage();
}

// Messages arrive through the listener on a loopback port, as from any client.
class Viewer : public ::testing::Test {
protected:
    void SetUp() override
    {
        window.SetListenAddress(QHostAddress::LocalHost, 0);
        Click(window, "mnuStartStop");
        ASSERT_TRUE(window.Listening());
        ASSERT_TRUE(client.Connect(window.Listener().ListeningPort()));
        ASSERT_EQ(client.ReadLine(), "220 Quellpost");
    }

    // The body's lines end with CR LF; the store keeps them so.
    void Deliver(const std::string& from, const std::string& body = "Hello\r\n")
    {
        EXPECT_EQ(client.Command("MAIL FROM:<" + from + ">"), "250 OK");
        EXPECT_EQ(client.Command("RCPT TO:<bob@example.com>"), "250 OK");
        EXPECT_EQ(client.Command("DATA"), "354 send the mail data, end with .");
        EXPECT_EQ(client.Command(body + ".", 20000), "250 OK");
    }

    void Press(const char* button) { Control<QPushButton>(window, button)->click(); }

    // "<", "x" and ">" as on or off, in the order they sit on the window.
    std::string Buttons() const
    {
        std::string states;
        for (const char* name : {"cmdMessagePrev", "cmdMessageDelete", "cmdMessageNext"})
            states += Control<QPushButton>(window, name)->isEnabled() ? "1" : "0";
        return states;
    }

    std::string Sender() const { return Control<QLineEdit>(window, "txtMessageFrom")->text().toStdString(); }
    MessageBodyView* Body() const { return Control<MessageBodyView>(window, "txtMessageBody"); }

    RecordingMessageBoxes boxes;
    frmMain window;
    LoopbackClient client;
};

} // namespace

TEST_F(Viewer, StartsEmptyWithoutScrollBars)
{
    EXPECT_EQ(Caption(window, "lblMessage"), "Message: (n/a)");
    EXPECT_EQ(Buttons(), "000");
    EXPECT_TRUE(Sender().empty());
    EXPECT_TRUE(Body()->Text().empty());
    EXPECT_TRUE(ShowsIcon(window, NoMailIcon()));
    // The box starts with a horizontal bar, which the first evaluation takes away.
    EXPECT_EQ(Body()->horizontalScrollBarPolicy(), Qt::ScrollBarAlwaysOff);
    EXPECT_EQ(Body()->verticalScrollBarPolicy(), Qt::ScrollBarAlwaysOff);
}

TEST_F(Viewer, FirstMessageIsShownAtOnce)
{
    Deliver("alice@example.com", "Subject: hi\r\n\r\nHello\r\n");
    EXPECT_EQ(Caption(window, "lblMessage"), "Message: 1/1");
    EXPECT_EQ(Buttons(), "010");
    EXPECT_TRUE(ShowsIcon(window, MailPresentIcon()));
    EXPECT_EQ(Sender(), "<alice@example.com>");
    EXPECT_EQ(Control<QLineEdit>(window, "txtMessageTo")->text(), "<bob@example.com>");
    EXPECT_EQ(Body()->Text(), "Subject: hi\r\n\r\nHello\r\n");
    EXPECT_TRUE(Control<QLineEdit>(window, "txtMessageFrom")->isReadOnly());
    EXPECT_TRUE(Control<QLineEdit>(window, "txtMessageTo")->isReadOnly());
    EXPECT_TRUE(boxes.Boxes().empty());
}

TEST_F(Viewer, StepsWithoutWrapAroundAndJumpsToEachArrival)
{
    for (const char* from : {"m1", "m2", "m3", "m4", "m5"})
        Deliver(from);
    EXPECT_EQ(Caption(window, "lblMessage"), "Message: 5/5");
    EXPECT_EQ(Buttons(), "110");

    Press("cmdMessagePrev");
    Press("cmdMessagePrev");
    EXPECT_EQ(Caption(window, "lblMessage"), "Message: 3/5");
    EXPECT_EQ(Sender(), "<m3>");
    EXPECT_EQ(Buttons(), "111");
    Press("cmdMessagePrev");
    Press("cmdMessagePrev");
    EXPECT_EQ(Caption(window, "lblMessage"), "Message: 1/5");
    EXPECT_EQ(Buttons(), "011");

    // Even when pressed, "<" on the first message does nothing.
    Control<QPushButton>(window, "cmdMessagePrev")->setEnabled(true);
    Press("cmdMessagePrev");
    EXPECT_EQ(Caption(window, "lblMessage"), "Message: 1/5");

    Press("cmdMessageNext");
    EXPECT_EQ(Sender(), "<m2>");
    Press("cmdMessagePrev");

    Deliver("m6");
    EXPECT_EQ(Caption(window, "lblMessage"), "Message: 6/6");
    EXPECT_EQ(Sender(), "<m6>");
    Control<QPushButton>(window, "cmdMessageNext")->setEnabled(true);
    Press("cmdMessageNext");
    EXPECT_EQ(Caption(window, "lblMessage"), "Message: 6/6");
    EXPECT_TRUE(boxes.Boxes().empty());
}

TEST_F(Viewer, DeleteShowsTheMessageThatMovedIntoPlace)
{
    for (const char* from : {"a", "b", "c"})
        Deliver(from);
    Press("cmdMessageDelete"); // the last of three
    EXPECT_EQ(Caption(window, "lblMessage"), "Message: 2/2");
    EXPECT_EQ(Sender(), "<b>");
    EXPECT_EQ(Buttons(), "110");

    Deliver("d");
    Press("cmdMessagePrev");
    Press("cmdMessagePrev");
    Press("cmdMessageDelete"); // the first of a, b, d
    EXPECT_EQ(Caption(window, "lblMessage"), "Message: 1/2");
    EXPECT_EQ(Sender(), "<b>");
    EXPECT_EQ(Buttons(), "011");
    EXPECT_TRUE(ShowsIcon(window, MailPresentIcon()));

    Press("cmdMessageDelete");
    EXPECT_EQ(Caption(window, "lblMessage"), "Message: 1/1");
    EXPECT_EQ(Sender(), "<d>");
    Press("cmdMessageDelete");
    EXPECT_EQ(Caption(window, "lblMessage"), "Message (n/a)");
    EXPECT_EQ(Buttons(), "000");
    EXPECT_TRUE(Sender().empty());
    EXPECT_TRUE(Control<QLineEdit>(window, "txtMessageTo")->text().isEmpty());
    EXPECT_TRUE(Body()->Text().empty());
    EXPECT_TRUE(ShowsIcon(window, NoMailIcon()));
    EXPECT_EQ(window.EmailStorage().Count(), 0);
    EXPECT_TRUE(boxes.Boxes().empty());
}

TEST_F(Viewer, DeleteWithoutAShownMessageAnswersWithABox)
{
    QPushButton* remove = Control<QPushButton>(window, "cmdMessageDelete");
    remove->setEnabled(true);
    Press("cmdMessageDelete");
    // Stored behind the viewer's back, so that no message is chosen.
    window.EmailStorage().StoreEmail("a", "b", "c");
    Press("cmdMessageDelete");
    ASSERT_EQ(boxes.Boxes().size(), 2u);
    EXPECT_EQ(boxes.Texts(), (std::vector<std::string>{"No messages available.", "Unable to delete message."}));
    for (const auto& box : boxes.Boxes()) {
        EXPECT_EQ(box.icon, MsgIcon::Information);
        EXPECT_EQ(box.buttons, MsgButtons::Ok);
    }
    EXPECT_EQ(window.EmailStorage().Count(), 1);
}

TEST_F(Viewer, ScrollBarsFollowTheBody)
{
    // Lines that fill the box's height only while no horizontal bar takes its share.
    const Latin1Metrics metrics = MetricsForFont(Body()->font());
    const int lineTwips = metrics.lineHeight * TwipsPerPixel;
    const int available = Body()->height() * TwipsPerPixel - 60;
    const int fitting = available / lineTwips;
    ASSERT_GT(fitting * lineTwips, available - 255) << "the font's lines are too tall for this case";
    const std::string wide(300, 'W');
    std::string almostFull;
    for (int i = 1; i < fitting - 1; ++i)
        almostFull += "line\r\n";
    almostFull += wide + "\r\n"; // the empty line after it is the last that fits
    ASSERT_EQ(MeasureText(almostFull, metrics).lines, fitting);

    std::string manyLines;
    for (int i = 0; i < 40; ++i)
        manyLines += "line " + std::to_string(i) + "\r\n";

    struct Case {
        const char* name;
        std::string body;
        bool vertical;
        bool horizontal;
    };
    const Case cases[] = {
        {"one short line", "Hello\r\n", false, false},
        {"one wide line", wide + "\r\n", false, true},
        {"many short lines", manyLines, true, false},
        {"height fits only without the horizontal bar", almostFull, true, true},
        {"back to one short line", "Hello\r\n", false, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Deliver("a", c.body);
        EXPECT_EQ(Body()->verticalScrollBarPolicy(), c.vertical ? Qt::ScrollBarAlwaysOn : Qt::ScrollBarAlwaysOff);
        EXPECT_EQ(Body()->horizontalScrollBarPolicy(), c.horizontal ? Qt::ScrollBarAlwaysOn : Qt::ScrollBarAlwaysOff);
    }

    // A bar whose decision does not change is left as it is.
    Body()->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    Deliver("a", "Other\r\n");
    EXPECT_EQ(Body()->verticalScrollBarPolicy(), Qt::ScrollBarAsNeeded);
    Deliver("a", wide + "\r\n");
    EXPECT_EQ(Body()->verticalScrollBarPolicy(), Qt::ScrollBarAsNeeded);
    EXPECT_EQ(Body()->horizontalScrollBarPolicy(), Qt::ScrollBarAlwaysOn);
    EXPECT_TRUE(boxes.Boxes().empty());
}
