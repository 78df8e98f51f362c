#include <functional>

#include <QTcpSocket>
#include <QTest>

#include "DirectSocket.h"
#include "SocketControl.h"
#include "TestKit.h"

// The events of an accepted plain connection, which the socket component reads and writes
// through its descriptor: the contract the capture server relies on.
namespace {

using QTest::qWaitFor;

constexpr std::size_t ReadAheadBound = std::size_t{256} * 1024;

// The server side's events in order, a run of progress events as one; every event checks that it
// came neither inside SendData nor inside another event's handler.
struct Contract {
    explicit Contract(SocketControl& c) : control(c)
    {
        using S = SocketControl;
        QObject::connect(&c, &S::DataArrival, &c, [this](long total) {
            const Depth guard(*this, "Data");
            largestArrival = std::max(largestArrival, std::size_t(total));
            if (onData)
                onData();
        });
        QObject::connect(&c, &S::SendProgress, &c, [this](long sent, long) {
            const Depth guard(*this, "Progress");
            progressBytes += std::size_t(sent);
        });
        QObject::connect(&c, &S::SendComplete, &c, [this] { const Depth guard(*this, "Complete"); });
        QObject::connect(&c, &S::CloseEvent, &c, [this] { const Depth guard(*this, "Close"); });
        QObject::connect(&c, &S::ErrorEvent, &c, [this] { const Depth guard(*this, "Error"); });
    }
    // Sends as the program does, watching for events raised inside the call.
    std::string last() const { return events.empty() ? std::string() : events.back(); }
    void send(std::string_view data)
    {
        inSend = true;
        control.SendData(data);
        inSend = false;
    }
    struct Depth {
        Depth(Contract& c, const char* kind) : contract(c)
        {
            if (contract.inSend || contract.nesting > 0)
                contract.misplaced.push_back(std::string(kind) + (contract.inSend ? " inside SendData" : " nested"));
            ++contract.nesting;
            if (contract.events.empty() || contract.events.back() != kind)
                contract.events.emplace_back(kind);
        }
        ~Depth() { --contract.nesting; }
        Contract& contract;
    };

    SocketControl& control;
    std::function<void()> onData;
    Texts events;
    Texts misplaced;
    std::string received;
    std::size_t largestArrival = 0;
    std::size_t progressBytes = 0;
    int nesting = 0;
    bool inSend = false;
};

// A listener, one connection accepted from a Qt socket as the peer.
struct Pair {
    Pair()
    {
        listener.setLocalAddress(QHostAddress::LocalHost);
        listener.Listen();
        QObject::connect(&listener, &SocketControl::ConnectionRequest, &listener,
                         [this](long id) { server->Accept(id); });
        peer.connectToHost(QHostAddress::LocalHost, quint16(listener.LocalPort()));
        EXPECT_TRUE(qWaitFor([&] { return server->State() == SocketState::Connected; }));
        EXPECT_NE(server->findChild<DirectSocket*>(), nullptr) << "a plain connection is read directly";
    }
    std::string peerReads(std::size_t bytes)
    {
        std::string got;
        EXPECT_TRUE(qWaitFor(
            [&] {
                got += peer.readAll().toStdString();
                return got.size() >= bytes;
            },
            20000));
        return got;
    }

    SocketControl listener;
    std::unique_ptr<SocketControl> server = std::make_unique<SocketControl>();
    Contract contract{*server};
    QTcpSocket peer;
};

struct Case {
    const char* name;
    std::function<void(Pair&)> run;
    Texts events;
};

TEST(SocketContract, EventsComeOneAtATimeInOrderAndNeverInsideSendData)
{
    const std::string big(std::size_t{4} << 20, 'r'); // more than the system takes at once
    const Case cases[] = {
        {"a reply sent from the data handler is reported after it",
         [](Pair& p) {
             p.contract.onData = [&p] {
                 p.contract.received += p.server->GetData();
                 p.contract.send("250 OK\r\n");
                 p.contract.send("250 OK\r\n");
             };
             p.peer.write("NOOP\r\nNOOP\r\n");
             EXPECT_EQ(p.peerReads(16), "250 OK\r\n250 OK\r\n");
             ASSERT_TRUE(qWaitFor([&] { return p.contract.last() == "Complete"; }));
             EXPECT_EQ(p.contract.progressBytes, 16U);
         },
         {"Data", "Progress", "Complete"}},
        {"a send outside any event is reported from the event loop",
         [](Pair& p) {
             p.contract.send("220 ready\r\n");
             EXPECT_TRUE(p.contract.events.empty());
             EXPECT_EQ(p.peerReads(11), "220 ready\r\n");
             ASSERT_TRUE(qWaitFor([&] { return p.contract.last() == "Complete"; }));
         },
         {"Progress", "Complete"}},
        {"a reply larger than the system takes goes out whole, complete once at the end",
         [&big](Pair& p) {
             p.contract.onData = [&p, &big] {
                 p.server->GetData();
                 p.contract.send(big);
                 EXPECT_GT(p.server->unsentBytes(), 0U);
             };
             p.peer.write("DATA\r\n");
             EXPECT_EQ(p.peerReads(big.size()).size(), big.size());
             ASSERT_TRUE(qWaitFor([&] { return p.contract.last() == "Complete"; }));
             EXPECT_EQ(p.contract.progressBytes, big.size());
             EXPECT_EQ(p.server->unsentBytes(), 0U);
         },
         {"Data", "Progress", "Complete"}},
        {"bytes left unread stay readable after the peer closed",
         [](Pair& p) {
             p.peer.write("QUIT\r\n");
             p.peer.disconnectFromHost();
             ASSERT_TRUE(qWaitFor([&] { return p.contract.last() == "Close"; }));
             EXPECT_EQ(p.server->State(), SocketState::Closing);
             EXPECT_EQ(p.server->GetData(), "QUIT\r\n");
         },
         {"Data", "Close"}},
        {"a connection closed by us flushes what it queued and reports nothing more",
         [&big](Pair& p) {
             p.contract.send(big);
             p.server->Close();
             std::string got = p.peerReads(big.size());
             EXPECT_EQ(got.size(), big.size());
             EXPECT_TRUE(qWaitFor([&] { return p.peer.state() == QAbstractSocket::UnconnectedState; }));
         },
         {}},
        {"a connection destroyed with a reply queued still sends it",
         [](Pair& p) {
             p.contract.send("421 going away\r\n");
             p.server.reset();
             EXPECT_EQ(p.peerReads(16), "421 going away\r\n");
             EXPECT_TRUE(qWaitFor([&] { return p.peer.state() == QAbstractSocket::UnconnectedState; }));
         },
         {}},
        {"a paused connection raises nothing until resumed",
         [](Pair& p) {
             p.server->pauseReceiving();
             p.peer.write("MAIL FROM:<a@b.c>\r\n");
             QTest::qWait(50); // nothing may come: there is no event to wait for
             EXPECT_TRUE(p.contract.events.empty());
             p.server->resumeReceiving();
             EXPECT_TRUE(p.contract.events.empty()) << "not inside ResumeReceiving";
             ASSERT_TRUE(qWaitFor([&] { return !p.contract.events.empty(); }));
             EXPECT_EQ(p.server->GetData(), "MAIL FROM:<a@b.c>\r\n");
         },
         {"Data"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Pair pair;
        c.run(pair);
        EXPECT_EQ(pair.contract.events, c.events);
        EXPECT_TRUE(pair.contract.misplaced.empty()) << pair.contract.misplaced.front();
    }
}

// A fast client waits in the system's buffers: no arrival offers more than the read-ahead bound,
// and all of it comes once the program reads.
TEST(SocketContract, ReadAheadIsBoundedAndNothingIsLost)
{
    Pair pair;
    const std::string flood(std::size_t{3} << 20, 'f');
    pair.peer.write(flood.data(), qint64(flood.size()));
    // Unread, the arrivals grow up to the bound and stop there.
    ASSERT_TRUE(qWaitFor([&] { return pair.contract.largestArrival >= ReadAheadBound; }, 20000));
    EXPECT_EQ(pair.contract.largestArrival, ReadAheadBound);
    std::string received;
    ASSERT_TRUE(qWaitFor(
        [&] {
            received += pair.server->GetData();
            return received.size() >= flood.size();
        },
        20000));
    EXPECT_LE(pair.contract.largestArrival, ReadAheadBound);
    EXPECT_EQ(received, flood);
}

} // namespace
