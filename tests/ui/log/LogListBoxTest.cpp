#include <QSignalSpy>
#include <QTest>

#include "TestKit.h"
#include "AppError.h"
#include "LogBuffer.h"
#include "LogListBox.h"

TEST(LogListBox, SelectionStaysOnItsLineWhileOldLinesGo)
{
    LogBuffer lines(3);
    LogListBox list(lines);
    for (const char* line : {"a", "b", "c"})
        list.addLine(line);
    list.setSelectedIndex(2);

    // The notice of dropped lines takes the top row; the selected line moves up until it goes.
    struct Step {
        const char* added;
        qsizetype selected;
    };
    const Step steps[] = {{"d", 2}, {"e", 1}, {"f", -1}};
    for (const Step& step : steps) {
        SCOPED_TRACE(step.added);
        list.addLine(step.added);
        EXPECT_EQ(list.selectedIndex(), step.selected);
        if (step.selected >= 0) {
            EXPECT_EQ(list.line(step.selected), "c");
        }
    }
    list.setSelectedIndex(0);
    list.addLine("g");
    EXPECT_EQ(list.line(list.selectedIndex()), "Log full, oldest lines dropped: 4");

    list.Clear();
    EXPECT_EQ(list.lineCount(), 0);
    EXPECT_EQ(list.selectedIndex(), -1);
    EXPECT_THROW(list.line(-1), AppError);
}

TEST(LogListBox, KeysMoveTheSelectionKeepItInViewAndRaiseClick)
{
    LogBuffer lines;
    LogListBox list(lines);
    list.resize(300, 120);
    for (int i = 0; i < 100; ++i)
        list.addLine("line " + std::to_string(i));
    list.show();
    QSignalSpy clicks(&list, &LogListBox::click);
    const qsizetype rows = list.visibleLineCount();
    ASSERT_GT(rows, 2);

    struct Step {
        Qt::Key key;
        qsizetype selected;
        bool click;
    };
    const Step steps[] = {
        {Qt::Key_Down, 0, true}, // with nothing selected, the top line
        {Qt::Key_PageDown, rows - 1, true},
        {Qt::Key_End, 99, true},
        {Qt::Key_Down, 99, false},
        {Qt::Key_Home, 0, true},
    };
    for (const Step& step : steps) {
        SCOPED_TRACE(step.key);
        const auto before = clicks.count();
        QTest::keyClick(&list, step.key);
        EXPECT_EQ(list.selectedIndex(), step.selected);
        EXPECT_GE(step.selected, list.topIndex());
        EXPECT_LT(step.selected, list.topIndex() + rows);
        EXPECT_EQ(clicks.count() - before, step.click ? 1 : 0);
    }
}
