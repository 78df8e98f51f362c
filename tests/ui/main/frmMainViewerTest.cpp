#include <map>
#include <set>

#include <QApplication>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QTest>

#include "MessageBodyView.h"
#include "WindowTest.h"

namespace {

const std::string NotFound = " / No messages with specified context found.";

// Messages arrive through the listener, or go straight into the window's store behind the viewer's back.
class Viewer : public WindowTest<> {
protected:
    void SetUp() override
    {
        window.show();
        ASSERT_TRUE(QTest::qWaitForWindowActive(&window));
        client = connected();
    }

    void deliver(const std::string& from, const std::string& body = "Hello\r\n", bool waitUntilShown = true)
    {
        client->Send("MAIL FROM:<" + from + ">\r\nRCPT TO:<bob@example.com>\r\nDATA\r\n" + body + ".\r\n");
        for (const char* reply : {"250 OK", "250 OK", "354 send the mail data, end with .", "250 OK"})
            EXPECT_EQ(client->readLine(), reply);
        // During a burst the window shows the newest arrival once per interval (100 ms).
        if (waitUntilShown) {
            EXPECT_TRUE(
                QTest::qWaitFor([&] { return window.CurrentMessage() == window.emailStorage().Count(); }, 1000));
        }
    }

    // The caption, "<", "x" and ">" as on or off, and the sender.
    std::string shown() const
    {
        std::string shown = caption(window, "lblMessage").toStdString() + " ";
        for (const char* name : {"cmdMessagePrev", "cmdMessageDelete", "cmdMessageNext"})
            shown += control<QPushButton>(window, name)->isEnabled() ? "1" : "0";
        return shown + " " + control<QLineEdit>(window, "txtMessageFrom")->text().toStdString();
    }

    // Presses a button, even a disabled one, the given number of times.
    std::string step(const char* button, int times = 1)
    {
        for (int i = 0; i < times; ++i) {
            control<QPushButton>(window, button)->setEnabled(true);
            press(window, button);
        }
        return shown();
    }

    MessageBodyView* body() const { return control<MessageBodyView>(window, "txtMessageBody"); }

    // Stores one message for each sender, as the listener does.
    void store(std::initializer_list<const char*> senders)
    {
        for (const char* from : senders)
            window.emailStorage().StoreEmail(from, "to", "body");
    }

    // The caption, the selection in the focused message box and the boxes the button brought up.
    std::string query(const char* button, const char* text, const char* category)
    {
        control<QLineEdit>(window, "txtMessagesSearchFor")->setText(QString::fromUtf8(text));
        control<QComboBox>(window, "cboMessagesSearchFor")->setCurrentText(QString::fromLatin1(category));
        boxes.Clear();
        press(window, button);
        std::string shown = caption(window, "lblMessage").toStdString();
        QWidget* focus = QApplication::focusWidget();
        if (auto* box = qobject_cast<QLineEdit*>(focus);
            box && box->hasSelectedText() && focus != control<QLineEdit>(window, "txtMessagesSearchFor"))
            shown += " " + box->objectName().toStdString() + ":" + box->selectedText().toStdString() + "@"
                + std::to_string(box->selectionStart());
        if (focus == body())
            shown += " txtMessageBody:" + body()->selectedText() + "@" + std::to_string(body()->selectionStart());
        for (const std::string& boxText : boxes.texts())
            shown += " / " + boxText;
        return shown;
    }
    std::string find(const char* text, const char* in = "From:") { return query("cmdMessagesFind", text, in); }
    std::string next(const char* text, const char* in = "From:") { return query("cmdMessagesFindNext", text, in); }

    std::unique_ptr<LoopbackClient> client;
};

using Search = Viewer;

} // namespace

TEST_F(Viewer, StartsEmptyStepsWithoutWrapAroundAndJumpsToEachArrival)
{
    EXPECT_EQ(shown(), "Message: (n/a) 000 ");
    EXPECT_TRUE(body()->text().empty());
    deliver("m1", "Subject: hi\r\n\r\nHello\r\n");
    EXPECT_EQ(shown(), "Message: 1/1 010 <m1>");
    EXPECT_EQ(control<QLineEdit>(window, "txtMessageTo")->text(), "<bob@example.com>");
    EXPECT_EQ(body()->text(), "Subject: hi\r\n\r\nHello\r\n");
    for (const char* from : {"m2", "m3", "m4", "m5"})
        deliver(from);
    EXPECT_EQ(shown(), "Message: 5/5 110 <m5>");
    EXPECT_EQ(step("cmdMessagePrev", 2), "Message: 3/5 111 <m3>");
    EXPECT_EQ(step("cmdMessagePrev", 2), "Message: 1/5 011 <m1>");
    // Even when pressed, "<" on the first and ">" on the last message do nothing.
    EXPECT_TRUE(step("cmdMessagePrev").starts_with("Message: 1/5 "));
    EXPECT_EQ(step("cmdMessageNext"), "Message: 2/5 111 <m2>");
    step("cmdMessagePrev");
    deliver("m6");
    EXPECT_EQ(shown(), "Message: 6/6 110 <m6>");
    EXPECT_TRUE(step("cmdMessageNext").starts_with("Message: 6/6 "));
    EXPECT_TRUE(boxes.boxes().empty());
}

// A burst is shown as it goes by, not message by message, and ends on its newest message; one
// removed before its turn to be shown never is.
TEST_F(Viewer, ABurstEndsOnItsNewestAndNeverShowsAMessageThatIsGone)
{
    std::set<std::string> removed;
    Texts seen;
    QObject::connect(control<QLineEdit>(window, "txtMessageFrom"), &QLineEdit::textChanged, &window,
                     [&](const QString& text) {
                         seen.push_back(text.toStdString());
                         EXPECT_FALSE(removed.contains(seen.back())) << seen.back() << " was removed";
                     });
    constexpr int Burst = 40;
    for (int i = 1; i <= Burst; ++i) {
        const std::string from = "b" + std::to_string(i);
        deliver(from, "Hello\r\n", false);
        if (i % 4 == 0 && i < Burst) { // behind the window's back, before it showed the message
            const std::int16_t newest = window.emailStorage().Count();
            if (window.CurrentMessage() != newest) {
                window.emailStorage().RemoveEmail(newest);
                removed.insert("<" + from + ">");
            }
        }
    }
    EXPECT_FALSE(removed.empty()) << "every arrival was shown at once";
    ASSERT_TRUE(QTest::qWaitFor([&] { return window.CurrentMessage() == window.emailStorage().Count(); }, 1000));
    EXPECT_EQ(shown(),
              "Message: " + std::to_string(Burst - removed.size()) + "/" + std::to_string(Burst - removed.size())
                  + " 110 <b" + std::to_string(Burst) + ">");
    EXPECT_LT(seen.size(), std::size_t(Burst)) << "each arrival was shown on its own";
}

TEST_F(Viewer, DeleteShowsTheMessageThatMovedIntoPlace)
{
    for (const char* from : {"a", "b", "c"})
        deliver(from);
    EXPECT_EQ(step("cmdMessageDelete"), "Message: 2/2 110 <b>"); // the last of three
    deliver("d");
    step("cmdMessagePrev", 2);
    EXPECT_EQ(step("cmdMessageDelete"), "Message: 1/2 011 <b>"); // the first of a, b, d
    EXPECT_EQ(step("cmdMessageDelete"), "Message: 1/1 010 <d>");
    EXPECT_EQ(step("cmdMessageDelete"), "Message (n/a) 000 ");
    EXPECT_TRUE(control<QLineEdit>(window, "txtMessageTo")->text().isEmpty());
    EXPECT_TRUE(body()->text().empty());
    EXPECT_EQ(window.emailStorage().Count(), 0);
    EXPECT_TRUE(boxes.boxes().empty());

    // Without a message shown, "x" answers with a box. The store tells the window of every
    // message, whoever stores it: there is no storing behind the viewer's back.
    step("cmdMessageDelete");
    window.emailStorage().StoreEmail("a", "b", "c");
    EXPECT_EQ(shown(), "Message: 1/1 010 a");
    EXPECT_EQ(boxes.texts(), Texts{"No messages available."});
}

// The category picks the field and the box selected; each keeps its own search; non-Latin-1 text finds nothing.
TEST_F(Search, CategoriesPickTheFieldAndKeepTheirOwnSearch)
{
    window.emailStorage().StoreEmail("bob", "team", "Subject: greeting\r\n\r\nsay hello\r\n");
    window.emailStorage().StoreEmail("bob", "solo", "price ? euro");
    window.emailStorage().StoreEmail("carl", "team", "body");
    struct Case {
        const char* button;
        const char* text;
        const char* category;
        std::string shown;
    };
    const Case cases[] = {
        {"cmdMessagesFind", "bob", "From:", "Message: 1/3 txtMessageFrom:bob@0"},
        {"cmdMessagesFind", "team", "To:", "Message: 1/3 txtMessageTo:team@0"},
        {"cmdMessagesFindNext", "x", "From:", "Message: 2/3"},
        {"cmdMessagesFindNext", "team", "To:", "Message: 3/3 txtMessageTo:team@0"},
        {"cmdMessagesFind", "HELLO", "Body", "Message: 1/3 txtMessageBody:hello@25"},
        {"cmdMessagesFind", "\u20ac", "Body", "Message: 1/3 txtMessageBody:hello@25" + NotFound},
        {"cmdMessagesFind", "carl", "  from: ", "Message: 3/3 txtMessageFrom:carl@0"},
        {"cmdMessagesFind", "bob", "Subject",
         "Message: 3/3 txtMessageFrom:carl@0 / Unsupported search category." + NotFound},
    };
    for (const Case& c : cases)
        EXPECT_EQ(query(c.button, c.text, c.category), c.shown) << c.button << " " << c.text << " in " << c.category;
}

TEST_F(Search, AFailureIsReportedByTheCommand)
{
    // The sender search's position cannot move beyond the last possible message.
    for (int i = 1; i < 32767; ++i)
        store({"x"});
    store({"bob"});
    EXPECT_EQ(find("bob"), "Message: 32767/32767 txtMessageFrom:bob@0");
    EXPECT_EQ(next("bob"),
              "Message: 32767/32767 txtMessageFrom:bob@0 / Fatal application error tracked:\r"
              "[6]: Overflow\rSource: cmdMessagesFindNext_Click");
}

// The same mail again (a test run sending one message over and over) repaints the position and
// nothing else: the boxes and the body already show what it holds.
TEST_F(Viewer, TheSameMailAgainRepaintsOnlyThePosition)
{
    struct PaintCounter : QObject {
        std::map<std::string, int> paints;
        bool eventFilter(QObject* watched, QEvent* event) override
        {
            if (event->type() == QEvent::Paint)
                ++paints[watched->objectName().toStdString()];
            return false;
        }
    } counter;
    body()->viewport()->setObjectName("body");
    for (QWidget* widget : std::initializer_list<QWidget*>{control<QLineEdit>(window, "txtMessageFrom"),
                                                           control<QLineEdit>(window, "txtMessageTo"),
                                                           body()->viewport(), control<QLabel>(window, "lblMessage")})
        widget->installEventFilter(&counter);
    const auto deliverAndPaint = [&](const std::string& from) {
        counter.paints.clear();
        deliver(from);
        EXPECT_TRUE(QTest::qWaitFor([&] { return counter.paints["lblMessage"] > 0; }, 1000));
        counter.paints.erase("lblMessage");
        return counter.paints;
    };
    using Paints = std::map<std::string, int>;
    deliverAndPaint("same");
    EXPECT_EQ(deliverAndPaint("same"), Paints{});
    EXPECT_EQ(shown(), "Message: 2/2 110 <same>");
    // A selection in a box is dropped by showing another message, the same text or not.
    counter.paints.clear();
    control<QLineEdit>(window, "txtMessageFrom")->selectAll();
    EXPECT_TRUE(QTest::qWaitFor([&] { return counter.paints["txtMessageFrom"] > 0; }, 1000));
    EXPECT_EQ(deliverAndPaint("same"), (Paints{{"txtMessageFrom", 1}}));
    EXPECT_FALSE(control<QLineEdit>(window, "txtMessageFrom")->hasSelectedText());
    EXPECT_EQ(deliverAndPaint("other"), (Paints{{"txtMessageFrom", 1}}));
}
