#include "SmtpListener.h"
#include "SmtpListenerConnection.h"

#include <limits>
#include <utility>

#include <QHostInfo>

#include "AppError.h"
#include "CaptureLimits.h"
#include "ErrorReport.h"
#include "EventPump.h"
#include "ListenerHost.h"
#include "Latin1Text.h"
#include "MessageBoxes.h"
#include "QtLatin1.h"
#include "ScopeExit.h"
#include "SocketControl.h"
#include "TlsCredentials.h"
#include "clsEmailStorage.h"

namespace {

constexpr const char* ShutdownLine = "Shutting down all WinSock connections.";
constexpr const char* AssertionText = "Warning: Assertion failure in ShutDownWinSock.";
constexpr int MaxSocketNumber = std::numeric_limits<std::int16_t>::max();
constexpr const char* ImplicitTlsSuffix = " (TLS)";
constexpr const char* LoggedInText = ": Logged in as ";
constexpr const char* ChaosRepliedText = ": Failure reply on demand: ";
constexpr const char* TlsFailedText = ": TLS failed, connection closed: ";
constexpr const char* ModernSmtpOnLine
    = "Modern SMTP (EHLO, STARTTLS, AUTH) on: new connections are offered TLS and login.";
constexpr const char* ModernSmtpOffLine
    = "Modern SMTP (EHLO, STARTTLS, AUTH) off: new connections get the plain dialogue.";
constexpr const char* CertificateMadeText = "TLS certificate generated for ";

} // namespace

std::string serverLine(const char* event, int index)
{
    return std::string("SMTPServer::") + event + ", index " + std::to_string(index);
}

SmtpListener::SocketConnection::SocketConnection(SmtpListener& listener, int index)
    : m_listener(listener), m_index(index)
{
}

// A line handled while a box was open may find its connection ended meanwhile (the client left,
// or Stop or Quit was chosen): its reply has nobody to go to and is no error.
void SmtpListener::SocketConnection::SendData(std::string_view text)
{
    if (!m_dropped)
        m_listener.m_sockets->Element(m_index).SendData(text);
}

bool SmtpListener::SocketConnection::storeMessage(std::string&& sender, std::string&& recipients, std::string&& body,
                                                  const std::string& authUser)
{
    return m_listener.storeMessage(m_index, std::move(sender), std::move(recipients), std::move(body), authUser);
}

bool SmtpListener::SocketConnection::outputBacklogged() const
{
    return !m_dropped && m_listener.m_sockets->Element(m_index).unsentBytes() > CaptureLimits::MaxUnsentBytes;
}

// The 221 is queued: closing sends it, then ends the connection.
void SmtpListener::SocketConnection::endSession()
{
    if (!m_dropped)
        m_listener.closeByServer(m_index, {}, {});
}

bool SmtpListener::SocketConnection::tlsAvailable() const
{
    return !m_dropped && m_listener.m_sockets->Element(m_index).tlsCapable();
}

bool SmtpListener::SocketConnection::startTls()
{
    if (m_dropped)
        return false;
    m_listener.m_sockets->Element(m_index).startServerEncryption();
    return true;
}

void SmtpListener::SocketConnection::loggedIn(const std::string& user, std::string_view mechanism)
{
    m_listener.log(concat({serverLine("Auth", m_index), LoggedInText,
                           escapeControls(user, CaptureLimits::MaxLoggedClientBytes), " (", mechanism, ")"}));
}

void SmtpListener::SocketConnection::chaosReplied(std::string_view reply)
{
    m_listener.log(concat({serverLine("Chaos", m_index), ChaosRepliedText, reply}));
}

SmtpListener::Connection::Connection(SmtpListener& listener, int index)
    : socket(listener, index), session(
                                   socket,
                                   [&listener, index](std::string_view line) {
                                       listener.log(serverLine("DataArrival", index) + ": Error: Unknown command:");
                                       listener.log(escapeControls(line, CaptureLimits::MaxLoggedClientBytes));
                                   },
                                   &listener.m_store.budget())
{
    session.useChaos(&listener.m_chaos);
}

SmtpListener::SmtpListener(clsEmailStorage& store, ListenerHost& host, QObject* parent)
    : QObject(parent), m_store(store), m_host(host), m_sockets(std::make_unique<SocketArray>()),
      m_idleTimeout(DefaultIdleTimeout), m_connectionCap(connectionCap(CaptureLimits::MaxConnections))
{
    watchIdleClients();
    m_sockets->setObjectName(QStringLiteral("sckSMTPServer"));
    connect(m_sockets.get(), &SocketArray::ConnectionRequest, this, &SmtpListener::sckSMTPServer_ConnectionRequest);
    connect(m_sockets.get(), &SocketArray::DataArrival, this, &SmtpListener::sckSMTPServer_DataArrival);
    connect(m_sockets.get(), &SocketArray::CloseEvent, this, &SmtpListener::sckSMTPServer_Close);
    connect(m_sockets.get(), &SocketArray::ConnectEvent, this, &SmtpListener::sckSMTPServer_Connect);
    connect(m_sockets.get(), &SocketArray::ErrorEvent, this, &SmtpListener::sckSMTPServer_Error);
    connect(m_sockets.get(), &SocketArray::encryptedEvent, this, &SmtpListener::sckSMTPServer_Encrypted);
    connect(m_sockets.get(), &SocketArray::tlsErrorEvent, this, &SmtpListener::sckSMTPServer_TlsError);
}

SmtpListener::~SmtpListener()
{
    m_store.budget().setReclaimer(nullptr);
    // The sockets end with their owner, quietly: no handler may run on a half-destroyed listener.
    m_sockets->disconnect(this);
    m_sockets->Element(0).disconnect(this);
    if (m_implicitTls)
        m_implicitTls->disconnect(this);
}

void SmtpListener::setListenAddress(const QHostAddress& address, int port)
{
    m_listenAddress = address;
    m_listenPort = port;
}

void SmtpListener::startListening()
{
    SocketControl& listener = m_sockets->Element(0);
    listener.setLocalAddress(m_listenAddress);
    listener.SetLocalPort(m_listenPort);
    listener.setTlsConfiguration(m_extensions ? std::optional(tlsConfiguration()) : std::nullopt);
    if (m_implicitTlsAddress)
        m_implicitTls->setTlsConfiguration(tlsConfiguration());
    listener.Listen();
    if (!m_implicitTlsAddress)
        return;
    try {
        m_implicitTls->Listen();
    } catch (...) {
        listener.Close(); // Start listens on both ports or on neither
        throw;
    }
}

void SmtpListener::setExtensions(bool on)
{
    // The certificate first: when it cannot be made, nothing changes.
    m_sockets->Element(0).setTlsConfiguration(on ? std::optional(tlsConfiguration()) : std::nullopt);
    if (on != m_extensions)
        log(on ? ModernSmtpOnLine : ModernSmtpOffLine);
    m_extensions = on;
}

void SmtpListener::setImplicitTlsAddress(const QHostAddress& address, int port)
{
    m_implicitTlsAddress = {address, port};
    m_implicitTls = std::make_unique<SocketControl>();
    m_implicitTls->setObjectName(QStringLiteral("sckSMTPServer"));
    m_implicitTls->setLocalAddress(address);
    m_implicitTls->SetLocalPort(port);
    connect(m_implicitTls.get(), &SocketControl::ConnectionRequest, this, [this](long requestId) {
        trapped("sckSMTPServer_ConnectionRequest", 0, [&] { acceptRequest(0, requestId, true); });
    });
    connect(m_implicitTls.get(), &SocketControl::acceptFailed, this, &SmtpListener::makeRoomForClient);
}

int SmtpListener::implicitTlsPort() const
{
    return m_implicitTls ? m_implicitTls->LocalPort() : 0;
}

// Made at first use and kept while the program runs: a client that accepted it once sees the same.
const QSslConfiguration& SmtpListener::tlsConfiguration()
{
    if (!m_tls) {
        const QString host = QHostInfo::localHostName();
        m_tls = TlsCredentials::selfSigned(host);
        log(CertificateMadeText + toLatin1(host) + ".");
    }
    return *m_tls;
}

int SmtpListener::listeningPort() const
{
    return m_sockets->Element(0).LocalPort();
}

void SmtpListener::ShutDownWinSock()
{
    trapped("ShutDownWinSock", [&] {
        log(ShutdownLine);
        if (m_implicitTls)
            m_implicitTls->Close();
        if (m_connectionCount != m_sockets->Count() - 1)
            msgBox(AssertionText, MsgButtons::Ok, MsgIcon::Exclamation);
        // Closing yields to pending events, which may destroy elements: walk a snapshot.
        for (int index : m_sockets->indexes()) {
            if (!m_sockets->Exists(index))
                continue;
            SocketControl& socket = m_sockets->Element(index);
            if (socket.State() != SocketState::Closed) {
                socket.Close();
                dropConnection(index);
                letPendingEventsRun();
            }
        }
    });
}

void SmtpListener::sckSMTPServer_ConnectionRequest(int index, long requestId)
{
    trapped("sckSMTPServer_ConnectionRequest", index, [&] { acceptRequest(index, requestId, false); });
}

void SmtpListener::acceptRequest(int index, long requestId, bool implicitTls)
{
    const std::string request = serverLine("ConnectionRequest", index) + ": ID: " + std::to_string(requestId);
    log(request);
    if (index != 0)
        return;
    if (int(m_connections.size()) >= m_connectionCap)
        makeRoomForClient();
    int chosen = reusableSocket();
    if (chosen == 0) {
        chosen = freeSocketNumber();
        m_sockets->Load(chosen);
        ++m_connectionCount;
        m_host.connectionsChanged(m_connectionCount);
    }
    SocketControl& socket = m_sockets->Element(chosen);
    socket.SetLocalPort(0);
    socket.Accept(requestId);
    auto connection = std::make_shared<Connection>(*this, chosen);
    connection->serial = ++m_accepted;
    m_connections[chosen] = connection;
    if (implicitTls) {
        connection->session.useExtensions(true);
        socket.startServerEncryption(); // the greeting waits for the handshake
    } else if (m_extensions) {
        connection->session.useExtensions(false);
    }
    log(request + ": Request accepted on socket " + std::to_string(chosen) + (implicitTls ? ImplicitTlsSuffix : ""));
    if (!m_idleSweep.isActive())
        m_idleSweep.start(tick());
    watchSends();
    mdlSMTP::SmtpReply(connection->socket, 220, "");
}

// The first closed connection socket, skipping one whose destruction is under way.
int SmtpListener::reusableSocket() const
{
    for (int index : m_sockets->indexes())
        if (index != 0 && !m_beingDestroyed.contains(index) && m_sockets->Element(index).State() == SocketState::Closed)
            return index;
    return 0;
}

// The lowest number that no element has: destroyed elements leave gaps in the numbering.
int SmtpListener::freeSocketNumber() const
{
    int candidate = 1;
    for (int index : m_sockets->indexes()) {
        if (index == candidate)
            ++candidate;
        else if (index > candidate)
            break;
    }
    if (candidate > MaxSocketNumber)
        throw overflowError();
    return candidate;
}

void SmtpListener::sckSMTPServer_DataArrival(int index, long bytesTotal)
{
    trapped("sckSMTPServer_DataArrival", index, [&] {
        watchSends();
        if (m_host.wantsDetailedLog()) {
            const std::string prefix = serverLine("DataArrival", index);
            logDetailed(prefix + ": Remote host: " + m_sockets->Element(index).RemoteHostIP());
            logDetailed(prefix + ": Receiving " + std::to_string(bytesTotal) + " bytes.");
        }
        SocketControl& socket = m_sockets->Element(index);
        std::string data = socket.GetData();
        std::shared_ptr<Connection>& slot = m_connections[index];
        if (!slot)
            slot = std::make_shared<Connection>(*this, index);
        slot->idleTicks = 0;
        // The handler may let events run, and the connection may end meanwhile: hold on to it.
        const std::shared_ptr<Connection> connection = slot;
        {
            ++m_receiving;
            const ScopeExit received([this] { --m_receiving; });
            connection->session.receive(std::move(data));
        }
        // The client sends faster than it reads our replies: stop reading until they have gone.
        if (connection->session.held() && !connection->session.dropped()) {
            socket.pauseReceiving();
            m_heldSessions.insert(index);
            watchSends();
        }
    });
    // The replies have been handed to the system; the faces may now look at what was stored.
    if (m_receiving == 0 && std::exchange(m_storedInRead, false))
        emit messagesReplied();
}

void SmtpListener::watchSends()
{
    const bool wanted = m_host.wantsDetailedLog() || !m_heldSessions.empty();
    if (wanted == m_watchingSends)
        return;
    m_watchingSends = wanted;
    if (wanted) {
        connect(m_sockets.get(), &SocketArray::SendProgress, this, &SmtpListener::sckSMTPServer_SendProgress);
        connect(m_sockets.get(), &SocketArray::SendComplete, this, &SmtpListener::sckSMTPServer_SendComplete);
    } else {
        disconnect(m_sockets.get(), &SocketArray::SendProgress, this, &SmtpListener::sckSMTPServer_SendProgress);
        disconnect(m_sockets.get(), &SocketArray::SendComplete, this, &SmtpListener::sckSMTPServer_SendComplete);
    }
}

// Replies went out: the connection makes progress, and a held one goes on once its backlog is down.
void SmtpListener::resumeConnection(int index)
{
    auto it = m_connections.find(index);
    if (it == m_connections.end())
        return;
    it->second->idleTicks = 0;
    if (!it->second->session.held())
        return;
    // Counted here, not taken from the event: TLS keeps what it has encrypted apart.
    SocketControl& socket = m_sockets->Element(index);
    if (socket.unsentBytes() > CaptureLimits::MaxUnsentBytes / 2)
        return;
    const std::shared_ptr<Connection> connection = it->second;
    connection->session.resume();
    if (!connection->session.held() && !connection->session.dropped()) {
        m_heldSessions.erase(index);
        socket.resumeReceiving();
    }
}

bool SmtpListener::storeMessage(int index, std::string&& sender, std::string&& recipients, std::string&& body,
                                const std::string& authUser)
{
    // The store tells every face of the new message itself.
    try {
        m_store.StoreEmail(std::move(sender), std::move(recipients), std::move(body), authUser);
    } catch (...) {
        // The client hears the refusal every time; the user is told once until the store takes
        // messages again, or a burst would stack one box per message.
        if (!m_storeRefusalReported) {
            m_storeRefusalReported = true;
            reportFatal("sckSMTPServer_DataArrival", index, AppError::fromCurrentException());
        }
        return false;
    }
    m_storeRefusalReported = false;
    m_storedInRead = m_storedInRead || m_receiving > 0;
    return true;
}

void SmtpListener::sckSMTPServer_Close(int index)
{
    trapped("sckSMTPServer_Close", index, [&] {
        const std::string prefix = serverLine("Close", index);
        logDetailed(prefix + ": Close request.");
        if (index == 0) {
            log(prefix + ": Socket not closed.");
            return;
        }
        CloseConnection(index);
    });
}

// Closes a connection socket and, once pending events have run, destroys its element.
void SmtpListener::CloseConnection(int index)
{
    const std::string prefix = serverLine("Close", index);
    m_sockets->Element(index).Close();
    dropConnection(index);
    // While events run, a new client must not be given this socket.
    m_beingDestroyed.insert(index);
    const ScopeExit release([this, index] { m_beingDestroyed.erase(index); });
    letPendingEventsRun();
    logDetailed(prefix + SocketClosedText);
    m_sockets->Unload(index);
    --m_connectionCount;
    m_host.connectionsChanged(m_connectionCount);
}

void SmtpListener::sckSMTPServer_Encrypted(int index)
{
    trapped("sckSMTPServer_Encrypted", index, [&] {
        if (auto it = m_connections.find(index); it != m_connections.end())
            it->second->idleTicks = 0;
        logDetailed(serverLine("Encrypted", index) + ": " + m_sockets->Element(index).tlsDescription());
    });
}

// A failed handshake ends that connection only; a box per bad client would bury the user.
void SmtpListener::sckSMTPServer_TlsError(int index, const std::string& description)
{
    trapped("sckSMTPServer_TlsError", index, [&] {
        log(serverLine("TlsError", index) + TlsFailedText + description);
        CloseConnection(index);
    });
}

void SmtpListener::sckSMTPServer_Connect(int index)
{
    trapped("sckSMTPServer_Connect", index, [&] { log(serverLine("Connect", index)); });
}

void SmtpListener::sckSMTPServer_Error(int index, int number, const std::string& description, const std::string& source)
{
    trapped("sckSMTPServer_Error", [&] {
        const std::string text = "A WinSock error has occured on index " + std::to_string(index) + ":\r"
            + std::to_string(number) + ": " + description + "\rSource: " + source;
        msgBox(text, MsgButtons::Ok, MsgIcon::Exclamation);
        log(serverLine("Error", index) + ": " + std::to_string(number) + ": " + description);
    });
}

void SmtpListener::sckSMTPServer_SendProgress(int index, long bytesSent, long bytesRemaining)
{
    trapped("sckSMTPServer_SendProgress", index, [&] {
        if (m_host.wantsDetailedLog())
            logDetailed(serverLine("SendProgress", index) + ": " + std::to_string(bytesSent) + " bytes sent, "
                        + std::to_string(bytesRemaining) + " bytes remaining");
        resumeConnection(index);
    });
}

void SmtpListener::sckSMTPServer_SendComplete(int index)
{
    trapped("sckSMTPServer_SendComplete", index, [&] {
        if (m_host.wantsDetailedLog())
            logDetailed(serverLine("SendComplete", index));
    });
}

// The connection ended: its dialogue and unfinished line go with it.
void SmtpListener::dropConnection(int index)
{
    auto it = m_connections.find(index);
    if (it == m_connections.end())
        return;
    it->second->session.drop();
    it->second->socket.drop();
    m_connections.erase(it);
    m_heldSessions.erase(index);
}

void SmtpListener::log(const std::string& line)
{
    m_host.appendLogLine(line);
}

void SmtpListener::logDetailed(const std::string& line)
{
    if (m_host.wantsDetailedLog())
        m_host.appendLogLine(line);
}

std::size_t SmtpListener::bufferedBytes() const
{
    std::size_t bytes = 0;
    for (const auto& [index, connection] : m_connections)
        bytes += connection->session.bufferedBytes();
    return bytes;
}
