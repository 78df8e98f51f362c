#include <QPointer>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>

#include "TestKit.h"
#include "ErrorNumberOf.h"
#include "SocketArray.h"
#include "SocketControl.h"

namespace {

using QTest::qWaitFor; // bounded: five seconds unless told otherwise

// Turns the event loop a few times from inside a handler, as a message box would.
void spinEventLoop(int rounds)
{
    EXPECT_TRUE(qWaitFor([&] { return --rounds < 0; }));
}

void connectTo(SocketControl& client, const std::string& host, int port)
{
    client.SetRemoteHost(host);
    client.SetRemotePort(port);
    client.Connect();
}

// Every event as its kind and the state then (7 connected, 8 closing); reads data at once.
struct Recorder {
    explicit Recorder(SocketControl& c) : control(c)
    {
        using S = SocketControl;
        QObject::connect(&c, &S::DataArrival, &c, [this](long) {
            add("Data");
            received += control.GetData();
        });
        QObject::connect(&c, &S::CloseEvent, &c, [this] { add("Close"); });
        QObject::connect(&c, &S::ConnectEvent, &c, [this] { add("Connect"); });
        QObject::connect(&c, &S::ErrorEvent, &c, [this] { add("Error"); });
    }
    void add(const char* kind) { events.push_back(std::string(kind) + " " + std::to_string(control.State())); }
    int count(const std::string& kind) const
    {
        return int(std::count_if(events.begin(), events.end(), [&](auto& e) { return e.starts_with(kind + " "); }));
    }

    SocketControl& control;
    Texts events;
    std::string received;
};

// A listener on the loopback address whose requests are accepted by `acceptor` when one is set.
class Loopback : public ::testing::Test {
protected:
    void SetUp() override
    {
        listener.setLocalAddress(QHostAddress::LocalHost);
        listener.Listen();
        QObject::connect(&listener, &SocketControl::ConnectionRequest, &listener, [this](long id) {
            if (acceptor)
                acceptor->Accept(id);
        });
    }

    // Connects `client` to the listener and lets `server` accept it.
    void connectPair(SocketControl& client, SocketControl& server, const std::string& host = "127.0.0.1")
    {
        acceptor = &server;
        connectTo(client, host, listener.LocalPort());
        ASSERT_TRUE(qWaitFor([&] {
            return client.State() == SocketState::Connected && server.State() == SocketState::Connected;
        })) << host;
        acceptor = nullptr;
    }

    SocketControl listener;
    SocketControl* acceptor = nullptr;
};

// Closed by the peer, by ourselves, or by destruction: the peer's close alone raises a CloseEvent.
TEST_F(Loopback, PeerCloseGivesRemainingDataThenCloseAndOwnCloseIsSilent)
{
    SocketControl client;
    auto server = std::make_unique<SocketControl>();
    Recorder clientEvents(client), serverEvents(*server);
    connectPair(client, *server);

    // More than the system buffers hold: the tail still goes out after our Close.
    const std::string payload = std::string(4 << 20, 'x') + "last words";
    client.SendData(payload);
    client.Close();
    ASSERT_TRUE(qWaitFor([&] { return serverEvents.count("Close") == 1; }));
    EXPECT_TRUE(serverEvents.received == payload) << serverEvents.received.size() << " bytes received";
    EXPECT_EQ(serverEvents.count("Data"), int(serverEvents.events.size()) - 1) << "nothing but data before the close";
    EXPECT_EQ(serverEvents.events.back(), "Close 8");
    server->Close();

    // Both controls are reusable at once, and the listener, closed, listens on its port again.
    const int port = listener.LocalPort();
    listener.Close();
    listener.SetLocalPort(port);
    listener.Listen();
    EXPECT_EQ(listener.LocalPort(), port);
    serverEvents.events.clear();
    clientEvents.events.clear();
    connectPair(client, *server);

    // Destroyed, it sends what it had queued and closes.
    server->SendData("421 Going away\r\n");
    server.reset();
    ASSERT_TRUE(qWaitFor([&] { return clientEvents.count("Close") == 1; }));
    EXPECT_EQ(clientEvents.events, (Texts{"Connect 7", "Data 7", "Close 8"}));
    EXPECT_EQ(clientEvents.received, "421 Going away\r\n");
    EXPECT_TRUE(serverEvents.events.empty()) << serverEvents.events.front();
}

TEST(SocketControl, MisuseThrowsAndARefusedPortIsExplained)
{
    SocketControl c;
    EXPECT_EQ(errorNumberOf([&] { c.SendData("x"); }), ErrorNumber::SocketWrongState) << "send while closed";
    EXPECT_EQ(errorNumberOf([&] { connectTo(c, "127.0.0.1", 0); }), ErrorNumber::InvalidArgument) << "port 0";
    // Running as root here, so the refusal of a privileged port can only be shown through its text.
    EXPECT_EQ(
        listenError(QAbstractSocket::SocketAccessError, 25, "Permission denied").description(),
        "Permission denied: binding port 25 needs root or the CAP_NET_BIND_SERVICE capability (ports below 1024)");
}

// The peer sends and hangs up while the listener's handler is busy behind a box: nothing is lost.
TEST_F(Loopback, RequestTakenOverLateStillGivesTheDataBeforeTheClose)
{
    SocketControl server;
    Recorder serverEvents(server);
    QTcpSocket peer;
    QObject::connect(&listener, &SocketControl::ConnectionRequest, &listener, [&](long id) {
        peer.write("QUIT\r\n");
        peer.disconnectFromHost();
        EXPECT_TRUE(qWaitFor([&] { return peer.state() == QAbstractSocket::UnconnectedState; }));
        spinEventLoop(5); // loopback delivers at once; a few rounds let the waiting connection read it all
        server.Accept(id);
    });
    peer.connectToHost(QHostAddress::LocalHost, quint16(listener.LocalPort()));
    ASSERT_TRUE(qWaitFor([&] { return serverEvents.count("Close") == 1; }));
    EXPECT_EQ(serverEvents.events, (Texts{"Data 7", "Close 8"}));
    EXPECT_EQ(serverEvents.received, "QUIT\r\n");
}

TEST(SocketArray, LoadsAndUnloadsElementsByIndex)
{
    SocketArray array;
    EXPECT_EQ(array.indexes(), std::vector<int>{0});
    array.Element(0).setLocalAddress(QHostAddress::LocalHost);
    array.Load(3);
    array.setObjectName("sckSMTPServer");
    array.Load(1);
    EXPECT_EQ(array.indexes(), (std::vector<int>{0, 1, 3}));
    EXPECT_EQ(array.Element(1).localAddress(), QHostAddress(QHostAddress::LocalHost));

    EXPECT_EQ(errorNumberOf([&] { array.Load(1); }), ErrorNumber::InvalidArgument) << "in use";
    EXPECT_EQ(errorNumberOf([&] { array.Load(32768); }), ErrorNumber::SubscriptOutOfRange);
    EXPECT_EQ(errorNumberOf([&] { array.Unload(0); }), ErrorNumber::InvalidArgument) << "the listener";
    EXPECT_EQ(errorNumberOf([&] { array.Element(2); }), ErrorNumber::SubscriptOutOfRange) << "missing";
    array.Load(32767);
    array.Unload(3);
    EXPECT_EQ(array.indexes(), (std::vector<int>{0, 1, 32767}));

    // A refused connection is an error, not a close, and names the array, so the error box can say
    // which control failed; Close takes the element out of the error state.
    Texts seen;
    QObject::connect(&array, &SocketArray::ErrorEvent, &array,
                     [&](int index, int number, const std::string& text, const std::string& source) {
                         seen.push_back(std::to_string(index) + " " + std::to_string(number) + ": " + text + " ("
                                        + source + ") in state " + std::to_string(array.Element(index).State()));
                     });
    QTcpServer probe; // a port on which nothing listens
    ASSERT_TRUE(probe.listen(QHostAddress::LocalHost, 0));
    const int closedPort = probe.serverPort();
    probe.close();
    connectTo(array.Element(1), "127.0.0.1", closedPort);
    ASSERT_TRUE(qWaitFor([&] { return !seen.empty(); }));
    EXPECT_EQ(seen, Texts{"1 10061: Connection refused (sckSMTPServer) in state 9"});
    array.Element(1).Close();
    EXPECT_EQ(array.Element(1).State(), SocketState::Closed);
}

// The peer hangs up while a handler waits behind a box: its element is deleted under it.
TEST(SocketArray, ElementDeletedWhileItsOwnHandlerWaits)
{
    SocketArray array;
    array.Element(0).setLocalAddress(QHostAddress::LocalHost);
    array.Element(0).Listen();
    QObject::connect(&array, &SocketArray::ConnectionRequest, &array, [&](int, long id) {
        array.Load(1);
        array.Element(1).Accept(id);
    });
    QObject::connect(&array, &SocketArray::CloseEvent, &array, [&](int index) {
        array.Element(index).Close();
        array.Unload(index);
        spinEventLoop(3);
    });
    QTcpSocket peer;
    bool elementGoneWhileWaiting = false;
    QObject::connect(&array, &SocketArray::DataArrival, &array, [&](int index, long) {
        QPointer<SocketControl> element(&array.Element(index));
        element->GetData();
        peer.disconnectFromHost();
        elementGoneWhileWaiting = qWaitFor([&] { return element.isNull(); });
        spinEventLoop(3); // a few more rounds of the nested loop, which run deferred deletions
    });
    peer.connectToHost(QHostAddress::LocalHost, quint16(array.Element(0).LocalPort()));
    ASSERT_TRUE(peer.waitForConnected(5000));
    peer.write("NOOP\r\n");
    ASSERT_TRUE(qWaitFor([&] { return elementGoneWhileWaiting; }));
    EXPECT_EQ(array.Count(), 1);
}

} // namespace
