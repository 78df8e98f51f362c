#include <string>

#include <QCheckBox>
#include <QGroupBox>
#include <QPushButton>
#include <QScrollBar>
#include <QSignalSpy>
#include <QTest>
#include <QWindow>

#include <gtest/gtest.h>

#include "LogListBox.h"
#include "RecordingMessageBoxes.h"
#include "Twips.h"
#include "frmLog.h"
#include "mdlListBoxMod.h"

using namespace mdlListBoxMod;

TEST(frmLog, NamesCaptionsToolTipsAndLayout)
{
    frmLog window;
    EXPECT_EQ(window.objectName(), "frmLog");
    EXPECT_EQ(window.windowTitle(), "Quellpost (log)");
    EXPECT_TRUE(window.isWindow());
    EXPECT_EQ(window.size(), QSize(6255 / 15, 2895 / 15));
    EXPECT_EQ(window.minimumSize(), window.maximumSize());
    EXPECT_EQ(window.font().family(), "Arial");
    EXPECT_DOUBLE_EQ(window.font().pointSizeF(), 8.25);

    struct Case {
        const char* name;
        const char* parent;
        QString caption;
        QString toolTip;
        QRect twips;
    };
    const Case cases[] = {
        {"frameApplicationLog", "frmLog", "Application log:", "", TwipsRect(120, 120, 6015, 2655)},
        {"picApplicationLog", "frameApplicationLog", "", "", TwipsRect(120, 240, 5775, 2295)},
        {"lstLog", "picApplicationLog", "", "Log of operations done by Quellpost.", TwipsRect(0, 30, 5775, 1740)},
        {"cmdClearLog", "picApplicationLog", "Clear", "Clear log messages collected so far.", TwipsRect(5040, 1920, 735, 375)},
        {"chkLogFull", "picApplicationLog", "Enable detailed (full) logging",
         "Enable extended logging (full log, for debugging purposes).", TwipsRect(0, 1950, 4935, 255)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        auto* widget = window.findChild<QWidget*>(c.name);
        ASSERT_NE(widget, nullptr);
        EXPECT_EQ(widget->parentWidget()->objectName(), c.parent);
        EXPECT_EQ(widget->accessibleName(), c.caption);
        EXPECT_EQ(widget->accessibleDescription(), c.toolTip);
        EXPECT_EQ(widget->toolTip(), c.toolTip);
        EXPECT_EQ(widget->geometry(), c.twips);
    }
    EXPECT_EQ(window.findChild<QGroupBox*>("frameApplicationLog")->title(), "Application log:");
    EXPECT_EQ(window.findChild<QPushButton*>("cmdClearLog")->text(), "Clear");
    EXPECT_EQ(window.chkLogFull()->text(), "Enable detailed (full) logging");
    EXPECT_EQ(window.lstLog()->objectName(), "lstLog");
    EXPECT_EQ(window.chkLogFull()->objectName(), "chkLogFull");
    // Tab order follows the panel: list, button, check box.
    auto nextFocusable = [&](QWidget* from) {
        QWidget* next = from->nextInFocusChain();
        while (next != from && (next->focusPolicy() & Qt::TabFocus) == 0)
            next = next->nextInFocusChain();
        return next;
    };
    QWidget* afterList = nextFocusable(window.lstLog());
    EXPECT_EQ(afterList, window.findChild<QPushButton*>("cmdClearLog"));
    EXPECT_EQ(nextFocusable(afterList), window.chkLogFull());
}

TEST(frmLog, DetailedLoggingIsReadFromTheCheckBoxEachTime)
{
    frmLog window;
    EXPECT_EQ(window.chkLogFull()->checkState(), Qt::Unchecked);
    EXPECT_FALSE(window.DetailedLogging());
    window.chkLogFull()->click();
    EXPECT_TRUE(window.DetailedLogging());
    window.chkLogFull()->setCheckState(Qt::PartiallyChecked);
    EXPECT_TRUE(window.DetailedLogging());
    window.chkLogFull()->setCheckState(Qt::Unchecked);
    EXPECT_FALSE(window.DetailedLogging());
}

TEST(frmLog, ClearButtonEmptiesTheLogAndItsSidewaysScrolling)
{
    RecordingMessageBoxes boxes;
    frmLog window;
    LogListBox& list = *window.lstLog();
    ASSERT_TRUE(LBM_Init(LogSlot, &list));
    window.show();
    LBM_AddItem(LogSlot, std::string(300, 'W'));
    LBM_AddItem(LogSlot, "SMTP server started.");
    ASSERT_GT(list.horizontalScrollBar()->maximum(), 0);

    QTest::mouseClick(window.findChild<QPushButton*>("cmdClearLog"), Qt::LeftButton);
    EXPECT_EQ(list.LineCount(), 0);
    EXPECT_EQ(list.HorizontalExtent(), 0);
    EXPECT_EQ(list.horizontalScrollBar()->maximum(), 0);
    EXPECT_TRUE(boxes.Boxes().empty());
}

TEST(frmLog, CloseBoxOnlyHidesAndSaysSo)
{
    frmLog window;
    ASSERT_TRUE(LBM_Init(LogSlot, window.lstLog()));
    QSignalSpy unloaded(&window, &frmLog::Unloaded);
    window.show();
    LBM_AddItem(LogSlot, "SMTP server started.");

    ASSERT_NE(window.windowHandle(), nullptr);
    EXPECT_TRUE(window.windowHandle()->close()); // as the window system's close command
    EXPECT_FALSE(window.isVisible());
    EXPECT_EQ(unloaded.count(), 1);
    EXPECT_EQ(window.lstLog()->LineCount(), 1);

    // Lines written meanwhile are there when it comes back.
    LBM_AddItem(LogSlot, "SMTP server stopped.");
    window.show();
    EXPECT_EQ(window.lstLog()->LineCount(), 2);
}

TEST(frmLog, PickingALineShowsItInFullAsTheToolTip)
{
    RecordingMessageBoxes boxes;
    frmLog window;
    LogListBox& list = *window.lstLog();
    ASSERT_TRUE(LBM_Init(LogSlot, &list));
    const std::string wide = "Error: Unknown command: \xC4rger " + std::string(200, 'x') + " Ende";
    LBM_AddItem(LogSlot, "SMTPServer::Connect, index 1");
    LBM_AddItem(LogSlot, wide);
    LBM_AddItem(LogSlot, "SMTPServer::Close, index 1");
    window.show();
    EXPECT_EQ(list.toolTip(), "Log of operations done by Quellpost.");

    QTest::mouseClick(list.viewport(), Qt::LeftButton, {}, list.LineRect(1).center());
    EXPECT_EQ(list.SelectedIndex(), 1);
    EXPECT_EQ(list.toolTip(), QString::fromLatin1(wide.data(), qsizetype(wide.size())));

    QTest::keyClick(&list, Qt::Key_Down);
    EXPECT_EQ(list.toolTip(), "SMTPServer::Close, index 1");
    EXPECT_TRUE(boxes.Boxes().empty());
}
