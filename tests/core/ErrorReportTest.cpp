#include <new>
#include <stdexcept>

#include "TestKit.h"
#include "ErrorNumberOf.h"

// The report's layout is checked where handlers report (listener, viewer, search); here only how
// failures from outside the program's own error type are numbered.
TEST(ErrorReport, StandardFailuresGetStableNumbers)
{
    EXPECT_EQ(ErrorNumberOf([] { throw std::bad_alloc(); }), 7);
    EXPECT_EQ(ErrorNumberOf([] { throw std::out_of_range("x"); }), 9);
    EXPECT_EQ(ErrorNumberOf([] { throw std::overflow_error("x"); }), 6);
    EXPECT_EQ(ErrorNumberOf([] { throw std::runtime_error("x"); }), 51);
    EXPECT_EQ(ErrorNumberOf([] { throw 42; }), 51);
}
