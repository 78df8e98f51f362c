#include <algorithm>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "CaptureLimits.h"
#include "ReferenceCapture.h"
#include "SmtpSession.h"

namespace {

class KeepingConnection : public SmtpConnection {
public:
    void SendData(std::string_view text) override { replies.emplace_back(text); }
    bool StoreMessage(const std::string&, const std::string&, std::string&& body) override
    {
        bodies.push_back(std::move(body));
        if (onStore)
            onStore();
        return true;
    }

    std::vector<std::string> replies;
    std::vector<std::string> bodies;
    std::function<void()> onStore;
};

std::string SampleStream()
{
    std::string s = "HELO x\r\nMAIL FROM:<a@b.c>\r\nRCPT TO:<d@e.f>\r\ndata\r\n";
    s += "..stuffed\r\n.\r\n";            // a whole message of one unstuffed line
    s += std::string(5000, 'L') + "\r\n"; // an over-long command line
    s += "DATA\r\nline\r\n\r\n..\r\nQUIT\r\nlone\rCR and\nLF\r\n.\r\n";
    s += "NOOP\r\n.\r\nDATA\r\n" + std::string(3000, 'w') + "\r\n.\r\nQUIT\r\n";
    s += "DATA\r\nunfinished"; // never completed
    return s;
}

} // namespace

TEST(SmtpSession, BlocksCutAnywhereGiveTheSameMessages)
{
    const std::string stream = SampleStream();
    const std::vector<std::string> expected = ExpectedBodies(stream);
    ASSERT_EQ(expected.size(), 3u);
    EXPECT_EQ(expected[0], ".stuffed\r\n");
    for (unsigned seed = 0; seed < 300; ++seed) {
        SCOPED_TRACE(seed);
        std::mt19937 random(seed);
        KeepingConnection connection;
        SmtpSession session(connection, nullptr);
        for (std::size_t at = 0; at < stream.size();) {
            const std::size_t piece = std::min<std::size_t>(seed % 3 == 0 ? 1 : 1 + random() % 700, stream.size() - at);
            session.Receive(stream.substr(at, piece));
            at += piece;
        }
        EXPECT_EQ(connection.bodies, expected);
        EXPECT_EQ(std::count(connection.replies.begin(), connection.replies.end(), "500 Line too long\r\n"), 1);
    }
}

TEST(SmtpSession, UnfinishedLinesStayBounded)
{
    KeepingConnection connection;
    SmtpSession session(connection, nullptr);
    const std::string garbage(64 * 1024, '\0');
    for (int i = 0; i < 50; ++i) {
        session.Receive(garbage);
        EXPECT_LE(session.BufferedBytes(), CaptureLimits::MaxCommandLineBytes + 1);
    }
    EXPECT_EQ(connection.replies, std::vector<std::string>{"500 Line too long\r\n"});
    session.Receive("\r\nNOOP\r\n");
    EXPECT_EQ(connection.replies.back(), "250 OK\r\n");
}

TEST(SmtpSession, BlocksArrivingWhileOneIsHandledWaitTheirTurn)
{
    KeepingConnection connection;
    SmtpSession session(connection, nullptr);
    bool nested = false;
    // A box opened while the first message is kept lets the client's next block arrive.
    connection.onStore = [&] {
        if (!nested) {
            nested = true;
            session.Receive("DATA\r\nsecond\r\n.\r\n");
        }
    };
    session.Receive("DATA\r\nfirst\r\n.\r\nNOOP\r\n");
    EXPECT_EQ(connection.bodies, (std::vector<std::string>{"first\r\n", "second\r\n"}));
    EXPECT_EQ(connection.replies, (std::vector<std::string>{"354 send the mail data, end with .\r\n", "250 OK\r\n",
                                                            "250 OK\r\n", "354 send the mail data, end with .\r\n",
                                                            "250 OK\r\n"}));
}
