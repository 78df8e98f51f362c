#include <functional>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include <QCoreApplication>
#include <QPointer>
#include <QTcpSocket>
#include <QTest>

#include <gtest/gtest.h>

#include "SocketArray.h"
#include "SocketTestSupport.h"

namespace {

int numberOf(const std::function<void()>& operation)
{
    try {
        operation();
    } catch (const AppError& e) {
        return e.Number();
    }
    return 0;
}

TEST(SocketArray, LoadsAndUnloadsElementsByIndex)
{
    SocketArray array;
    EXPECT_EQ(array.Count(), 1);
    EXPECT_EQ(array.Indexes(), std::vector<int>{0});
    array.Element(0).SetLocalAddress(QHostAddress::LocalHost);
    array.Load(3);
    array.setObjectName("sckSMTPServer");
    array.Load(1);
    EXPECT_EQ(array.Indexes(), (std::vector<int>{0, 1, 3}));
    EXPECT_EQ(array.Count(), 3);
    EXPECT_TRUE(array.Exists(3));
    EXPECT_FALSE(array.Exists(2));
    for (int index : array.Indexes()) {
        SCOPED_TRACE(index);
        EXPECT_EQ(array.Element(index).objectName(), "sckSMTPServer");
        EXPECT_EQ(array.Element(index).State(), SocketState::Closed);
    }
    EXPECT_EQ(array.Element(1).LocalAddress(), QHostAddress(QHostAddress::LocalHost));

    struct Case {
        const char* what;
        std::function<void()> operation;
        int number;
    };
    const Case cases[] = {
        {"load an index in use", [&] { array.Load(1); }, ErrorNumber::InvalidArgument},
        {"load below range", [&] { array.Load(-1); }, ErrorNumber::SubscriptOutOfRange},
        {"load above range", [&] { array.Load(32768); }, ErrorNumber::SubscriptOutOfRange},
        {"unload a missing index", [&] { array.Unload(2); }, ErrorNumber::SubscriptOutOfRange},
        {"unload the listener", [&] { array.Unload(0); }, ErrorNumber::InvalidArgument},
        {"reach a missing index", [&] { array.Element(2); }, ErrorNumber::SubscriptOutOfRange},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(numberOf(c.operation), c.number);
    }
    array.Load(32767);
    array.Unload(3);
    EXPECT_EQ(array.Indexes(), (std::vector<int>{0, 1, 32767}));
}

// The server's way with its pool: element 0 listens, each request gets a new element, and a
// peer's close destroys that element from inside its own close handler.
TEST(SocketArray, RaisesEventsWithTheIndexAndUnloadsInsideOwnCloseHandler)
{
    SocketArray array;
    array.setObjectName("sckSMTPServer");
    array.Element(0).SetLocalAddress(QHostAddress::LocalHost);
    array.Element(0).Listen();
    std::vector<std::string> seen;
    QObject::connect(&array, &SocketArray::ConnectionRequest, &array, [&](int index, long id) {
        seen.push_back("Request " + std::to_string(index));
        array.Load(1);
        array.Element(1).Accept(id);
        array.Element(1).SendData("220 ready\r\n");
    });
    QObject::connect(&array, &SocketArray::DataArrival, &array, [&](int index, long) {
        seen.push_back("Data " + std::to_string(index) + " " + array.Element(index).GetData());
    });
    QObject::connect(&array, &SocketArray::CloseEvent, &array, [&](int index) {
        seen.push_back("Close " + std::to_string(index));
        array.Element(index).Close();
        QCoreApplication::processEvents();
        array.Unload(index);
    });
    QObject::connect(&array, &SocketArray::SendComplete, &array,
                     [&](int index) { seen.push_back("Complete " + std::to_string(index)); });

    QTcpSocket peer;
    peer.connectToHost(QHostAddress::LocalHost, quint16(array.Element(0).LocalPort()));
    ASSERT_TRUE(QTest::qWaitFor([&] { return peer.bytesAvailable() > 0; }, WaitMs));
    EXPECT_EQ(peer.readAll(), "220 ready\r\n");
    peer.write("QUIT\r\n");
    peer.disconnectFromHost();
    ASSERT_TRUE(QTest::qWaitFor([&] { return array.Count() == 1; }, WaitMs));
    EXPECT_EQ(seen, (std::vector<std::string>{"Request 0", "Complete 1", "Data 1 QUIT\r\n", "Close 1"}));

    // Errors name the array, so the error box can say which control failed.
    int errorIndex = -1;
    std::string errorSource;
    QObject::connect(&array, &SocketArray::ErrorEvent, &array,
                     [&](int index, int, const std::string&, const std::string& source) {
                         errorIndex = index;
                         errorSource = source;
                     });
    array.Load(2);
    array.Element(2).SetRemoteHost("127.0.0.1");
    array.Element(2).SetRemotePort(ClosedLoopbackPort());
    array.Element(2).Connect();
    ASSERT_TRUE(QTest::qWaitFor([&] { return errorIndex == 2; }, WaitMs));
    EXPECT_EQ(errorSource, "sckSMTPServer");
}

// A handler that waits in a nested loop (as behind a message box) while the peer hangs up:
// the element is unloaded and deleted under the waiting handler, which must survive it.
TEST(SocketArray, ElementDeletedWhileItsOwnHandlerWaits)
{
    SocketArray array;
    array.Element(0).SetLocalAddress(QHostAddress::LocalHost);
    array.Element(0).Listen();
    QObject::connect(&array, &SocketArray::ConnectionRequest, &array, [&](int, long id) {
        array.Load(1);
        array.Element(1).Accept(id);
    });
    QObject::connect(&array, &SocketArray::CloseEvent, &array, [&](int index) {
        array.Element(index).Close();
        array.Unload(index);
        int rounds = 0;
        EXPECT_TRUE(QTest::qWaitFor([&] { return ++rounds > 3; }, WaitMs));
    });
    QTcpSocket peer;
    bool elementGoneWhileWaiting = false;
    QObject::connect(&array, &SocketArray::DataArrival, &array, [&](int index, long) {
        QPointer<SocketControl> element(&array.Element(index));
        element->GetData();
        peer.disconnectFromHost();
        elementGoneWhileWaiting = QTest::qWaitFor([&] { return element.isNull(); }, WaitMs);
        int rounds = 0; // a few more rounds of the nested loop, which run deferred deletions
        EXPECT_TRUE(QTest::qWaitFor([&] { return ++rounds > 3; }, WaitMs));
    });
    peer.connectToHost(QHostAddress::LocalHost, quint16(array.Element(0).LocalPort()));
    ASSERT_TRUE(peer.waitForConnected(WaitMs));
    peer.write("NOOP\r\n");
    ASSERT_TRUE(QTest::qWaitFor([&] { return elementGoneWhileWaiting; }, WaitMs));
    EXPECT_EQ(array.Count(), 1);
}

TEST(SocketArray, ThreeHundredSimultaneousConnectionsAreAllOfferedAndAccepted)
{
    constexpr int Clients = 300;
    SocketArray array;
    array.Element(0).SetLocalAddress(QHostAddress::LocalHost);
    array.Element(0).Listen();
    std::set<long> requestIds;
    QObject::connect(&array, &SocketArray::ConnectionRequest, &array, [&](int, long id) {
        requestIds.insert(id);
        const int index = array.Count();
        array.Load(index);
        array.Element(index).Accept(id);
    });

    std::vector<std::unique_ptr<QTcpSocket>> clients;
    for (int i = 0; i < Clients; ++i) {
        clients.push_back(std::make_unique<QTcpSocket>());
        clients.back()->connectToHost(QHostAddress::LocalHost, quint16(array.Element(0).LocalPort()));
    }
    ASSERT_TRUE(QTest::qWaitFor([&] { return array.Count() == Clients + 1; }, 15000)) << array.Count();
    EXPECT_EQ(requestIds.size(), size_t(Clients));
    for (int index = 1; index <= Clients; ++index)
        ASSERT_EQ(array.Element(index).State(), SocketState::Connected) << index;
    ASSERT_TRUE(QTest::qWaitFor([&] {
        for (const auto& client : clients)
            if (client->state() != QAbstractSocket::ConnectedState)
                return false;
        return true;
    }, WaitMs));
}

} // namespace
