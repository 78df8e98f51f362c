#include <sys/socket.h>

#include <memory>
#include <string>
#include <utility>

#include <QCoreApplication>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>

#include <gtest/gtest.h>

#include "SocketControl.h"
#include "SocketTestSupport.h"

namespace {

// A listener on the loopback address whose requests are accepted by `acceptor` when one is set.
class Loopback : public ::testing::Test {
protected:
    void SetUp() override
    {
        listener.SetLocalAddress(QHostAddress::LocalHost);
        listener.Listen();
        QObject::connect(&listener, &SocketControl::ConnectionRequest, &listener, [this](long id) {
            if (acceptor)
                acceptor->Accept(id);
        });
    }

    // Connects `client` to the listener and lets `server` accept it.
    void ConnectPair(SocketControl& client, SocketControl& server)
    {
        acceptor = &server;
        client.SetRemoteHost("127.0.0.1");
        client.SetRemotePort(listener.LocalPort());
        client.Connect();
        ASSERT_TRUE(QTest::qWaitFor([&] { return client.State() == SocketState::Connected
                                                 && server.State() == SocketState::Connected; },
                                    WaitMs));
        acceptor = nullptr;
    }

    SocketControl listener;
    SocketControl* acceptor = nullptr;
};

TEST_F(Loopback, ConnectsAcceptsAndCarriesBytesBothWays)
{
    EXPECT_EQ(listener.State(), SocketState::Listening);
    ASSERT_GT(listener.LocalPort(), 0);

    SocketControl client;
    SocketControl server;
    EventRecorder clientEvents(client);
    EventRecorder serverEvents(server);
    int stateInsideRequest = -1;
    std::string peerInsideRequest;
    const auto accepting = QObject::connect(&listener, &SocketControl::ConnectionRequest, &listener, [&](long id) {
        server.Accept(id);
        stateInsideRequest = server.State();
        peerInsideRequest = server.RemoteHostIP();
    });
    // A host text that came from a name lookup ends in a NUL.
    client.SetRemoteHost(std::string("127.0.0.1\0", 10));
    client.SetRemotePort(listener.LocalPort());
    client.Connect();
    EXPECT_EQ(client.State(), SocketState::Connecting);
    EXPECT_TRUE(clientEvents.events.empty()) << "no event inside Connect";
    ASSERT_TRUE(QTest::qWaitFor([&] { return clientEvents.Count("Connect") == 1
                                             && server.State() == SocketState::Connected; },
                                WaitMs));
    EXPECT_EQ(client.State(), SocketState::Connected);
    EXPECT_EQ(stateInsideRequest, SocketState::Connected);
    EXPECT_EQ(peerInsideRequest, "127.0.0.1");
    EXPECT_EQ(server.RemotePort(), client.LocalPort());

    // Bytes travel as they are, NUL and high bytes included.
    const std::string request("HELO \0\xff\xe9\r\n", 10);
    client.SendData(request);
    ASSERT_TRUE(QTest::qWaitFor([&] { return serverEvents.received.size() >= request.size(); }, WaitMs));
    EXPECT_EQ(serverEvents.received, request);
    EXPECT_EQ(server.GetData(), "") << "GetData consumes what it returns";
    server.SendData("250 OK\r\n");
    ASSERT_TRUE(QTest::qWaitFor([&] { return clientEvents.received == "250 OK\r\n"; }, WaitMs));

    // A host given by name is resolved.
    SocketControl byName;
    SocketControl byNameServer;
    EventRecorder byNameEvents(byName);
    QObject::disconnect(accepting);
    acceptor = &byNameServer;
    byName.SetRemoteHost("localhost");
    byName.SetRemotePort(listener.LocalPort());
    byName.Connect();
    ASSERT_TRUE(QTest::qWaitFor([&] { return byName.State() == SocketState::Connected; }, WaitMs))
        << byNameEvents.errorDescription;
    EXPECT_EQ(byNameEvents.Kinds(), std::vector<std::string>{"Connect"});
}

TEST_F(Loopback, PeerCloseGivesRemainingDataThenCloseAndOwnCloseIsSilent)
{
    SocketControl client;
    SocketControl server;
    EventRecorder clientEvents(client);
    EventRecorder serverEvents(server);
    ConnectPair(client, server);

    // More than the system buffers hold: the tail still goes out after our Close.
    const std::string payload = std::string(4 << 20, 'x') + "last words";
    client.SendData(payload);
    client.Close();
    EXPECT_EQ(client.State(), SocketState::Closed);
    ASSERT_TRUE(QTest::qWaitFor([&] { return serverEvents.Count("Close") == 1; }, WaitMs));
    EXPECT_EQ(serverEvents.received.size(), payload.size());
    EXPECT_TRUE(serverEvents.received == payload);
    EXPECT_EQ(serverEvents.Count("Error"), 0);
    EXPECT_EQ(serverEvents.events.back().kind, "Close");
    EXPECT_EQ(serverEvents.events.back().state, SocketState::Closing);
    EXPECT_EQ(serverEvents.events.front().kind, "Data");
    EXPECT_EQ(server.State(), SocketState::Closing);
    server.Close();
    EXPECT_EQ(server.State(), SocketState::Closed);

    // Both controls are reusable at once; this time the accepting side closes.
    clientEvents.events.clear();
    serverEvents.events.clear();
    ConnectPair(client, server);
    server.SendData("221 Bye\r\n");
    server.Close();
    EXPECT_EQ(server.State(), SocketState::Closed);
    ASSERT_TRUE(QTest::qWaitFor([&] { return clientEvents.Count("Close") == 1; }, WaitMs));
    EXPECT_EQ(clientEvents.Kinds(), (std::vector<std::string>{"Connect", "Data", "Close"}));
    EXPECT_EQ(clientEvents.received.substr(clientEvents.received.size() - 9), "221 Bye\r\n");
    EXPECT_TRUE(serverEvents.events.empty()) << "our own close raises nothing";

    // The listener too: closed and listening again on the same port straight away.
    const int port = listener.LocalPort();
    listener.Close();
    EXPECT_EQ(listener.State(), SocketState::Closed);
    listener.SetLocalPort(port);
    listener.Listen();
    EXPECT_EQ(listener.LocalPort(), port);
    client.Close();
    ConnectPair(client, server);
}

TEST(SocketControl, ConnectToClosedPortRaisesRefusedError)
{
    SocketControl client;
    client.setObjectName("sckTestLogger");
    EventRecorder events(client);
    client.SetRemoteHost("127.0.0.1");
    client.SetRemotePort(ClosedLoopbackPort());
    client.Connect();
    ASSERT_TRUE(QTest::qWaitFor([&] { return events.Count("Error") == 1; }, WaitMs));
    EXPECT_EQ(events.Kinds(), std::vector<std::string>{"Error"});
    EXPECT_EQ(events.errorNumber, ErrorNumber::SocketConnectionRefused);
    EXPECT_EQ(events.errorNumber, 10061);
    EXPECT_EQ(events.errorDescription, "Connection refused");
    EXPECT_EQ(events.errorSource, "sckTestLogger");
    EXPECT_EQ(events.events[0].state, SocketState::Error);
    EXPECT_EQ(client.State(), SocketState::Error);
    client.Close();
    EXPECT_EQ(client.State(), SocketState::Closed);
}

TEST_F(Loopback, ListenFailuresSayWhatIsWrong)
{
    SocketControl second;
    second.SetLocalAddress(QHostAddress::LocalHost);
    second.SetLocalPort(listener.LocalPort());
    try {
        second.Listen();
        FAIL() << "listening twice on one port succeeded";
    } catch (const AppError& e) {
        EXPECT_EQ(e.Number(), ErrorNumber::SocketAddressInUse);
        EXPECT_EQ(e.Description(),
                  "Address in use: another program is already using port " + std::to_string(listener.LocalPort()));
    }
    EXPECT_EQ(second.State(), SocketState::Closed);

    // Running as root here, so the refusal of a privileged port can only be shown through its text.
    const AppError privileged = ListenError(QAbstractSocket::SocketAccessError, 25, "Permission denied");
    EXPECT_EQ(privileged.Number(), ErrorNumber::SocketPermissionDenied);
    EXPECT_EQ(privileged.Description(), "Permission denied: binding port 25 needs root or the "
                                        "CAP_NET_BIND_SERVICE capability (ports below 1024)");
    const AppError other = ListenError(QAbstractSocket::SocketResourceError, 25, "Out of resources");
    EXPECT_EQ(other.Number(), ErrorNumber::SocketFailure);
    EXPECT_EQ(other.Description(), "Out of resources");
}

TEST(SocketControl, OperationsInTheWrongStateThrow)
{
    auto numberOf = [](auto operation) {
        try {
            operation();
        } catch (const AppError& e) {
            return e.Number();
        }
        return 0;
    };
    SocketControl control;
    try {
        control.SendData("x");
        FAIL() << "SendData on a closed socket succeeded";
    } catch (const AppError& e) {
        EXPECT_EQ(e.Number(), ErrorNumber::SocketWrongState);
        EXPECT_EQ(e.Description(), "Wrong protocol or connection state for the requested transaction or request");
    }
    EXPECT_EQ(numberOf([&] { control.Accept(-1); }), ErrorNumber::InvalidArgument);
    control.SetRemoteHost("127.0.0.1");
    control.SetRemotePort(0);
    EXPECT_EQ(numberOf([&] { control.Connect(); }), ErrorNumber::InvalidArgument);
    EXPECT_EQ(control.State(), SocketState::Closed);

    control.SetLocalAddress(QHostAddress::LocalHost);
    control.Listen();
    control.SetRemotePort(25);
    EXPECT_EQ(numberOf([&] { control.Listen(); }), ErrorNumber::SocketWrongState);
    EXPECT_EQ(numberOf([&] { control.Connect(); }), ErrorNumber::SocketWrongState);
    EXPECT_EQ(numberOf([&] { control.SendData("x"); }), ErrorNumber::SocketWrongState);
    EXPECT_EQ(control.State(), SocketState::Listening);
}

TEST_F(Loopback, SendProgressCountsEveryByteThenSendComplete)
{
    SocketControl client;
    SocketControl server;
    EventRecorder clientEvents(client);
    EventRecorder serverEvents(server);
    ConnectPair(client, server);

    // Progress keeps being reported while a handler of it waits in a nested loop.
    const std::string payload(4 << 20, 'm');
    bool nested = false;
    QObject::connect(&server, &SocketControl::SendProgress, &server, [&] {
        if (std::exchange(nested, true))
            return;
        EXPECT_TRUE(QTest::qWaitFor([&] { return clientEvents.received.size() == payload.size(); }, WaitMs));
    });
    server.SendData(payload);
    ASSERT_TRUE(QTest::qWaitFor([&] { return serverEvents.Count("Complete") >= 1; }, WaitMs));
    EXPECT_EQ(serverEvents.bytesSent, long(payload.size()));
    EXPECT_EQ(serverEvents.lastRemaining, 0);
    EXPECT_EQ(serverEvents.events.back().kind, "Complete");
    EXPECT_GE(serverEvents.Count("Progress"), 1);
    ASSERT_TRUE(QTest::qWaitFor([&] { return clientEvents.received.size() == payload.size(); }, WaitMs));
}

TEST_F(Loopback, UnacceptedRequestsAreClosedAndIdsAreDistinct)
{
    EventRecorder listenerEvents(listener);
    SocketControl first;
    SocketControl second;
    EventRecorder firstEvents(first);
    EventRecorder secondEvents(second);
    for (SocketControl* client : {&first, &second}) {
        client->SetRemoteHost("127.0.0.1");
        client->SetRemotePort(listener.LocalPort());
        client->Connect();
    }
    ASSERT_TRUE(QTest::qWaitFor([&] { return firstEvents.Count("Close") == 1 && secondEvents.Count("Close") == 1; },
                                WaitMs));
    EXPECT_EQ(firstEvents.Kinds(), (std::vector<std::string>{"Connect", "Close"}));
    EXPECT_EQ(first.State(), SocketState::Closing);
    ASSERT_EQ(listenerEvents.requests.size(), 2u);
    EXPECT_LT(listenerEvents.requests[0], listenerEvents.requests[1]);
    SocketControl late;
    EXPECT_THROW(late.Accept(listenerEvents.requests[0]), AppError);
    EXPECT_EQ(listener.State(), SocketState::Listening);
}

TEST_F(Loopback, PeerResetRaisesCloseOrErrorButNeverBoth)
{
    SocketControl server;
    EventRecorder serverEvents(server);
    acceptor = &server;
    QTcpSocket peer;
    peer.connectToHost(QHostAddress::LocalHost, quint16(listener.LocalPort()));
    ASSERT_TRUE(QTest::qWaitFor([&] { return server.State() == SocketState::Connected; }, WaitMs));
    // A zero linger time turns the close into a reset.
    const ::linger abortive{1, 0};
    ASSERT_EQ(::setsockopt(int(peer.socketDescriptor()), SOL_SOCKET, SO_LINGER, &abortive, sizeof abortive), 0);
    peer.abort();
    ASSERT_TRUE(QTest::qWaitFor([&] { return serverEvents.Count("Close") + serverEvents.Count("Error") > 0; },
                                WaitMs));
    QCoreApplication::processEvents(); // a second, wrong event would come straight after the first
    ASSERT_EQ(serverEvents.events.size(), 1u);
    if (serverEvents.events[0].kind == "Error") {
        EXPECT_EQ(serverEvents.errorNumber, ErrorNumber::SocketConnectionReset);
        EXPECT_EQ(server.State(), SocketState::Error);
    } else {
        EXPECT_EQ(server.State(), SocketState::Closing);
    }
}

TEST_F(Loopback, HandlerWaitingInsideDataArrivalSeesLaterArrivals)
{
    QTcpServer peerServer;
    ASSERT_TRUE(peerServer.listen(QHostAddress::LocalHost, 0));
    QTcpSocket* peer = nullptr;
    QObject::connect(&peerServer, &QTcpServer::newConnection, &peerServer, [&] {
        peer = peerServer.nextPendingConnection();
        peer->write("550 No\r\n");
        QObject::connect(peer, &QTcpSocket::readyRead, peer, [&] {
            if (peer->readAll() == "QUIT\r\n")
                peer->write("221 Bye\r\n");
        });
    });

    SocketControl client;
    std::vector<std::string> seen;
    bool waitedFor221 = false;
    QObject::connect(&client, &SocketControl::CloseEvent, &client, [&] { seen.push_back("Close"); });
    QObject::connect(&client, &SocketControl::ErrorEvent, &client, [&] { seen.push_back("Error"); });
    QObject::connect(&client, &SocketControl::DataArrival, &client, [&](long) {
        const std::string text = client.GetData();
        seen.push_back(text);
        if (text != "550 No\r\n")
            return;
        // The client's way of quitting after an unexpected reply: send, then poll for the answer.
        client.SendData("QUIT\r\n");
        waitedFor221 = QTest::qWaitFor([&] { return seen.back() == "221 Bye\r\n"; }, WaitMs);
    });
    client.SetRemoteHost("127.0.0.1");
    client.SetRemotePort(peerServer.serverPort());
    client.Connect();
    ASSERT_TRUE(QTest::qWaitFor([&] { return seen.size() == 2; }, WaitMs));
    EXPECT_TRUE(waitedFor221);
    peer->disconnectFromHost();
    ASSERT_TRUE(QTest::qWaitFor([&] { return seen.size() == 3; }, WaitMs));
    EXPECT_EQ(seen, (std::vector<std::string>{"550 No\r\n", "221 Bye\r\n", "Close"}));
    EXPECT_EQ(client.State(), SocketState::Closing);
}

TEST_F(Loopback, RequestTakenOverLateStillGivesTheDataBeforeTheClose)
{
    // The peer sends and hangs up while the listener's handler is busy (behind a message box).
    SocketControl server;
    EventRecorder serverEvents(server);
    QTcpSocket peer;
    QObject::connect(&listener, &SocketControl::ConnectionRequest, &listener, [&](long id) {
        peer.write("QUIT\r\n");
        peer.disconnectFromHost();
        EXPECT_TRUE(QTest::qWaitFor([&] { return peer.state() == QAbstractSocket::UnconnectedState; }, WaitMs));
        int rounds = 0; // loopback delivers at once; a few rounds let the waiting connection read it all
        EXPECT_TRUE(QTest::qWaitFor([&] { return ++rounds > 5; }, WaitMs));
        server.Accept(id);
    });
    peer.connectToHost(QHostAddress::LocalHost, quint16(listener.LocalPort()));
    ASSERT_TRUE(QTest::qWaitFor([&] { return serverEvents.Count("Close") == 1; }, WaitMs));
    EXPECT_EQ(serverEvents.Kinds(), (std::vector<std::string>{"Data", "Close"}));
    EXPECT_EQ(serverEvents.received, "QUIT\r\n");
}

TEST_F(Loopback, DestroyingAControlClosesItWithoutEvents)
{
    SocketControl client;
    EventRecorder clientEvents(client);
    auto server = std::make_unique<SocketControl>();
    bool serverEventRaised = false;
    QObject::connect(server.get(), &SocketControl::CloseEvent, &client, [&] { serverEventRaised = true; });
    QObject::connect(server.get(), &SocketControl::ErrorEvent, &client, [&] { serverEventRaised = true; });
    ConnectPair(client, *server);
    server->SendData("421 Going away\r\n");
    server.reset();
    ASSERT_TRUE(QTest::qWaitFor([&] { return clientEvents.Count("Close") == 1; }, WaitMs));
    EXPECT_EQ(clientEvents.received, "421 Going away\r\n");
    EXPECT_FALSE(serverEventRaised);
}

} // namespace
