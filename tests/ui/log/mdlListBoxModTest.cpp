#include <climits>
#include <cmath>
#include <functional>
#include <memory>
#include <string>

#include <QFontMetricsF>
#include <QScrollBar>
#include <QStyle>
#include <QTest>

#include <gtest/gtest.h>

#include "LogListBox.h"
#include "RecordingMessageBoxes.h"
#include "frmLog.h"
#include "mdlListBoxMod.h"

using namespace mdlListBoxMod;

namespace {

// The extent a line should earn: its width in the window's font in whole twips, back to pixels,
// plus the vertical scroll bar and two pixels.
int extentFor(const LogListBox& list, const std::string& line)
{
    const double twipsPerPixel = 1440.0 / list.logicalDpiX();
    const QWidget* window = list.window();
    const double pixels = QFontMetricsF(window->font(), window).horizontalAdvance(QString::fromLatin1(line));
    const double twips = std::nearbyint(pixels * twipsPerPixel);
    const int scrollBar = list.style()->pixelMetric(QStyle::PM_ScrollBarExtent, nullptr, &list);
    return int(std::nearbyint(twips / twipsPerPixel + scrollBar + 2));
}

bool lastLineInView(const LogListBox& list)
{
    const qsizetype last = list.LineCount() - 1;
    return last >= list.TopIndex() && last < list.TopIndex() + list.VisibleLineCount();
}

} // namespace

TEST(mdlListBoxMod, ExtentFollowsTheWidestLineSinceTheLastClearing)
{
    RecordingMessageBoxes boxes;
    frmLog window;
    LogListBox& list = *window.lstLog();
    // The list's own font must not matter: lines are measured in the window's.
    QFont bigger = window.font();
    bigger.setPointSize(30);
    list.setFont(bigger);
    window.show();
    ASSERT_TRUE(LBM_Init(LogSlot, &list));
    EXPECT_EQ(list.HorizontalExtent(), 0);

    std::string line = "SMTPServer::Connect, index 1";
    std::string widest;
    int previous = 0;
    for (int i = 0; i < 4; ++i) {
        SCOPED_TRACE(line);
        LBM_AddItem(LogSlot, line);
        widest = line;
        EXPECT_EQ(list.HorizontalExtent(), extentFor(list, line));
        EXPECT_GT(list.HorizontalExtent(), previous);
        previous = list.HorizontalExtent();
        line += std::string(40, 'M');
    }
    LBM_AddItem(LogSlot, "short");
    EXPECT_EQ(list.HorizontalExtent(), previous);

    // The sideways range is what the extent allows beyond the view, not the list's own measure.
    EXPECT_TRUE(QTest::qWaitFor([&] { return list.horizontalScrollBar()->isVisible(); }, 5000));
    EXPECT_EQ(list.horizontalScrollBar()->maximum(), previous - list.viewport()->width());

    LBM_Clear(LogSlot);
    EXPECT_EQ(list.LineCount(), 0);
    EXPECT_EQ(list.HorizontalExtent(), 0);
    EXPECT_EQ(list.horizontalScrollBar()->maximum(), 0);

    LBM_AddItem(LogSlot, "short");
    EXPECT_EQ(list.HorizontalExtent(), extentFor(list, "short"));
    LBM_AddItem(LogSlot, widest);
    EXPECT_EQ(list.HorizontalExtent(), extentFor(list, widest));
    EXPECT_TRUE(boxes.Boxes().empty());
}

TEST(mdlListBoxMod, NewestLineIsInViewAfterEveryAppend)
{
    RecordingMessageBoxes boxes;
    frmLog window;
    LogListBox& list = *window.lstLog();
    ASSERT_TRUE(LBM_Init(LogSlot, &list));

    // Written while the window is still hidden, as at start-up.
    for (int i = 0; i < 50; ++i)
        LBM_AddItem(LogSlot, "early line " + std::to_string(i));
    window.show();
    EXPECT_TRUE(QTest::qWaitFor([&] { return list.verticalScrollBar()->isVisible(); }, 5000));
    EXPECT_TRUE(lastLineInView(list));

    // The reader scrolled up; the next line still brings the end into view.
    list.verticalScrollBar()->setValue(0);
    ASSERT_FALSE(lastLineInView(list));
    LBM_AddItem(LogSlot, "one more");
    EXPECT_TRUE(lastLineInView(list));
    EXPECT_EQ(list.Line(list.LineCount() - 1), "one more");

    // A wide line brings the horizontal bar, which takes height from the view.
    LBM_AddItem(LogSlot, std::string(300, 'W'));
    EXPECT_TRUE(QTest::qWaitFor([&] { return list.horizontalScrollBar()->isVisible(); }, 5000));
    EXPECT_TRUE(lastLineInView(list));
    EXPECT_TRUE(boxes.Boxes().empty());
}

TEST(mdlListBoxMod, SlotsAboveTheTableAreIgnoredAndMissingListsDropLines)
{
    RecordingMessageBoxes boxes;
    LogListBox list;
    ASSERT_TRUE(LBM_Init(LogSlot, &list));
    LBM_AddItem(LogSlot, "kept");
    const int extent = list.HorizontalExtent();

    for (long slot : {long(SlotCount), 7L, LONG_MAX}) {
        SCOPED_TRACE(slot);
        LogListBox other;
        EXPECT_FALSE(LBM_Init(slot, &other));
        LBM_AddItem(slot, "lost");
        LBM_Clear(slot);
    }
    EXPECT_FALSE(LBM_Init(1, nullptr));
    EXPECT_EQ(list.LineCount(), 1);
    EXPECT_EQ(list.HorizontalExtent(), extent);

    // A list that is gone no longer receives lines; nothing else is disturbed.
    auto doomed = std::make_unique<LogListBox>();
    ASSERT_TRUE(LBM_Init(5, doomed.get()));
    doomed.reset();
    LBM_AddItem(5, "nowhere");
    LBM_Clear(5);
    EXPECT_EQ(list.LineCount(), 1);
    EXPECT_TRUE(boxes.Boxes().empty());
}

TEST(mdlListBoxMod, NegativeSlotIsReportedNamingTheProcedure)
{
    LogListBox list;
    ASSERT_TRUE(LBM_Init(LogSlot, &list));
    LBM_AddItem(LogSlot, "kept");

    struct Case {
        const char* source;
        std::function<void(long)> call;
    };
    const Case cases[] = {
        {"LBM_Init", [&](long slot) { EXPECT_FALSE(LBM_Init(slot, &list)); }},
        {"LBM_AddItem", [](long slot) { LBM_AddItem(slot, "lost"); }},
        {"LBM_Clear", [](long slot) { LBM_Clear(slot); }},
    };
    for (const Case& c : cases) {
        for (long slot : {-1L, LONG_MIN}) {
            SCOPED_TRACE(std::string(c.source) + " " + std::to_string(slot));
            RecordingMessageBoxes boxes;
            c.call(slot);
            ASSERT_EQ(boxes.Boxes().size(), 1u);
            EXPECT_EQ(boxes.Boxes()[0].icon, MsgIcon::Critical);
            EXPECT_EQ(boxes.Boxes()[0].buttons, MsgButtons::Ok);
            EXPECT_EQ(boxes.Boxes()[0].text,
                      std::string("Fatal application error tracked:\r[9]: Subscript out of range\rSource: ") + c.source);
        }
    }
    ASSERT_EQ(list.LineCount(), 1);
    EXPECT_EQ(list.Line(0), "kept");
}
