#include <csignal>
#include <fcntl.h>
#include <unistd.h>

#include "TestKit.h"
#include "LogOutput.h"
#include "LoopbackClient.h"
#include "TerminationSignals.h"

namespace {

// Everything the pipe holds now.
std::string drain(int descriptor)
{
    std::string text;
    char chunk[4096];
    for (ssize_t got; (got = ::read(descriptor, chunk, sizeof chunk)) > 0;)
        text.append(chunk, std::size_t(got));
    return text;
}

} // namespace

// A reader that stops reading never makes the writer wait: lines past the bound are dropped and
// counted, and the reader hears how many went once it reads again.
TEST(LogOutput, AReaderThatStopsReadingNeverStallsTheLog)
{
    int pipe[2];
    ASSERT_EQ(::pipe2(pipe, O_CLOEXEC), 0);
    ::fcntl(pipe[0], F_SETFL, O_NONBLOCK);
    std::string read;
    {
        LogOutput output(pipe[1], 4096);
        for (int i = 0; i < 2000; ++i)
            output.write(std::string(100, 'x') + std::to_string(i));
        EXPECT_GT(output.dropped(), 0u);
        std::string expected;
        for (std::size_t i = 0; i < 2000 - output.dropped(); ++i)
            expected += std::string(100, 'x') + std::to_string(i) + "\n";
        // What the pipe held, then the queue once there is room again.
        EXPECT_TRUE(WaitFor([&] { return (read += drain(pipe[0])).size() >= expected.size(); }));
        output.write("after");
        read += drain(pipe[0]);
        expected += "Log output: " + std::to_string(output.dropped())
            + " lines dropped while standard output was not read.\nafter\n";
        EXPECT_EQ(read, expected);
    }
    ::close(pipe[0]);
    ::close(pipe[1]);
}

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
