#include "SmtpListener.h"

#include <limits>
#include <utility>

#include "AppError.h"
#include "ErrorReport.h"
#include "EventPump.h"
#include "ListenerHost.h"
#include "MessageBoxes.h"
#include "ScopeExit.h"
#include "SocketControl.h"
#include "clsEmailStorage.h"

namespace {

constexpr const char* ShutdownLine = "Shutting down all WinSock connections.";
constexpr const char* AssertionText = "Warning: Assertion failure in ShutDownWinSock.";
constexpr int MaxSocketNumber = std::numeric_limits<std::int16_t>::max();

std::string ServerLine(const char* event, int index)
{
    return std::string("SMTPServer::") + event + ", index " + std::to_string(index);
}

} // namespace

// The engine's view of one connection socket.
class SmtpListener::SocketConnection : public SmtpConnection {
public:
    SocketConnection(SmtpListener& listener, int index) : m_listener(listener), m_index(index) { }

    // A line handled while a box was open may find its connection ended meanwhile (the client left,
    // or Stop or Quit was chosen): its reply has nobody to go to and is no error.
    void SendData(std::string_view text) override
    {
        if (!m_dropped)
            m_listener.m_sockets->Element(m_index).SendData(text);
    }
    void Drop() { m_dropped = true; }
    bool StoreMessage(const std::string& sender, const std::string& recipients, std::string&& body) override
    {
        return m_listener.StoreMessage(m_index, sender, recipients, std::move(body));
    }

private:
    SmtpListener& m_listener;
    int m_index;
    bool m_dropped = false;
};

// What one client connection carries from its acceptance to its end.
struct SmtpListener::Connection {
    Connection(SmtpListener& listener, int index)
        : socket(listener, index), session(
                                       socket,
                                       [&listener, index](std::string_view line) {
                                           listener.Log(ServerLine("DataArrival", index) + ": Error: Unknown command:");
                                           listener.Log(std::string(line));
                                       },
                                       &listener.m_store.Budget())
    {
    }

    SocketConnection socket;
    SmtpSession session;
};

SmtpListener::SmtpListener(clsEmailStorage& store, ListenerHost& host, QObject* parent)
    : QObject(parent), m_store(store), m_host(host), m_sockets(std::make_unique<SocketArray>())
{
    m_sockets->setObjectName(QStringLiteral("sckSMTPServer"));
    connect(m_sockets.get(), &SocketArray::ConnectionRequest, this, &SmtpListener::sckSMTPServer_ConnectionRequest);
    connect(m_sockets.get(), &SocketArray::DataArrival, this, &SmtpListener::sckSMTPServer_DataArrival);
    connect(m_sockets.get(), &SocketArray::CloseEvent, this, &SmtpListener::sckSMTPServer_Close);
    connect(m_sockets.get(), &SocketArray::ConnectEvent, this, &SmtpListener::sckSMTPServer_Connect);
    connect(m_sockets.get(), &SocketArray::ErrorEvent, this, &SmtpListener::sckSMTPServer_Error);
    connect(m_sockets.get(), &SocketArray::SendProgress, this, &SmtpListener::sckSMTPServer_SendProgress);
    connect(m_sockets.get(), &SocketArray::SendComplete, this, &SmtpListener::sckSMTPServer_SendComplete);
}

SmtpListener::~SmtpListener()
{
    // The sockets end with their owner, quietly: no handler may run on a half-destroyed listener.
    m_sockets->disconnect(this);
}

void SmtpListener::SetListenAddress(const QHostAddress& address, int port)
{
    m_listenAddress = address;
    m_listenPort = port;
}

void SmtpListener::StartListening()
{
    SocketControl& listener = m_sockets->Element(0);
    listener.SetLocalAddress(m_listenAddress);
    listener.SetLocalPort(m_listenPort);
    listener.Listen();
}

int SmtpListener::ListeningPort() const
{
    return m_sockets->Element(0).LocalPort();
}

void SmtpListener::ShutDownWinSock()
{
    Trapped("ShutDownWinSock", [&] {
        Log(ShutdownLine);
        if (m_connectionCount != m_sockets->Count() - 1)
            MsgBox(AssertionText, MsgButtons::Ok, MsgIcon::Exclamation);
        // Closing yields to pending events, which may destroy elements: walk a snapshot.
        for (int index : m_sockets->Indexes()) {
            if (!m_sockets->Exists(index))
                continue;
            SocketControl& socket = m_sockets->Element(index);
            if (socket.State() != SocketState::Closed) {
                socket.Close();
                DropConnection(index);
                LetPendingEventsRun();
            }
        }
    });
}

void SmtpListener::sckSMTPServer_ConnectionRequest(int index, long requestId)
{
    Trapped("sckSMTPServer_ConnectionRequest", index, [&] {
        const std::string request = ServerLine("ConnectionRequest", index) + ": ID: " + std::to_string(requestId);
        Log(request);
        if (index != 0)
            return;
        int chosen = ReusableSocket();
        if (chosen == 0) {
            chosen = FreeSocketNumber();
            m_sockets->Load(chosen);
            ++m_connectionCount;
            m_host.ConnectionCountChanged(m_connectionCount);
        }
        SocketControl& socket = m_sockets->Element(chosen);
        socket.SetLocalPort(0);
        socket.Accept(requestId);
        auto connection = std::make_shared<Connection>(*this, chosen);
        m_connections[chosen] = connection;
        Log(request + ": Request accepted on socket " + std::to_string(chosen));
        mdlSMTP::SmtpReply(connection->socket, 220, "");
    });
}

// The first closed connection socket, skipping one whose destruction is under way.
int SmtpListener::ReusableSocket() const
{
    for (int index : m_sockets->Indexes())
        if (index != 0 && !m_beingDestroyed.contains(index) && m_sockets->Element(index).State() == SocketState::Closed)
            return index;
    return 0;
}

// The lowest number that no element has: destroyed elements leave gaps in the numbering.
int SmtpListener::FreeSocketNumber() const
{
    int candidate = 1;
    for (int index : m_sockets->Indexes()) {
        if (index == candidate)
            ++candidate;
        else if (index > candidate)
            break;
    }
    if (candidate > MaxSocketNumber)
        throw OverflowError();
    return candidate;
}

void SmtpListener::sckSMTPServer_DataArrival(int index, long bytesTotal)
{
    Trapped("sckSMTPServer_DataArrival", index, [&] {
        if (m_host.DetailedLogging()) {
            const std::string prefix = ServerLine("DataArrival", index);
            LogDetailed(prefix + ": Remote host: " + m_sockets->Element(index).RemoteHostIP());
            LogDetailed(prefix + ": Receiving " + std::to_string(bytesTotal) + " bytes.");
        }
        std::string data = m_sockets->Element(index).GetData();
        std::shared_ptr<Connection>& slot = m_connections[index];
        if (!slot)
            slot = std::make_shared<Connection>(*this, index);
        // The handler may let events run, and the connection may end meanwhile: hold on to it.
        const std::shared_ptr<Connection> connection = slot;
        connection->session.Receive(std::move(data));
    });
}

bool SmtpListener::StoreMessage(int index, const std::string& sender, const std::string& recipients, std::string&& body)
{
    std::int16_t position = 0;
    try {
        position = m_store.StoreEmail(sender, recipients, std::move(body));
    } catch (...) {
        // The client hears the refusal every time; the user is told once until the store takes
        // messages again, or a burst would stack one box per message.
        if (!m_storeRefusalReported) {
            m_storeRefusalReported = true;
            ReportFatal("sckSMTPServer_DataArrival", index, AppError::FromCurrentException());
        }
        return false;
    }
    m_storeRefusalReported = false;
    m_host.MessageStored(position);
    return true;
}

void SmtpListener::sckSMTPServer_Close(int index)
{
    Trapped("sckSMTPServer_Close", index, [&] {
        const std::string prefix = ServerLine("Close", index);
        LogDetailed(prefix + ": Close request.");
        if (index == 0) {
            Log(prefix + ": Socket not closed.");
            return;
        }
        m_sockets->Element(index).Close();
        DropConnection(index);
        // While events run, a new client must not be given this socket.
        m_beingDestroyed.insert(index);
        const ScopeExit release([this, index] { m_beingDestroyed.erase(index); });
        LetPendingEventsRun();
        LogDetailed(prefix + ": Socket has been closed.");
        m_sockets->Unload(index);
        --m_connectionCount;
        m_host.ConnectionCountChanged(m_connectionCount);
    });
}

void SmtpListener::sckSMTPServer_Connect(int index)
{
    Trapped("sckSMTPServer_Connect", index, [&] { Log(ServerLine("Connect", index)); });
}

void SmtpListener::sckSMTPServer_Error(int index, int number, const std::string& description, const std::string& source)
{
    Trapped("sckSMTPServer_Error", [&] {
        const std::string text = "A WinSock error has occured on index " + std::to_string(index) + ":\r"
            + std::to_string(number) + ": " + description + "\rSource: " + source;
        MsgBox(text, MsgButtons::Ok, MsgIcon::Exclamation);
        Log(ServerLine("Error", index) + ": " + std::to_string(number) + ": " + description);
    });
}

void SmtpListener::sckSMTPServer_SendProgress(int index, long bytesSent, long bytesRemaining)
{
    Trapped("sckSMTPServer_SendProgress", index, [&] {
        if (m_host.DetailedLogging())
            LogDetailed(ServerLine("SendProgress", index) + ": " + std::to_string(bytesSent) + " bytes sent, "
                        + std::to_string(bytesRemaining) + " bytes remaining");
    });
}

void SmtpListener::sckSMTPServer_SendComplete(int index)
{
    Trapped("sckSMTPServer_SendComplete", index, [&] {
        if (m_host.DetailedLogging())
            LogDetailed(ServerLine("SendComplete", index));
    });
}

// The connection ended: its dialogue and unfinished line go with it.
void SmtpListener::DropConnection(int index)
{
    auto it = m_connections.find(index);
    if (it == m_connections.end())
        return;
    it->second->session.Drop();
    it->second->socket.Drop();
    m_connections.erase(it);
}

void SmtpListener::Log(const std::string& line)
{
    m_host.LogLine(line);
}

void SmtpListener::LogDetailed(const std::string& line)
{
    if (m_host.DetailedLogging())
        m_host.LogLine(line);
}

std::size_t SmtpListener::BufferedBytes() const
{
    std::size_t bytes = 0;
    for (const auto& [index, connection] : m_connections)
        bytes += connection->session.BufferedBytes();
    return bytes;
}
