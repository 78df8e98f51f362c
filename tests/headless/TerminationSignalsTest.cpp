#include <csignal>
#include <unistd.h>

#include "TestKit.h"
#include "TerminationSignals.h"

// The event loop is busy (here: never runs again); the signal still ends the program, cleanly.
TEST(TerminationSignalsDeathTest, EndsSoonAfterTheSignalWhileWorkHoldsTheLoop)
{
    EXPECT_EXIT(
        {
            TerminationSignals termination(std::chrono::seconds(1));
            std::raise(SIGTERM);
            for (;;)
                ::pause();
        },
        ::testing::ExitedWithCode(0), "");
}
