#include <atomic>
#include <thread>

#include "TestKit.h"
#include "BlockingClient.h"
#include "CaptureLimits.h"
#include "CaptureServer.h"
#include "SocketControl.h"

namespace {

using namespace std::chrono_literals;

using Limits = CaptureServer<>;

bool Logged(const RecordingHost& host, const std::string& start)
{
    return std::ranges::any_of(host.lines, [&](const std::string& line) { return line.starts_with(start); });
}

} // namespace

// A client that pipelines and never reads is stopped by TCP's flow control, with the server's
// output and input for it bounded; once it reads, every reply comes, in order.
TEST_F(Limits, AClientThatNeverReadsIsHeldWithinBounds)
{
    constexpr std::size_t Line = 6; // "HELO\r\n", answered with 39 bytes
    std::atomic<std::size_t> sent{0}, replies{0};
    std::atomic<bool> blocked{false}, read{false};
    std::thread client([&] {
        BlockingClient pipeliner;
        if (!pipeliner.Connect(port, 2000, 64 * 1024))
            return;
        std::string batch;
        for (int i = 0; i < 10000; ++i)
            batch += "HELO\r\n";
        while (sent < (std::size_t{64} << 20) && pipeliner.Send(batch))
            sent += batch.size();
        blocked = true; // the send timed out: the server stopped reading
        read.wait(false);
        pipeliner.ReadLine(); // the greeting
        for (std::string line; replies < 2 * (sent / Line) && !(line = pipeliner.ReadLine()).empty();)
            ++replies;
    });
    std::size_t peakUnsent = 0, peakBuffered = 0;
    EXPECT_TRUE(WaitFor(
        [&] {
            if (listener.sckSMTPServer().Exists(1))
                peakUnsent = std::max(peakUnsent, listener.sckSMTPServer().Element(1).UnsentBytes());
            peakBuffered = std::max(peakBuffered, listener.BufferedBytes());
            return blocked.load();
        },
        60000));
    read = true;
    read.notify_one();
    EXPECT_TRUE(WaitFor([&] { return listener.ConnectionCount() == 0 || replies == 2 * (sent / Line); }, 60000));
    client.join();
    EXPECT_LT(sent, std::size_t{64} << 20);
    EXPECT_EQ(replies, 2 * (sent / Line));
    EXPECT_LE(peakUnsent, CaptureLimits::MaxUnsentBytes + 64);
    EXPECT_LE(peakBuffered, std::size_t{512} << 10);
}

// Past the cap the client idle longest makes room; one idle past the time-out is closed. Each
// hears 421 and is logged once, and the count shown stays right.
TEST_F(Limits, IdleClientsGiveWayAndTimeOut)
{
    listener.SetMaxConnections(2);
    auto first = Greeted();
    auto second = Greeted();
    EXPECT_EQ(second->Command("NOOP"), "250 OK");
    auto third = Greeted();
    EXPECT_EQ(first->ReadLine(), "421 4.3.2 Too busy, closing idle transmission channel");
    EXPECT_TRUE(first->WaitForClose());
    EXPECT_TRUE(Logged(host, "SMTPServer::Evicted, index 1: Idle for "));
    EXPECT_EQ(third->Command("NOOP"), "250 OK");
    EXPECT_TRUE(WaitFor([&] { return host.shownCount == 2; }));

    // Client text reaches the log escaped: it cannot forge a line of its own.
    EXPECT_EQ(second->Command("XYZ\nHTTP API listening on 127.0.0.1 port 1."), "500 ");
    EXPECT_EQ(host.lines.back(), "XYZ\\x0AHTTP API listening on 127.0.0.1 port 1.");

    listener.SetMaxConnections(10);
    listener.SetIdleTimeout(200ms);
    auto idle = Greeted();
    EXPECT_EQ(idle->ReadLine(), "421 4.4.2 Idle too long, closing transmission channel");
    EXPECT_TRUE(idle->WaitForClose());
    EXPECT_TRUE(WaitFor([&] { return host.shownCount == 0; }));
    EXPECT_EQ(std::ranges::count_if(host.lines, [](auto& l) { return l.starts_with("SMTPServer::Timeout"); }), 3);
}

// A client stalled in its data holds part of the budget; when honest mail needs the room, the
// stalled client goes (once idle a moment) instead of the honest mail being refused for good.
TEST_F(Limits, AStalledClientMakesRoomForMail)
{
    listener.SetIdleTimeout(3s); // stalled for a tenth of a second is enough to go
    store.Budget().setLimit(64 * 1024);
    auto stalled = Greeted();
    stalled->Send("MAIL FROM:<a@b.c>\r\nRCPT TO:<d@e.f>\r\nDATA\r\n" + std::string(50 * 1024, 's'));
    auto honest = Greeted();
    const std::string body(30 * 1024, 'h');
    std::string reply;
    EXPECT_TRUE(WaitFor([&] { return (reply = Deliver(*honest, body + "\r\n")) == "250 OK"; }, 5000)) << reply;
    for (const char* line : {"250 OK", "250 OK", "354 send the mail data, end with .",
                             "421 4.3.2 Too busy, closing idle transmission channel"})
        EXPECT_EQ(stalled->ReadLine(), line);
    EXPECT_EQ(store.EmailBody(1), body + "\r\n");
    EXPECT_TRUE(Logged(host, "SMTPServer::Evicted, index 1: "));
}
