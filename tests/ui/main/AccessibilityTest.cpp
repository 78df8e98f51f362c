#include <set>

#include <QAccessible>
#include <QApplication>
#include <QComboBox>
#include <QGroupBox>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QTest>

#include <gtest/gtest.h>

#include "MainWindowDriver.h"
#include "RecordingMessageBoxes.h"
#include "clsEmailStorage.h"
#include "frmLog.h"

namespace {

QString AccessibleName(QObject* object)
{
    QAccessibleInterface* accessible = QAccessible::queryAccessibleInterface(object);
    return accessible ? accessible->text(QAccessible::Name) : QString();
}

QString AccessibleDescription(QObject* object)
{
    QAccessibleInterface* accessible = QAccessible::queryAccessibleInterface(object);
    return accessible ? accessible->text(QAccessible::Description) : QString();
}

class Accessibility : public ::testing::Test {
protected:
    Accessibility()
    {
        window.SetListenAddress(QHostAddress::LocalHost, 0);
        window.show();
        window.activateWindow();
        EXPECT_TRUE(QTest::qWaitForWindowActive(&window));
    }

    RecordingMessageBoxes boxes;
    frmMain window;
};

} // namespace

TEST_F(Accessibility, ControlsAreNamedForScreenReaders)
{
    struct Case {
        const char* control;
        const char* name;
        const char* description;
    };
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
        EXPECT_EQ(qobject_cast<QComboBox*>(widget) ? widget->accessibleName() : AccessibleName(widget), c.name);
        EXPECT_EQ(AccessibleDescription(widget), c.description);
    }
    // A label's name follows what it shows.
    Click(window, "mnuStartStop");
    EXPECT_EQ(AccessibleName(Control<QWidget>(window, "lblApplicationState")), "Listening for messages.");
}

TEST_F(Accessibility, ShortcutsAndAccessKeysWork)
{
    QTest::keyClick(&window, Qt::Key_F5);
    EXPECT_TRUE(window.Listening());
    QTest::keyClick(&window, Qt::Key_F5);
    EXPECT_FALSE(window.Listening());
    QTest::keyClick(&window, Qt::Key_F11);
    EXPECT_TRUE(Control<QAction>(window, "mnuPop3Auth")->isChecked());
    QTest::keyClick(&window, Qt::Key_F12);
    EXPECT_TRUE(Control<QAction>(window, "mnuSMTPAuth")->isChecked());
    QTest::keyClick(&window, Qt::Key_L, Qt::ControlModifier);
    EXPECT_TRUE(window.LogWindow().isVisible());

    std::set<QKeySequence> accessKeys;
    for (QAction* menu : window.menuBar()->actions())
        accessKeys.insert(QKeySequence::mnemonic(menu->text()));
    EXPECT_EQ(accessKeys, (std::set<QKeySequence>{QKeySequence(Qt::ALT | Qt::Key_C), QKeySequence(Qt::ALT | Qt::Key_S),
                                                   QKeySequence(Qt::ALT | Qt::Key_V)}));
    EXPECT_EQ(QKeySequence::mnemonic(Control<QAction>(window, "mnuQuit")->text()), QKeySequence(Qt::ALT | Qt::Key_Q));
}

TEST_F(Accessibility, EveryButtonIsReachableByTab)
{
    for (int i = 0; i < 3; ++i)
        window.EmailStorage().StoreEmail("<a@example.com>", "<b@example.com>", "body\r\n");
    Control<QPushButton>(window, "cmdMessagesFind")->setFocus();
    Control<QLineEdit>(window, "txtMessagesSearchFor")->setText("a");
    QTest::mouseClick(Control<QPushButton>(window, "cmdMessagesFind"), Qt::LeftButton);
    boxes.Clear();
    ASSERT_EQ(Caption(window, "lblMessage"), "Message: 1/3");

    std::set<QString> reached;
    for (int i = 0; i < 30; ++i) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        if (QWidget* focus = QApplication::focusWidget())
            reached.insert(focus->objectName());
    }
    for (const char* button : {"cmdMessageDelete", "cmdMessageNext", "cmdMessagesFind", "cmdMessagesFindNext"})
        EXPECT_TRUE(reached.contains(QString::fromLatin1(button))) << button;
    for (const char* box : {"txtMessageFrom", "txtMessageTo", "txtMessageBody", "txtMessagesSearchFor", "cboMessagesSearchFor"})
        EXPECT_TRUE(reached.contains(QString::fromLatin1(box))) << box;
}
