#include <stdexcept>
#include <vector>

#include <gtest/gtest.h>

#include "ErrorReport.h"
#include "RecordingMessageBoxes.h"

TEST(ErrorReport, TextLayoutWithAndWithoutIndex)
{
    AppError error(ErrorNumber::Overflow, "Overflow");
    EXPECT_EQ(FatalReportText("ShowMessage", error),
              "Fatal application error tracked:\r[6]: Overflow\rSource: ShowMessage");
    EXPECT_EQ(FatalReportText("sckSMTPServer_DataArrival", error, 3),
              "Fatal application error tracked:\r[6]: Overflow\rSource: sckSMTPServer_DataArrival\rIndex: 3");
}

TEST(ErrorReport, TrappedShowsOneCriticalBoxAndStops)
{
    RecordingMessageBoxes boxes;
    bool after = false;
    EXPECT_FALSE(Trapped("cmdMessageNext_Click", [&] {
        throw AppError(ErrorNumber::SubscriptOutOfRange, "Subscript out of range");
        after = true;
    }));
    EXPECT_FALSE(after);
    ASSERT_EQ(boxes.Boxes().size(), 1u);
    EXPECT_EQ(boxes.Boxes()[0].icon, MsgIcon::Critical);
    EXPECT_EQ(boxes.Boxes()[0].buttons, MsgButtons::Ok);
    EXPECT_EQ(boxes.Boxes()[0].text,
              "Fatal application error tracked:\r[9]: Subscript out of range\rSource: cmdMessageNext_Click");

    EXPECT_TRUE(Trapped("sckSMTPServer_Close", 7, [] {}));
    EXPECT_FALSE(Trapped("sckSMTPServer_Close", 7, [] { throw std::vector<int>().at(1); }));
    ASSERT_EQ(boxes.Boxes().size(), 2u);
    EXPECT_EQ(boxes.Boxes()[1].text,
              "Fatal application error tracked:\r[9]: Subscript out of range\rSource: sckSMTPServer_Close\rIndex: 7");
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
    EXPECT_EQ(numberOf([] { throw std::bad_alloc(); }), ErrorNumber::OutOfMemory);
    EXPECT_EQ(numberOf([] { throw std::out_of_range("x"); }), ErrorNumber::SubscriptOutOfRange);
    EXPECT_EQ(numberOf([] { throw std::overflow_error("x"); }), ErrorNumber::Overflow);
    EXPECT_EQ(numberOf([] { throw std::runtime_error("x"); }), ErrorNumber::Unexpected);
    EXPECT_EQ(numberOf([] { throw 42; }), ErrorNumber::Unexpected);
}
