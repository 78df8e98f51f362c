#include <QApplication>
#include <QClipboard>
#include <QSignalSpy>
#include <QTest>

#include <gtest/gtest.h>

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

    void Key(Qt::Key key, Qt::KeyboardModifiers modifiers = {}) { QTest::keyClick(&view, key, modifiers); }
    QPoint LinePoint(int line, int x) const { return QPoint(x, line * view.Metrics().lineHeight + 2); }

    MessageBodyView view;
};

} // namespace

TEST_F(BodyView, NewTextStartsAtTheTopLeftAndSignalsOnlyAChange)
{
    QSignalSpy changed(&view, &MessageBodyView::TextChanged);
    view.SetText("one\r\ntwo\r\n");
    EXPECT_EQ(view.LineCount(), 3u);
    view.SetSelection(5, 3);
    view.SetText("one\r\ntwo\r\n");
    EXPECT_EQ(changed.count(), 1);
    EXPECT_EQ(view.SelectionLength(), 0u);
    view.Clear();
    EXPECT_EQ(changed.count(), 2);
    EXPECT_EQ(view.LineCount(), 1u);
}

TEST_F(BodyView, ASelectionIsScrolledIntoView)
{
    std::string text;
    for (int i = 0; i < 200; ++i)
        text += "line " + std::to_string(i) + "\r\n";
    text += std::string(5000, 'x') + "needle\r\n";
    view.SetText(text);
    const std::size_t at = text.find("needle");
    view.SetSelection(at, 6);
    EXPECT_EQ(view.SelectedText(), "needle");
    EXPECT_GT(view.TopLine(), 150u);
    EXPECT_LE(view.TopLine(), 200u);
    EXPECT_GT(view.ScrolledX(), 0);

    // Positions beyond the text are held to it.
    view.SetSelection(text.size() - 2, 100);
    EXPECT_EQ(view.SelectionLength(), 2u);
}

TEST_F(BodyView, KeyboardMovesOverLineBreaksAndSelects)
{
    view.SetText("ab\r\ncd\nef");
    Key(Qt::Key_End, Qt::ShiftModifier);
    EXPECT_EQ(view.SelectedText(), "ab");
    Key(Qt::Key_Right, Qt::ShiftModifier); // CR LF is one step
    EXPECT_EQ(view.SelectedText(), "ab\r\n");
    Key(Qt::Key_Down, Qt::ShiftModifier);
    EXPECT_EQ(view.SelectedText(), "ab\r\ncd\n");
    Key(Qt::Key_Left);
    Key(Qt::Key_Left, Qt::ShiftModifier);
    EXPECT_EQ(view.SelectedText(), "d");
    Key(Qt::Key_End, Qt::ControlModifier | Qt::ShiftModifier);
    EXPECT_EQ(view.SelectedText(), "\nef"); // from where the selection was begun
    Key(Qt::Key_C, Qt::ControlModifier);
    EXPECT_EQ(QApplication::clipboard()->text(), "\nef");
    Key(Qt::Key_Home, Qt::ControlModifier);
    EXPECT_EQ(view.SelectionLength(), 0u);
    EXPECT_EQ(view.SelectionStart(), 0u);
    Key(Qt::Key_A, Qt::ControlModifier);
    EXPECT_EQ(view.SelectedText(), "ab\r\ncd\nef");

    // Read-only: typing changes nothing.
    QTest::keyClicks(&view, "typed");
    Key(Qt::Key_Delete);
    Key(Qt::Key_Backspace);
    EXPECT_EQ(view.Text(), "ab\r\ncd\nef");
}

TEST_F(BodyView, MouseSelectsByDragAndByWord)
{
    view.SetText("first line\r\nsecond line\r\n");
    QTest::mousePress(view.viewport(), Qt::LeftButton, {}, LinePoint(0, 0));
    QTest::mouseMove(view.viewport(), LinePoint(1, 190));
    QTest::mouseRelease(view.viewport(), Qt::LeftButton, {}, LinePoint(1, 190));
    EXPECT_EQ(view.SelectedText(), "first line\r\nsecond line");

    QTest::mouseDClick(view.viewport(), Qt::LeftButton, {}, LinePoint(1, 3));
    EXPECT_EQ(view.SelectedText(), "second");
}

TEST_F(BodyView, PaintsTheSelectionHighlight)
{
    view.SetText("highlighted text\r\nand more\r\n");
    const auto highlightPixels = [&] {
        const QImage image = view.viewport()->grab().toImage();
        const QRgb highlight = view.palette().color(QPalette::Active, QPalette::Highlight).rgb();
        int count = 0;
        for (int y = 0; y < image.height(); ++y)
            for (int x = 0; x < image.width(); ++x)
                count += image.pixel(x, y) == highlight;
        return count;
    };
    EXPECT_EQ(highlightPixels(), 0);
    view.SelectAll();
    EXPECT_GT(highlightPixels(), 200);
}
