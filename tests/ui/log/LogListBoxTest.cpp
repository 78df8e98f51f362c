#include <string>
#include <vector>

#include <QSignalSpy>
#include <QTest>

#include <gtest/gtest.h>

#include "AppError.h"
#include "LogListBox.h"

TEST(LogListBox, KeepsEveryLineByteForByteAcrossStorageBlocks)
{
    LogListBox list;
    std::vector<std::string> lines = {"", "a", std::string("nul\0inside", 10), "Latin-1 \xC4\xD6\xDC\xDF\xFF"};
    // Sizes around the storage block, and enough small lines to cross several blocks.
    for (std::size_t size : {65535u, 65536u, 65537u, 200000u, 10u})
        lines.push_back(std::string(size, char('A' + size % 26)));
    for (int i = 0; i < 20000; ++i)
        lines.push_back("SMTPServer::DataArrival, index " + std::to_string(i));
    lines.push_back(std::string(70000, 'z'));
    lines.push_back("after the big one");

    for (const std::string& line : lines)
        list.AddLine(line);
    ASSERT_EQ(list.LineCount(), qsizetype(lines.size()));
    for (std::size_t i = 0; i < lines.size(); ++i)
        ASSERT_EQ(list.Line(qsizetype(i)), lines[i]) << "line " << i;

    for (qsizetype bad : {qsizetype(-1), list.LineCount()}) {
        try {
            list.Line(bad);
            ADD_FAILURE() << "no failure for index " << bad;
        } catch (const AppError& e) {
            EXPECT_EQ(e.Number(), ErrorNumber::SubscriptOutOfRange);
        }
    }

    list.SetSelectedIndex(3);
    list.Clear();
    EXPECT_EQ(list.LineCount(), 0);
    EXPECT_EQ(list.SelectedIndex(), -1);
    list.AddLine("fresh");
    EXPECT_EQ(list.Line(0), "fresh");
}

TEST(LogListBox, KeysMoveTheSelectionKeepItInViewAndRaiseClick)
{
    LogListBox list;
    list.resize(300, 120);
    for (int i = 0; i < 100; ++i)
        list.AddLine("line " + std::to_string(i));
    list.show();
    QSignalSpy clicks(&list, &LogListBox::Click);
    const qsizetype rows = list.VisibleLineCount();
    ASSERT_GT(rows, 2);

    struct Step { Qt::Key key; qsizetype selected; bool click; };
    const Step steps[] = {
        {Qt::Key_Down, 0, true}, // with nothing selected, the top line
        {Qt::Key_Down, 1, true},
        {Qt::Key_PageDown, 1 + rows - 1, true},
        {Qt::Key_End, 99, true},
        {Qt::Key_Down, 99, false},
        {Qt::Key_PageUp, 99 - (rows - 1), true},
        {Qt::Key_Home, 0, true},
        {Qt::Key_Up, 0, false},
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
