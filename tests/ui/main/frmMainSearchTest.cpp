#include <functional>

#include <QApplication>
#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>

#include <gtest/gtest.h>

#include "MainWindowDriver.h"
#include "MessageBodyView.h"
#include "RecordingMessageBoxes.h"
#include "clsEmailStorage.h"

namespace {

constexpr const char* NotFound = "No messages with specified context found.";

// Messages go straight into the window's store; the search shows them.
class Search : public ::testing::Test {
protected:
    void SetUp() override
    {
        window.show();
        ASSERT_TRUE(QTest::qWaitForWindowActive(&window));
    }

    void Store(const std::string& from, const std::string& to = "to", const std::string& body = "body")
    {
        window.EmailStorage().StoreEmail(from, to, body);
    }

    void Press(const char* button, const char* text, const char* category)
    {
        SearchBox()->setText(QString::fromUtf8(text));
        QComboBox* categories = Control<QComboBox>(window, "cboMessagesSearchFor");
        if (categories->isEditable())
            categories->setEditText(QString::fromLatin1(category));
        else
            categories->setCurrentIndex(categories->findText(QString::fromLatin1(category)));
        Control<QPushButton>(window, button)->click();
    }
    void Find(const char* text, const char* category = "From:") { Press("cmdMessagesFind", text, category); }
    void Next(const char* text, const char* category = "From:") { Press("cmdMessagesFindNext", text, category); }

    std::string Shown() const { return Caption(window, "lblMessage").toStdString(); }
    QLineEdit* Box(const char* name) const { return Control<QLineEdit>(window, name); }
    QLineEdit* SearchBox() const { return Box("txtMessagesSearchFor"); }

    RecordingMessageBoxes boxes;
    frmMain window;
};

} // namespace

TEST_F(Search, ChecksComeInOrder)
{
    Find("bob");
    Next("bob");
    Find("");
    Store("bob");
    Find("   ");
    Next("");
    EXPECT_EQ(boxes.Texts(), (std::vector<std::string>{"No messages available.", "No messages available.",
                                                       "No messages available.", "Text to search for is empty.",
                                                       "Text to search for is empty."}));
    for (const auto& box : boxes.Boxes()) {
        EXPECT_EQ(box.icon, MsgIcon::Information);
        EXPECT_EQ(box.buttons, MsgButtons::Ok);
    }
    EXPECT_EQ(Shown(), "Message: (n/a)");
}

TEST_F(Search, FindThenNextThroughTheSenders)
{
    Store("Alice");
    Store("BOB smith");
    Store("Bobby");
    Find("bob");
    EXPECT_EQ(Shown(), "Message: 2/3");
    EXPECT_EQ(Box("txtMessageFrom")->selectedText(), "BOB");
    EXPECT_EQ(Box("txtMessageFrom")->selectionStart(), 0);
    EXPECT_EQ(QApplication::focusWidget(), Box("txtMessageFrom"));

    Next("bob");
    EXPECT_EQ(Shown(), "Message: 3/3");
    EXPECT_EQ(Box("txtMessageFrom")->selectedText(), "Bob");
    EXPECT_TRUE(boxes.Boxes().empty());

    Next("bob");
    Next("bob");
    EXPECT_EQ(boxes.Texts(), (std::vector<std::string>{NotFound, NotFound}));
    EXPECT_EQ(boxes.Boxes()[0].icon, MsgIcon::Information);
    EXPECT_EQ(Shown(), "Message: 3/3");

    Find(" bob ");
    EXPECT_EQ(Shown(), "Message: 2/3");
    EXPECT_EQ(Box("txtMessageFrom")->selectedText(), "BOB");
}

TEST_F(Search, NextGoesOnWithTheLastSuccessfulFind)
{
    Store("Alice");
    Store("BOB smith");
    Store("Bobby");
    Store("Bobby and Alice");

    Next("bob"); // no Find has succeeded yet
    EXPECT_EQ(boxes.Texts(), (std::vector<std::string>{NotFound}));

    Find("bob");
    Find("carol"); // finds nothing and leaves the search for 'bob' in place
    EXPECT_EQ(Shown(), "Message: 2/4");

    // Next searches for 'bob' and selects the box's text only where the hit holds it.
    Next("alice");
    EXPECT_EQ(Shown(), "Message: 3/4");
    EXPECT_FALSE(Box("txtMessageFrom")->hasSelectedText());
    Next("alice");
    EXPECT_EQ(Shown(), "Message: 4/4");
    EXPECT_EQ(Box("txtMessageFrom")->selectedText(), "Alice");
    EXPECT_EQ(Box("txtMessageFrom")->selectionStart(), 10);
    EXPECT_EQ(boxes.Texts(), (std::vector<std::string>{NotFound, NotFound}));
}

TEST_F(Search, CategoriesKeepTheirOwnSearch)
{
    Store("bob", "team");
    Store("bob", "solo");
    Store("carl", "team");
    Find("bob", "From:");
    Find("team", "To:");
    EXPECT_EQ(Shown(), "Message: 1/3");
    EXPECT_EQ(Box("txtMessageTo")->selectedText(), "team");

    Next("x", "From:");
    EXPECT_EQ(Shown(), "Message: 2/3");
    Next("team", "To:");
    EXPECT_EQ(Shown(), "Message: 3/3");
    EXPECT_EQ(QApplication::focusWidget(), Box("txtMessageTo"));
    EXPECT_TRUE(boxes.Boxes().empty());
}

TEST_F(Search, BodySearchSelectsInTheBody)
{
    Store("a", "b", "Subject: greeting\r\n\r\nsay hello\r\n");
    Find("HELLO", "Body");
    auto* body = Control<MessageBodyView>(window, "txtMessageBody");
    EXPECT_EQ(Shown(), "Message: 1/1");
    EXPECT_EQ(body->SelectionStart(), 25u);
    EXPECT_EQ(body->SelectedText(), "hello");
    EXPECT_EQ(QApplication::focusWidget(), body);
}

TEST_F(Search, AnUnsupportedCategoryWarnsAndFindsNothing)
{
    Store("bob");
    QComboBox* categories = Control<QComboBox>(window, "cboMessagesSearchFor");
    EXPECT_EQ(categories->count(), 3);
    categories->setEditable(true);
    Find("bob", "Subject");
    ASSERT_EQ(boxes.Texts(), (std::vector<std::string>{"Unsupported search category.", NotFound}));
    EXPECT_EQ(boxes.Boxes()[0].icon, MsgIcon::Exclamation);
    EXPECT_EQ(boxes.Boxes()[1].icon, MsgIcon::Information);
    EXPECT_EQ(Shown(), "Message: (n/a)");

    // The category is read trimmed and in any letter case.
    boxes.Clear();
    Find("bob", "  from: ");
    EXPECT_EQ(Shown(), "Message: 1/1");
    EXPECT_TRUE(boxes.Boxes().empty());
}

TEST_F(Search, TextOutsideLatin1MatchesNothing)
{
    // Converting the euro sign to Latin-1 would make it a '?'.
    Store("price ? euro");
    Find("\u20ac");
    EXPECT_EQ(boxes.Texts(), (std::vector<std::string>{NotFound}));
    EXPECT_EQ(Shown(), "Message: (n/a)");
}

TEST_F(Search, FocusSelectsTheWholeSearchText)
{
    QLineEdit* box = SearchBox();
    box->setText(QStringLiteral("bob smith"));
    struct Case {
        const char* how;
        std::function<void()> focus;
    };
    const Case cases[] = {
        {"by the program", [&] { box->setFocus(Qt::OtherFocusReason); }},
        {"by the keyboard", [&] { box->setFocus(Qt::TabFocusReason); }},
        {"by a click", [&] { QTest::mouseClick(box, Qt::LeftButton, {}, QPoint(box->width() / 2, box->height() / 2)); }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.how);
        Box("txtMessageFrom")->setFocus();
        ASSERT_NE(QApplication::focusWidget(), box);
        box->deselect();
        c.focus();
        EXPECT_EQ(QApplication::focusWidget(), box);
        EXPECT_EQ(box->selectedText(), "bob smith");
    }
    // A click into a box that already has the focus places the caret as usual.
    QTest::mouseClick(box, Qt::LeftButton, {}, QPoint(box->width() / 2, box->height() / 2));
    EXPECT_FALSE(box->hasSelectedText());
}

TEST_F(Search, AFailureIsReportedByTheCommand)
{
    // The sender search's position cannot move beyond the last possible message.
    for (int i = 1; i < 32767; ++i)
        Store("x");
    Store("bob");
    Find("bob");
    EXPECT_EQ(Shown(), "Message: 32767/32767");
    Next("bob");
    ASSERT_EQ(boxes.Boxes().size(), 1u);
    EXPECT_EQ(boxes.Boxes()[0].text, "Fatal application error tracked:\r[6]: Overflow\rSource: cmdMessagesFindNext_Click");
    EXPECT_EQ(boxes.Boxes()[0].icon, MsgIcon::Critical);
    EXPECT_EQ(Shown(), "Message: 32767/32767");
}
