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
        list.AddLine(line);
    list.SetSelectedIndex(2);

    // The notice of dropped lines takes the top row; the selected line moves up until it goes.
    struct Step {
        const char* added;
        qsizetype selected;
    };
    const Step steps[] = {{"d", 2}, {"e", 1}, {"f", -1}};
    for (const Step& step : steps) {
        SCOPED_TRACE(step.added);
        list.AddLine(step.added);
        EXPECT_EQ(list.SelectedIndex(), step.selected);
        if (step.selected >= 0) {
            EXPECT_EQ(list.Line(step.selected), "c");
        }
    }
    list.SetSelectedIndex(0);
    list.AddLine("g");
    EXPECT_EQ(list.Line(list.SelectedIndex()), "Log full, oldest lines dropped: 4");

    list.Clear();
    EXPECT_EQ(list.LineCount(), 0);
    EXPECT_EQ(list.SelectedIndex(), -1);
    EXPECT_THROW(list.Line(-1), AppError);
}

TEST(LogListBox, KeysMoveTheSelectionKeepItInViewAndRaiseClick)
{
    LogBuffer lines;
    LogListBox list(lines);
    list.resize(300, 120);
    for (int i = 0; i < 100; ++i)
        list.AddLine("line " + std::to_string(i));
    list.show();
    QSignalSpy clicks(&list, &LogListBox::Click);
    const qsizetype rows = list.VisibleLineCount();
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
        EXPECT_EQ(list.SelectedIndex(), step.selected);
        EXPECT_GE(step.selected, list.TopIndex());
        EXPECT_LT(step.selected, list.TopIndex() + rows);
        EXPECT_EQ(clicks.count() - before, step.click ? 1 : 0);
    }
}
