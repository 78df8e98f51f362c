#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "ErrorReport.h"
#include "MainWindowDriver.h"
#include "MessageBoxes.h"

namespace {

// A modal box runs a nested event loop: reports arriving while it is open open their own boxes
// inside it. This service plays such a burst out while its first box is open.
class NestingBoxes : public MessageBoxService {
public:
    explicit NestingBoxes(int burst) : m_remaining(burst) { SetMessageBoxService(this); }
    ~NestingBoxes() override { SetMessageBoxService(nullptr); }

    MsgResult Show(const std::string& text, MsgButtons, MsgIcon) override
    {
        shown.push_back(text);
        deepest = std::max(deepest, OpenMessageBoxes());
        while (m_remaining > 0) {
            --m_remaining;
            ReportFatal("sckSMTPServer_DataArrival", 3, AppError(ErrorNumber::Overflow, "Overflow"));
        }
        return MsgResult::Ok;
    }

    std::vector<std::string> shown;
    int deepest = 0;

private:
    int m_remaining;
};

} // namespace

TEST(MessageBoxBurst, BoxesBeyondThreeGoToTheLog)
{
    NestingBoxes boxes(250);
    frmMain window;
    ASSERT_TRUE(window.Loaded());
    MsgBox("Sending a test email did not succeed.\rView log window for details.", MsgButtons::Ok, MsgIcon::Exclamation);

    EXPECT_EQ(boxes.shown.size(), 3u);
    EXPECT_EQ(boxes.deepest, MaxOpenMessageBoxes);
    const std::vector<std::string> lines = LogLines(window);
    ASSERT_EQ(lines.size(), 248u);
    for (const std::string& line : lines)
        EXPECT_EQ(line, "Fatal application error tracked: [6]: Overflow Source: sckSMTPServer_DataArrival Index: 3");
    EXPECT_EQ(OpenMessageBoxes(), 0);
}
