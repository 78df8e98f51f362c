#include "TestKit.h"
#include "BlockingClient.h"
#include "CaptureServer.h"

namespace {

struct Listener : CaptureServer<> {
    bool accepted(int element) const
    {
        return host.lines.back().ends_with(": Request accepted on socket " + std::to_string(element));
    }
};

} // namespace

TEST_F(Listener, PoolNumbersFillGapsWithoutReuseAndSurviveStop)
{
    std::vector<std::unique_ptr<LoopbackClient>> clients;
    clients.push_back(greeted());
    EXPECT_TRUE(accepted(1));
    clients.push_back(greeted());
    clients.push_back(greeted());
    clients[1]->Close(); // element 2 goes
    ASSERT_TRUE(waitFor([&] { return listener.connectionCount() == 2; }));
    EXPECT_EQ(host.shownCount, 2);
    for (int expected : {2, 4}) {
        clients.push_back(greeted());
        EXPECT_TRUE(accepted(expected)) << expected;
    }
    EXPECT_EQ(listener.sckSMTPServer().Count(), 5);

    // Stop closes the connections but keeps their elements; the next client after Start takes 1 again.
    listener.ShutDownWinSock();
    EXPECT_TRUE(clients.back()->waitForClose());
    EXPECT_EQ(listener.sckSMTPServer().Count(), 5);
    start();
    clients.push_back(greeted());
    EXPECT_TRUE(accepted(1));
    EXPECT_EQ(listener.connectionCount(), 4);
    EXPECT_TRUE(boxes.boxes().empty()); // the pool's invariant held
}

// A client arriving while the close handler runs events must not get the element about to go.
TEST_F(Listener, AClientArrivingWhileAnElementIsDestroyedGetsAnother)
{
    host.detailed = true;
    auto leaving = greeted();
    BlockingClient arriving; // connects without running the event loop, so its request waits
    host.onLine = [&](const std::string& line) {
        if (line == "SMTPServer::Close, index 1: Close request.") {
            EXPECT_TRUE(arriving.Connect(port));
        }
    };
    leaving->Close();
    const auto lineAt = [&](const std::string& end) {
        return std::find_if(host.lines.begin(), host.lines.end(), [&](auto& l) { return l.ends_with(end); });
    };
    ASSERT_TRUE(waitFor([&] { return lineAt("index 1: Socket has been closed.") != host.lines.end(); }));
    EXPECT_LT(lineAt(": Request accepted on socket 2"), lineAt("index 1: Socket has been closed."))
        << "the request did not run inside the close handler";
    EXPECT_EQ(host.shownCount, 1);

    host.onLine = nullptr;
    host.detailed = false;
    auto next = greeted();
    EXPECT_TRUE(accepted(1));
    EXPECT_EQ(next->command("NOOP"), "250 OK");
}

// The client hears every refusal; the user hears of it once until the store takes messages again.
TEST_F(Listener, FullStoreAnswers452AndReportsOncePerBurst)
{
    for (int i = 0; i < 32767; ++i)
        store.StoreEmail("f", "t", "b");
    auto client = greeted();
    const auto deliverOne = [&] { return deliver(*client, "body\r\n"); };
    const std::string refused = "452 Requested action not taken: insufficient system storage";
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(deliverOne(), refused);
    EXPECT_EQ(store.Count(), 32767);
    EXPECT_EQ(boxes.boxes().size(), 1u);
    store.RemoveEmail(1);
    EXPECT_EQ(deliverOne(), "250 OK");
    EXPECT_EQ(store.Count(), 32767);
    EXPECT_EQ(store.EmailFrom(32767), "<a@b.c>");
    EXPECT_EQ(deliverOne(), refused);
    const std::string report
        = "Fatal application error tracked:\r[6]: Overflow\rSource: sckSMTPServer_DataArrival\rIndex: 1";
    EXPECT_EQ(boxes.texts(), (Texts{report, report}));
}
