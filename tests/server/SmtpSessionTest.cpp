#include <random>

#include "TestKit.h"
#include "CaptureLimits.h"
#include "ReferenceCapture.h"
#include "SmtpDialogue.h"
#include "SmtpSession.h"

namespace {

const std::string GoAhead = "354 send the mail data, end with .\r\n";
const std::string TooLong = "500 Line too long\r\n";

} // namespace

TEST(SmtpSession, BlocksCutAnywhereGiveTheSameMessages)
{
    // Data lines go in as runs up to the next line with a dot: runs cut anywhere, too.
    std::string stream
        = "HELO x\r\nMAIL FROM:<a@b.c>\r\nRCPT TO:<d@e.f>\r\ndata\r\n..stuffed\r\na run\r\n\r\nof lines\r\n.\r\n";
    stream += std::string(5000, 'L') + "\r\n"; // an over-long command line
    stream += "DATA\r\nline\r\n\r\n..\r\nQUIT\r\nlone\rCR and\nLF\r\n.\r\n";
    stream += "NOOP\r\n.\r\nDATA\r\n" + std::string(3000, 'w') + "\r\n.\r\nQUIT\r\nDATA\r\nunfinished";
    const Texts expected = expectedBodies(stream);
    ASSERT_EQ(expected.size(), 3u);
    EXPECT_EQ(expected[0], ".stuffed\r\na run\r\n\r\nof lines\r\n");
    for (unsigned seed = 0; seed < 300; ++seed) {
        SCOPED_TRACE(seed);
        std::mt19937 random(seed);
        SmtpDialogue connection;
        // Every other run the client reads its replies only now and then: the session holds
        // while more than 64 bytes are unread, and goes on where it stopped.
        if (seed % 2)
            connection.backlog = 64;
        SmtpSession session(connection, nullptr);
        const auto clientReads = [&] {
            EXPECT_TRUE(seed % 2 == 0 || connection.unsent <= connection.backlog + 40) << connection.unsent;
            connection.unsent = 0;
            session.resume();
        };
        for (std::size_t at = 0; at < stream.size();) {
            const std::size_t piece = std::min<std::size_t>(seed % 3 == 0 ? 1 : 1 + random() % 700, stream.size() - at);
            session.receive(stream.substr(at, piece));
            at += piece;
            if (random() % 4 == 0)
                clientReads();
        }
        while (session.held())
            clientReads();
        EXPECT_EQ(connection.bodies(), expected);
        EXPECT_EQ(std::count(connection.replies.begin(), connection.replies.end(), TooLong), 1);
    }
}

// Past the limit, by one line or one long line, a message is "552" and its memory goes at once.
TEST(SmtpSession, MessagesPastTheSizeLimitAreRefusedAndTheNextIsJudgedOnItsOwn)
{
    SmtpDialogue connection;
    SmtpSession session(connection, nullptr);
    const std::string mebibyte(1024 * 1024 - 2, 'x');
    session.receive("DATA\r\n");
    for (int i = 0; i < 64; ++i)
        session.receive(mebibyte + "\r\n");
    EXPECT_FALSE(session.dialogue().oversized);
    session.receive("one line too many\r\n");
    EXPECT_TRUE(session.dialogue().oversized);
    EXPECT_EQ(session.dialogue().dataBuffer.capacity(), 0u);
    session.receive(".\r\nDATA\r\n");
    for (int i = 0; i < 66; ++i)
        session.receive(mebibyte);
    EXPECT_LE(session.bufferedBytes(), CaptureLimits::MaxMessageBytes + 1);
    session.receive(".\r\nafter\r\n.\r\nDATA\r\nsmall\r\n.\r\n");
    const std::string refused = "552 Requested mail action aborted: exceeded storage allocation\r\n";
    EXPECT_EQ(connection.replies, (Texts{GoAhead, refused, GoAhead, refused, GoAhead, "250 OK\r\n"}));
    EXPECT_EQ(connection.bodies(), Texts{"small\r\n"});
}

TEST(SmtpSession, BlocksArrivingWhileOneIsHandledWaitTheirTurn)
{
    SmtpDialogue connection;
    SmtpSession session(connection, nullptr);
    // A box opened while the first message is kept lets the client's next block arrive.
    connection.onStore = [&] {
        if (connection.stored.size() == 1)
            session.receive("DATA\r\nsecond\r\n.\r\n");
    };
    session.receive("DATA\r\nfirst\r\n.\r\nNOOP\r\n");
    EXPECT_EQ(connection.bodies(), (Texts{"first\r\n", "second\r\n"}));
    EXPECT_EQ(connection.replies, (Texts{GoAhead, "250 OK\r\n", "250 OK\r\n", GoAhead, "250 OK\r\n"}));
}
