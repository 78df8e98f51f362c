#include <stdexcept>

#include "TestKit.h"
#include "ErrorNumberOf.h"

// Out of memory (7) is pinned where the listener reports a full budget.
TEST(ErrorReport, StandardFailuresGetStableNumbers)
{
    EXPECT_EQ(errorNumberOf([] { throw std::out_of_range("x"); }), 9);
    EXPECT_EQ(errorNumberOf([] { throw std::overflow_error("x"); }), 6);
    EXPECT_EQ(errorNumberOf([] { throw std::runtime_error("x"); }), 51);
    EXPECT_EQ(errorNumberOf([] { throw 42; }), 51);
}
