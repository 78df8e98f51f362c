#include "TestKit.h"
#include "AppError.h"
#include "LogBuffer.h"

TEST(LogBuffer, OldestLinesGoBeyondTheBudgetUnderOneCurrentNotice)
{
    // What a line costs: its text and its bookkeeping.
    constexpr std::size_t Line = sizeof(std::string);
    struct Case {
        const char* name;
        std::size_t maxLines;
        std::size_t maxBytes;
        std::vector<std::string> appended;
        std::vector<std::string> shown;
    };
    const std::string nul("nul\0inside", 10);
    const Case cases[] = {
        {"within both budgets", 3, 3 * Line + 20, {"", nul, "Latin-1 \xC4\xFF"}, {"", nul, "Latin-1 \xC4\xFF"}},
        {"line budget", 2, 1000, {"a", "b", "c", "d", "e"}, {"Log full, oldest lines dropped: 3", "d", "e"}},
        {"byte budget",
         100,
         2 * Line + 10,
         {"12345", "67890", "x"},
         {"Log full, oldest lines dropped: 1", "67890", "x"}},
        {"a line larger than the budget", 100, Line + 3, {"ab", "abcd"}, {"Log full, oldest lines dropped: 2"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        LogBuffer log(c.maxLines, c.maxBytes);
        std::uint64_t gone = 0;
        for (const std::string& line : c.appended) {
            gone += log.append(line);
            EXPECT_LE(log.byteCount(), c.maxBytes);
            EXPECT_LE(log.Count(), c.maxLines + 1);
        }
        EXPECT_EQ(log.dropped(), gone);
        std::vector<std::string> shown;
        for (std::size_t i = 0; i < log.Count(); ++i)
            shown.emplace_back(log.line(i));
        EXPECT_EQ(shown, c.shown);
        EXPECT_THROW(log.line(log.Count()), AppError);

        log.Clear();
        EXPECT_EQ(log.Count() + log.dropped() + log.byteCount(), 0u);
        log.append("f");
        EXPECT_EQ(log.line(0), "f");
    }
}
