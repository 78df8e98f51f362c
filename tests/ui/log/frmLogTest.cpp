#include <climits>

#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <QWindow>

#include "TestKit.h"
#include "LogBuffer.h"
#include "LogListBox.h"
#include "RecordingMessageBoxes.h"
#include "frmLog.h"
#include "mdlListBoxMod.h"

using namespace mdlListBoxMod;

namespace {

// The log window, not yet shown, with its list registered as the log; no error box may appear.
class LogWindow : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(LBM_Init(LogSlot, &list)); }
    void TearDown() override { EXPECT_EQ(boxes.texts(), Texts{}); }

    RecordingMessageBoxes boxes;
    LogBuffer lines;
    frmLog window{lines};
    LogListBox& list = *window.lstLog();
};

} // namespace

TEST_F(LogWindow, CloseBoxOnlyHidesAndClearEmpties)
{
    QSignalSpy unloaded(&window, &frmLog::unloaded);
    window.show();
    LBM_AddItem(LogSlot, "SMTP server started.");
    ASSERT_NE(window.windowHandle(), nullptr);
    EXPECT_TRUE(window.windowHandle()->close()); // as the window system's close command
    EXPECT_FALSE(window.isVisible());
    EXPECT_EQ(unloaded.count(), 1);

    // Lines written meanwhile are there when it comes back.
    LBM_AddItem(LogSlot, "SMTP server stopped.");
    window.show();
    EXPECT_EQ(list.lineCount(), 2);
    QTest::mouseClick(window.findChild<QPushButton*>("cmdClearLog"), Qt::LeftButton);
    EXPECT_EQ(list.lineCount(), 0);
}

TEST(mdlListBoxMod, SlotsOutsideTheTable)
{
    RecordingMessageBoxes boxes;
    LogBuffer lines;
    LogListBox list(lines);
    ASSERT_TRUE(LBM_Init(LogSlot, &list));
    LBM_AddItem(LogSlot, "kept");

    // Above the table: ignored.
    for (long slot : {6L, LONG_MAX}) {
        LogListBox other(lines);
        EXPECT_FALSE(LBM_Init(slot, &other)) << slot;
        LBM_AddItem(slot, "lost");
        LBM_Clear(slot);
    }
    EXPECT_FALSE(LBM_Init(1, nullptr));
    // A list that is gone no longer receives lines.
    {
        LogBuffer doomedLines;
        LogListBox doomed(doomedLines);
        ASSERT_TRUE(LBM_Init(5, &doomed));
    }
    LBM_AddItem(5, "nowhere");
    LBM_Clear(5);
    EXPECT_TRUE(boxes.boxes().empty());

    // Below it: a subscript out of range, reported naming the procedure (the box is the error report's).
    const std::string report = "Fatal application error tracked:\r[9]: Subscript out of range\rSource: ";
    for (long slot : {-1L, LONG_MIN}) {
        SCOPED_TRACE(slot);
        boxes.Clear();
        EXPECT_FALSE(LBM_Init(slot, &list));
        LBM_AddItem(slot, "lost");
        LBM_Clear(slot);
        EXPECT_EQ(boxes.texts(), (Texts{report + "LBM_Init", report + "LBM_AddItem", report + "LBM_Clear"}));
    }
    ASSERT_EQ(list.lineCount(), 1);
    EXPECT_EQ(list.line(0), "kept");
}
