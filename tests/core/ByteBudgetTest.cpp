#include <cstddef>

#include "TestKit.h"
#include "ByteBudget.h"

TEST(ByteBudget, SizesAsTyped)
{
    struct Case {
        const char* text;
        bool valid;
        std::size_t bytes;
    } cases[] = {
        {"65536", true, 65536},
        {"512M", true, std::size_t(512) << 20},
        {"1.5G", true, std::size_t(3) << 29},
        {"4GiB", true, std::size_t(4) << 30},
        {"64kb", true, 65536},
        {"10B", true, 10},
        {"", false, 0},
        {"-1M", false, 0},
        {"1MM", false, 0},
        {"9000000T", false, 0},
    };
    for (const Case& c : cases) {
        std::size_t bytes = 0;
        EXPECT_EQ(parseByteSize(c.text, bytes), c.valid) << c.text;
        EXPECT_EQ(bytes, c.bytes) << c.text;
    }
}

TEST(ByteBudget, ChargesTakeOnlyWhatFitsAndGiveItBack)
{
    ByteBudget budget(100);
    {
        ByteCharge charge;
        charge.setBudget(&budget);
        EXPECT_TRUE(charge.cover(60));
        EXPECT_TRUE(charge.cover(40)); // already covered
        EXPECT_FALSE(charge.cover(101));
        EXPECT_EQ(budget.used(), 60u); // a refusal takes nothing
        EXPECT_FALSE(budget.tryTake(41));
        EXPECT_TRUE(budget.tryTake(40));
        budget.giveBack(40);
    }
    EXPECT_EQ(budget.used(), 0u); // the charge went with its holder
    EXPECT_EQ(budget.peak(), 100u);
    budget.setLimit(0);
    EXPECT_EQ(budget.remaining(), 0u);
}
