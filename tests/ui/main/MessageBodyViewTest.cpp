#include <QApplication>
#include <QClipboard>
#include <QTest>

#include "TestKit.h"
#include "BodyTextMetrics.h"
#include "MessageBodyView.h"

namespace {

class BodyView : public ::testing::Test {
protected:
    void SetUp() override
    {
        view.resize(200, 100);
        view.show();
        ASSERT_TRUE(QTest::qWaitForWindowActive(&view));
        view.setFocus();
    }

    void key(Qt::Key key, Qt::KeyboardModifiers modifiers = {}) { QTest::keyClick(&view, key, modifiers); }
    QPoint linePoint(int line, int x) const { return QPoint(x, line * view.metrics().lineHeight + 2); }

    MessageBodyView view;
};

} // namespace

TEST_F(BodyView, KeyboardMovesOverLineBreaksSelectsAndCopies)
{
    view.setText("old text");
    view.setSelection(1, 3);
    view.setText("ab\r\ncd\nef"); // new text starts without a selection
    EXPECT_EQ(view.selectionLength(), 0u);
    struct Step {
        Qt::Key key;
        Qt::KeyboardModifiers modifiers;
        const char* selected;
    };
    const Step steps[] = {
        {Qt::Key_End, Qt::ShiftModifier, "ab"},
        {Qt::Key_Right, Qt::ShiftModifier, "ab\r\n"}, // CR LF is one step
        {Qt::Key_Down, Qt::ShiftModifier, "ab\r\ncd\n"},
        {Qt::Key_Left, {}, ""},
        {Qt::Key_Left, Qt::ShiftModifier, "d"},
        {Qt::Key_End, Qt::ControlModifier | Qt::ShiftModifier, "\nef"}, // from where the selection was begun
        {Qt::Key_C, Qt::ControlModifier, "\nef"},
        {Qt::Key_Home, Qt::ControlModifier, ""},
        {Qt::Key_A, Qt::ControlModifier, "ab\r\ncd\nef"},
    };
    for (const Step& step : steps) {
        key(step.key, step.modifiers);
        EXPECT_EQ(view.selectedText(), step.selected)
            << QKeySequence(step.key | step.modifiers).toString().toStdString();
    }
    EXPECT_EQ(QApplication::clipboard()->text(), "\nef");

    // Read-only: typing changes nothing.
    QTest::keyClicks(&view, "typed");
    key(Qt::Key_Backspace);
    EXPECT_EQ(view.text(), "ab\r\ncd\nef");
}

TEST_F(BodyView, ASelectionIsScrolledIntoViewAndHeldToTheText)
{
    std::string text;
    for (int i = 0; i < 200; ++i)
        text += "line " + std::to_string(i) + "\r\n";
    text += std::string(5000, 'x') + "needle\r\n";
    view.setText(text);
    view.setSelection(text.find("needle"), 6);
    EXPECT_EQ(view.selectedText(), "needle");
    EXPECT_GT(view.topLine(), 150u);
    view.setSelection(text.size() - 2, 100);
    EXPECT_EQ(view.selectionLength(), 2u);
}

TEST_F(BodyView, MouseSelectsByDragAndByWordAndTheSelectionIsPainted)
{
    view.setText("first line\r\nsecond line\r\n");
    const QImage unselected = view.viewport()->grab().toImage();
    QTest::mousePress(view.viewport(), Qt::LeftButton, {}, linePoint(0, 0));
    QTest::mouseMove(view.viewport(), linePoint(1, 190));
    QTest::mouseRelease(view.viewport(), Qt::LeftButton, {}, linePoint(1, 190));
    EXPECT_EQ(view.selectedText(), "first line\r\nsecond line");
    EXPECT_NE(view.viewport()->grab().toImage(), unselected);

    QTest::mouseDClick(view.viewport(), Qt::LeftButton, {}, linePoint(1, 3));
    EXPECT_EQ(view.selectedText(), "second");
}

TEST(BodyTextMetrics, LinesAndTheirWidths)
{
    // Every character one pixel wide; tab stops every eight pixels.
    Latin1Metrics metrics;
    metrics.advance.fill(64);
    metrics.tabStop = 8 * 64;
    struct Case {
        const char* text;
        std::int64_t widestPixels;
        std::int64_t lines;
        std::vector<std::size_t> breaks;
    };
    const Case cases[] = {
        {"", 0, 1, {}},         {"abc", 3, 1, {}},          {"ab\r\nabcd", 4, 2, {4}},
        {"a\r\n", 1, 2, {3}},   {"\r\n\r\n", 0, 3, {2, 4}}, {"a\nbb\rccc", 3, 3, {2, 5}},
        {"\n\r", 0, 3, {1, 2}}, {"a\tb", 9, 1, {}},         {"abcdefgh\tx", 17, 1, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        std::vector<std::size_t> breaks;
        const TextExtent extent = scanText(c.text, metrics, [&](std::size_t next) { breaks.push_back(next); });
        EXPECT_EQ(extent.widest, c.widestPixels * 64);
        EXPECT_EQ(extent.lines, c.lines);
        EXPECT_EQ(breaks, c.breaks);
    }
}
