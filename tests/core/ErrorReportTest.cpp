#include <new>
#include <stdexcept>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "ErrorReport.h"
#include "RecordingMessageBoxes.h"

TEST(ErrorReport, TrappedShowsOneCriticalBoxInTheReportLayoutAndStops)
{
    RecordingMessageBoxes boxes;
    bool after = false;
    EXPECT_FALSE(Trapped("cmdMessageNext_Click", [&] {
        throw AppError(ErrorNumber::Overflow, "Overflow");
        after = true;
    }));
    EXPECT_FALSE(after);
    ASSERT_EQ(boxes.Boxes().size(), 1u);
    EXPECT_TRUE(Trapped("sckSMTPServer_Close", 7, [] {}));
    EXPECT_FALSE(Trapped("sckSMTPServer_Close", 7, [] { throw std::vector<int>().at(1); }));

    EXPECT_EQ(boxes.Texts(), (std::vector<std::string>{
                                 "Fatal application error tracked:\r[6]: Overflow\rSource: cmdMessageNext_Click",
                                 "Fatal application error tracked:\r[9]: Subscript out of range\r"
                                 "Source: sckSMTPServer_Close\rIndex: 7"}));
    for (const auto& box : boxes.Boxes()) {
        EXPECT_EQ(box.icon, MsgIcon::Critical);
        EXPECT_EQ(box.buttons, MsgButtons::Ok);
    }
}

TEST(ErrorReport, StandardFailuresGetStableNumbers)
{
    auto numberOf = [](auto thrower) {
        try {
            thrower();
        } catch (...) {
            return AppError::FromCurrentException().Number();
        }
        return 0;
    };
    EXPECT_EQ(numberOf([] { throw std::bad_alloc(); }), 7);
    EXPECT_EQ(numberOf([] { throw std::out_of_range("x"); }), 9);
    EXPECT_EQ(numberOf([] { throw std::overflow_error("x"); }), 6);
    EXPECT_EQ(numberOf([] { throw std::runtime_error("x"); }), 51);
    EXPECT_EQ(numberOf([] { throw 42; }), 51);
}
