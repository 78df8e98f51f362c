// Clients on threads of their own with blocking sockets; the listener keeps the main thread.
#include <atomic>
#include <random>
#include <set>
#include <thread>

#include "TestKit.h"
#include "BlockingClient.h"
#include "CaptureLimits.h"
#include "CaptureServer.h"
#include "LogBuffer.h"

namespace {

// The application log itself, whose memory is measured.
struct LoggingHost : RecordingHost {
    void appendLogLine(const std::string& line) override { log.append(line); }
    LogBuffer log;
};

struct Load : CaptureServer<LoggingHost> {
    // Each client on a thread of its own while the event loop serves them; watch() on every turn.
    void runClients(
        const std::vector<std::function<void()>>& clients, int timeoutMs, const std::function<void()>& watch = [] {})
    {
        std::atomic<int> finished{0};
        std::vector<std::thread> threads;
        threads.reserve(clients.size());
        for (const auto& client : clients)
            threads.emplace_back([&finished, &client] {
                client();
                ++finished;
            });
        const bool done = waitFor([&] { return watch(), finished == int(threads.size()); }, timeoutMs);
        for (std::thread& t : threads) {
            if (!done) // a stuck client must not hang the test: its socket times out
                waitFor([] { return false; }, 100);
            t.join();
        }
        ASSERT_TRUE(done);
    }

    void expectPoolEmptiedWithoutBoxes()
    {
        EXPECT_TRUE(waitFor([&] { return listener.connectionCount() == 0; }, 20000)) << listener.connectionCount();
        EXPECT_EQ(host.shownCount, 0);
        EXPECT_EQ(listener.sckSMTPServer().Count(), 1);
        EXPECT_EQ(listener.bufferedBytes(), 0u);
        EXPECT_TRUE(boxes.boxes().empty()) << boxes.boxes().front().text;
    }
};

// Random 8-bit lines cut from one pool (128 MB stay cheap): the body, and as sent, dots doubled.
std::pair<std::string, std::string> randomMessage(unsigned id)
{
    static const std::string pool = [] {
        std::mt19937 poolRandom(17);
        std::string bytes(1 << 20, ' ');
        for (char& c : bytes)
            c = static_cast<char>(poolRandom() % 256);
        std::ranges::replace(bytes, '\r', 'x');
        std::ranges::replace(bytes, '\n', 'x');
        return bytes;
    }();
    std::mt19937 random(id);
    const std::size_t size = random() % (std::size_t{256} * 1024);
    std::string body = "X-Id: " + std::to_string(id) + "\r\n\r\n", sent = body;
    while (body.size() < size) {
        const std::size_t length = random() % 999;
        const std::string line
            = (random() % 10 == 0 ? "." : "") + pool.substr(random() % (pool.size() - length), length) + "\r\n";
        body += line;
        sent += (line[0] == '.' ? "." : "") + line;
    }
    return {body, sent + ".\r\n"};
}

// Client c's messages, each sent in random cuts; what each should be kept as goes to expected.
void sendMessages(int port, int c, int messages, std::vector<std::string>& expected, std::atomic<int>& confirmed)
{
    std::mt19937 cuts(static_cast<unsigned>(c));
    BlockingClient client;
    if (!client.Connect(port) || client.readLine() != "220 Quellpost"
        || !client.command("HELO load").starts_with("250-") || client.readLine() != "250 OK")
        return;
    for (int m = 0; m < messages; ++m) {
        const int id = c * messages + m;
        if (client.command("MAIL FROM:<c" + std::to_string(c) + "@load.test>") != "250 OK"
            || client.command("RCPT TO:<m" + std::to_string(id) + "@load.test>") != "250 OK"
            || client.command("DATA") != "354 send the mail data, end with .")
            break;
        auto [body, data] = randomMessage(unsigned(id));
        expected[std::size_t(id)] = std::move(body);
        for (std::size_t at = 0; at < data.size();) {
            const std::size_t piece = std::min<std::size_t>(1 + cuts() % 9000, data.size() - at);
            client.Send(std::string_view(data).substr(at, piece));
            at += piece;
        }
        if (client.readLine() == "250 OK")
            ++confirmed;
    }
    client.command("QUIT");
}

// 100 MB without a single CR LF among commands, then 70 MB of one line inside a message.
void sendGarbageThenData(int port, std::atomic<std::size_t>& sent, std::string& replies, std::string& lastReply)
{
    constexpr std::size_t MiB = 1 << 20;
    BlockingClient client;
    if (!client.Connect(port))
        return;
    client.readLine();
    const std::string chunk(MiB, 'g');
    for (int i = 0; i < 100 && client.Send(chunk); ++i)
        sent += chunk.size();
    client.Send("\r\nDATA\r\n");
    replies = client.readLine();
    replies += "|" + client.readLine();
    for (int i = 0; i < 70 && client.Send(chunk); ++i)
        sent += chunk.size();
    client.Send("\r\n.\r\n");
    lastReply = client.readLine();
}

// Unknown commands, each logged: short ones past the log's line budget, long ones cut short.
void sendUnknownCommands(int port)
{
    BlockingClient client;
    if (!client.Connect(port))
        return;
    client.readLine();
    for (int batch = 0; batch < 80; ++batch) {
        const std::string line(batch < 60 ? 8 : CaptureLimits::MaxCommandLineBytes, 'Z');
        std::string commands;
        for (int i = 0; i < 1000; ++i)
            commands.append(line).append("\r\n");
        client.Send(commands);
        for (int i = 0; i < 1000; ++i)
            client.readLine();
    }
}

} // namespace

TEST_F(Load, FiftyClientsEachMessageKeptOnceByteForByte)
{
    constexpr int Clients = 50;
    constexpr int Messages = 20;
    std::vector<std::string> expected(std::size_t{Clients} * Messages);
    std::atomic<int> confirmed{0};
    std::vector<std::function<void()>> clients;
    clients.reserve(Clients);
    for (int c = 0; c < Clients; ++c) {
        clients.emplace_back([&, c] { sendMessages(port, c, Messages, expected, confirmed); });
    }
    runClients(clients, 240000);
    EXPECT_EQ(confirmed, Clients * Messages);
    ASSERT_EQ(store.Count(), Clients * Messages);
    std::set<std::size_t> seen;
    for (std::int16_t i = 1; i <= store.Count(); ++i) {
        const std::string& body = store.EmailBody(i);
        const std::string id = body.substr(6, body.find("\r\n") - 6);
        const std::size_t n = std::stoul(id);
        ASSERT_TRUE(n < expected.size() && seen.insert(n).second) << "message " << id << " unknown or kept twice";
        EXPECT_TRUE(body == expected[n]) << "message " << id << " differs";
        EXPECT_EQ(store.EmailTo(i), "<m" + id + "@load.test>");
        EXPECT_EQ(store.EmailFrom(i), "<c" + std::to_string(n / Messages) + "@load.test>");
    }
    expectPoolEmptiedWithoutBoxes();
}

TEST_F(Load, VanishingAndResettingClientsLeaveNoTrace)
{
    const std::vector<std::string> scripts = {
        "MAIL FR",                                                    // mid-command
        "MAIL FROM:<a@x>\r\nRCPT TO:<b@x>\r\nDATA\r\nhalf a mess",    // mid-DATA
        "MAIL FROM:<a@x>\r\nRCPT TO:<b@x>\r\nDATA\r\nwhole\r\n.\r\n", // right after "."
        "QUIT\r\n",                                                   // right after QUIT
    };
    std::vector<std::function<void()>> clients;
    clients.reserve(40);
    for (int i = 0; i < 40; ++i) {
        clients.emplace_back([&, i] {
            BlockingClient client;
            if (client.Connect(port)) {
                client.readLine();
                client.Send(scripts[std::size_t(i % 4)]);
                (i / 4) % 2 == 0 ? client.reset() : client.Close();
            }
        });
    }
    runClients(clients, 60000);
    expectPoolEmptiedWithoutBoxes();
    // A message whose "." arrived is kept even when its client left at once; a reset may
    // overtake data still in flight, an orderly close may not.
    EXPECT_GE(store.Count(), 5);
    EXPECT_LE(store.Count(), 10);
    for (std::int16_t i = 1; i <= store.Count(); ++i)
        EXPECT_EQ(store.EmailBody(i), "whole\r\n");
}

TEST_F(Load, GarbageNeverGrowsMemoryAndLaterClientsAreServed)
{
    constexpr std::size_t MiB = 1 << 20;
    std::atomic<std::size_t> sent{0};
    std::string replies, lastReply;
    const auto commandsThenData = [&] { sendGarbageThenData(port, sent, replies, lastReply); };
    const auto unknownCommands = [&] { sendUnknownCommands(port); };
    std::size_t peakBuffered = 0, peakWhileCommands = 0, peakLogBytes = 0, peakLogLines = 0;
    runClients({commandsThenData, unknownCommands}, 180000, [&] {
        peakLogBytes = std::max(peakLogBytes, host.log.byteCount());
        peakLogLines = std::max(peakLogLines, host.log.Count());
        const std::size_t buffered = listener.bufferedBytes();
        peakBuffered = std::max(peakBuffered, buffered);
        if (sent < 100 * MiB)
            peakWhileCommands = std::max(peakWhileCommands, buffered);
    });
    EXPECT_EQ(sent, 170 * MiB);
    // Among commands no more than the line limit is held, inside a message the message limit.
    EXPECT_LE(peakWhileCommands, 20 * CaptureLimits::MaxCommandLineBytes);
    EXPECT_LE(peakBuffered, CaptureLimits::MaxMessageBytes + 2 * CaptureLimits::MaxCommandLineBytes);
    EXPECT_EQ(replies, "500 Line too long|354 send the mail data, end with .");
    EXPECT_TRUE(lastReply.starts_with("552 ")) << lastReply.substr(0, 80);
    EXPECT_EQ(store.Count(), 0);
    // The log reached its line budget and stayed within it while the stream went on; a long
    // command is logged cut short.
    EXPECT_EQ(peakLogLines, CaptureLimits::MaxLogLines + 1);
    EXPECT_LE(peakLogBytes, CaptureLimits::MaxLogBytes);
    EXPECT_EQ(host.log.line(host.log.Count() - 1),
              std::string(CaptureLimits::MaxLoggedClientBytes, 'Z') + "... (4096 bytes)");

    auto later = greeted();
    EXPECT_EQ(later->command("NOOP"), "250 OK");
    later->Close();
    expectPoolEmptiedWithoutBoxes();
}
