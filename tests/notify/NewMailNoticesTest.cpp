#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "NewMailNotices.h"

namespace {

using Clock = NewMailNotices::Clock;
using std::chrono::milliseconds;

// At each time (ms from the start): an arrival with this id, or a look for a due notice.
struct Step {
    int atMs;
    std::uint64_t arrivalId; // 0: look for a due notice instead
    std::size_t toldCount;   // the notice's count, 0 for none
    std::uint64_t toldId;
};

struct Case {
    const char* name;
    std::vector<Step> steps;
};

} // namespace

TEST(NewMailNotices, TellsEachBurstOnceAtMostOncePerSecond)
{
    const std::vector<Case> cases{
        {"one arrival waits for its burst, then is told",
         {{0, 7, 0, 0}, {499, 0, 0, 0}, {500, 0, 1, 7}, {2000, 0, 0, 0}}},
        {"a burst is one notice with its count and newest",
         {{0, 1, 0, 0}, {10, 2, 0, 0}, {20, 3, 0, 0}, {500, 0, 3, 3}}},
        {"arrivals right after a notice wait a second from it",
         {{0, 1, 0, 0}, {500, 0, 1, 1}, {600, 2, 0, 0}, {1100, 0, 0, 0}, {1499, 0, 0, 0}, {1500, 0, 1, 2}}},
        {"after a quiet second the gather delay alone counts",
         {{0, 1, 0, 0}, {500, 0, 1, 1}, {3000, 2, 0, 0}, {3500, 0, 1, 2}}},
        {"nothing pending, nothing told", {{100, 0, 0, 0}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        NewMailNotices notices;
        const Clock::time_point start{};
        for (const Step& step : c.steps) {
            SCOPED_TRACE(step.atMs);
            const Clock::time_point now = start + milliseconds(step.atMs);
            if (step.arrivalId != 0) {
                EXPECT_GT(notices.arrived(now, step.arrivalId), now);
                continue;
            }
            const auto notice = notices.due(now);
            EXPECT_EQ(notice.has_value(), step.toldCount != 0);
            if (notice) {
                EXPECT_EQ(notice->count, step.toldCount);
                EXPECT_EQ(notice->newestId, step.toldId);
            }
        }
    }
}

TEST(NewMailNotices, ABurstOfFiveHundredIsOneNoticeAndForgottenArrivalsAreNotTold)
{
    NewMailNotices notices;
    const Clock::time_point start{};
    for (std::uint64_t id = 1; id <= 500; ++id)
        notices.arrived(start + milliseconds(id / 2), id);
    const auto notice = notices.due(start + milliseconds(1000));
    ASSERT_TRUE(notice);
    EXPECT_EQ(noticeText(*notice, "a@b.c", "Hi").summary, "500 new messages");
    EXPECT_FALSE(notices.due(start + milliseconds(5000)));

    notices.arrived(start + milliseconds(6000), 501);
    notices.forget();
    EXPECT_FALSE(notices.pending());
    EXPECT_FALSE(notices.due(start + milliseconds(9000)));
}

TEST(NewMailNotices, TextsForOneOrManyAndTheTray)
{
    struct TextCase {
        std::size_t count;
        const char* sender;
        const char* subject;
        const char* summary;
        const char* body;
    };
    for (const TextCase& c : std::vector<TextCase>{
             {1, "Ann <ann@example.org>", "Hello", "Ann <ann@example.org>", "Hello"},
             {1, "", "", "(unknown sender)", "(no subject)"},
             {2, "b@c.d", "Re: x", "2 new messages", "Newest: b@c.d \u2014 Re: x"},
         }) {
        SCOPED_TRACE(c.summary);
        const NoticeText text = noticeText({c.count, 1}, c.sender, c.subject);
        EXPECT_EQ(text.summary, c.summary);
        EXPECT_EQ(text.body, c.body);
    }
    EXPECT_EQ(trayToolTip("Q", true, 0), "Q \u2014 listening \u2014 no unread messages");
    EXPECT_EQ(trayToolTip("Q", false, 1), "Q \u2014 not listening \u2014 1 unread message");
    EXPECT_EQ(trayToolTip("Q", true, 40), "Q \u2014 listening \u2014 40 unread messages");
}
