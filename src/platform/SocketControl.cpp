#include "SocketControl.h"

#include <chrono>
#include <deque>
#include <map>
#include <utility>

#include <QCoreApplication>
#include <QMetaMethod>
#include <QSslCipher>
#include <QSslSocket>
#include <QTcpServer>
#include <QTcpSocket>

#include "DeferredDeletion.h"
#include "DirectSocket.h"
#include "QtLatin1.h"
#include "SocketErrors.h"

namespace {

// Texts of the operations that cannot be carried out.
constexpr const char* WrongStateText = "Wrong protocol or connection state for the requested transaction or request";
// What a connection reads ahead of the program: a fast client then waits in the kernel's buffers
// rather than in ours, and a block handed to the program stays small.
constexpr qint64 ReadAheadBytes = qint64{256} * 1024;
// What a paused connection still reads: the rest waits in the system's buffers and TCP's window.
constexpr qint64 PausedReadAheadBytes = qint64{16} * 1024;
constexpr const char* UnknownRequestText = "No pending connection request has this identifier";
constexpr const char* InvalidPortText = "Invalid port number";

// Past this a connection attempt is given up, rather than waiting for the system's own
// time-out of about two minutes.
constexpr std::chrono::seconds ConnectTimeLimit{30};
// After the system refused to accept (out of descriptors), accepting resumes after this.
constexpr std::chrono::milliseconds AcceptRetryDelay{200};

constexpr int MaxPort = 65535;

// Connections offered by a listener and not yet taken over, by request identifier.
struct PendingRequest {
    QPointer<QTcpSocket> socket;   // TLS-capable
    QPointer<DirectSocket> direct; // plain
    const SocketControl* listener;
};

std::map<long, PendingRequest>& pendingRequests()
{
    static std::map<long, PendingRequest> map;
    return map;
}

long lastRequestId = 0;

// A listener whose connections are TLS sockets, still in the clear, when it has a certificate
// to offer: a handshake can only start on a socket that was made for it. Without, they are plain
// connections read and written directly, waiting in a queue of the listener's own.
class ConnectionServer : public QTcpServer {
public:
    ConnectionServer(QObject* parent, std::optional<QSslConfiguration> tls) : QTcpServer(parent), m_tls(std::move(tls))
    {
    }
    void setTls(std::optional<QSslConfiguration> tls) { m_tls = std::move(tls); }
    // The next plain connection waiting, or null.
    DirectSocket* takeDirect()
    {
        while (!m_direct.empty()) {
            QPointer<DirectSocket> next = m_direct.front();
            m_direct.pop_front();
            if (next)
                return next;
        }
        return nullptr;
    }

protected:
    void incomingConnection(qintptr descriptor) override
    {
        if (!m_tls) {
            // Qt announces it with newConnection all the same.
            m_direct.emplace_back(new DirectSocket(descriptor, this));
            return;
        }
        auto* secure = new QSslSocket(this);
        secure->setSslConfiguration(*m_tls);
        secure->setSocketDescriptor(descriptor);
        addPendingConnection(secure);
    }

private:
    std::optional<QSslConfiguration> m_tls;
    std::deque<QPointer<DirectSocket>> m_direct;
};

bool isTlsFailure(QAbstractSocket::SocketError error)
{
    return error == QAbstractSocket::SslHandshakeFailedError || error == QAbstractSocket::SslInternalError
        || error == QAbstractSocket::SslInvalidUserDataError;
}

// An IPv4 peer of a dual-stack listener shows as ::ffff:a.b.c.d; users expect a.b.c.d.
std::string dottedAddress(const QHostAddress& address)
{
    bool isIPv4 = false;
    const quint32 ipv4 = address.toIPv4Address(&isIPv4);
    return toLatin1(isIPv4 ? QHostAddress(ipv4).toString() : address.toString());
}

} // namespace

using DeferredDeletion::InUse;
using DeferredDeletion::retire;

SocketControl::SocketControl(QObject* parent) : QObject(parent)
{
    m_connectTimer.setSingleShot(true);
    connect(&m_connectTimer, &QTimer::timeout, this, &SocketControl::onConnectTimeout);
}

SocketControl::~SocketControl()
{
    // Silently: no event may reach a handler of an object being destroyed.
    m_connectTimer.stop();
    detach();
    if (m_server)
        retire(m_server, this);
    discardPendingRequests();
}

int SocketControl::State() const
{
    return m_state;
}

int SocketControl::LocalPort() const
{
    if (m_server && m_server->isListening())
        return m_server->serverPort();
    if (m_direct && m_direct->isConnected())
        return m_direct->localPort();
    if (m_socket && m_socket->state() == QAbstractSocket::ConnectedState)
        return m_socket->localPort();
    return m_localPort;
}

void SocketControl::SetLocalPort(int port)
{
    m_localPort = port;
}

void SocketControl::setLocalAddress(const QHostAddress& address)
{
    m_localAddress = address;
}

void SocketControl::setListenBacklog(int backlog)
{
    m_backlog = backlog;
}

void SocketControl::Listen()
{
    if (m_state != SocketState::Closed)
        throw AppError(ErrorNumber::SocketWrongState, WrongStateText);
    if (m_localPort < 0 || m_localPort > MaxPort)
        throw AppError(ErrorNumber::InvalidArgument, InvalidPortText);
    auto* server = new ConnectionServer(this, m_tls);
    server->setListenBacklogSize(m_backlog);
    if (!server->listen(m_localAddress, quint16(m_localPort))) {
        const AppError error = listenError(server->serverError(), m_localPort, server->errorString());
        delete server;
        throw error;
    }
    connect(server, &QTcpServer::newConnection, this, [this, server] {
        InUse use(server);
        onNewConnection();
    });
    // Qt stops accepting for good after such a failure (say, out of descriptors); try again soon.
    connect(server, &QTcpServer::acceptError, this, [this, server](QAbstractSocket::SocketError) {
        QTimer::singleShot(AcceptRetryDelay, server, [server] { server->resumeAccepting(); });
        emit acceptFailed();
    });
    ++m_generation;
    m_server = server;
    m_state = SocketState::Listening;
}

void SocketControl::Accept(long requestId)
{
    auto it = pendingRequests().find(requestId);
    if (it == pendingRequests().end() || (!it->second.socket && !it->second.direct))
        throw AppError(ErrorNumber::InvalidArgument, UnknownRequestText);
    if (m_state != SocketState::Closed)
        throw AppError(ErrorNumber::SocketWrongState, WrongStateText);
    const PendingRequest request = it->second;
    pendingRequests().erase(it);
    // A request/response protocol: Nagle and delayed ACKs together would stall each reply.
    if (DirectSocket* direct = request.direct) {
        direct->setParent(this);
        attach(direct);
        direct->setLowDelay();
        m_remotePort = direct->peerPort();
        m_remoteHostIP = dottedAddress(direct->peerAddress());
    } else {
        QTcpSocket* socket = request.socket;
        socket->setParent(this);
        attach(socket);
        socket->setSocketOption(QAbstractSocket::LowDelayOption, 1);
        m_remotePort = socket->peerPort();
        m_remoteHostIP = dottedAddress(socket->peerAddress());
    }
    m_state = SocketState::Connected;
    m_dataUnannounced = bytesAvailable() > 0;
    // Bytes or a close that came while the request waited are reported from the event loop,
    // not inside Accept.
    const unsigned generation = m_generation;
    QMetaObject::invokeMethod(
        this, [this, generation] { checkAccepted(generation); }, Qt::QueuedConnection);
}

void SocketControl::SetRemoteHost(std::string host)
{
    m_remoteHost = std::move(host);
}

int SocketControl::RemotePort() const
{
    return m_remotePort;
}

void SocketControl::SetRemotePort(int port)
{
    m_remotePort = port;
}

std::string SocketControl::RemoteHostIP() const
{
    return m_remoteHostIP;
}

void SocketControl::Connect()
{
    if (m_state != SocketState::Closed)
        throw AppError(ErrorNumber::SocketWrongState, WrongStateText);
    if (m_remotePort < 1 || m_remotePort > MaxPort)
        throw AppError(ErrorNumber::InvalidArgument, InvalidPortText);
    std::string host = m_remoteHost;
    // A host name resolved by the name lookup carries a terminating NUL.
    while (!host.empty() && host.back() == '\0')
        host.pop_back();
    attach(new QTcpSocket(this));
    m_state = SocketState::Connecting;
    m_remoteHostIP.clear();
    m_connectTimer.start(ConnectTimeLimit);
    // Started from the event loop: Qt may report an immediate failure inside connectToHost, and
    // no event may reach a handler before Connect has returned.
    const unsigned generation = m_generation;
    QMetaObject::invokeMethod(
        this,
        [this, generation, host = fromLatin1(host), port = quint16(m_remotePort)] {
            if (generation == m_generation && m_socket)
                m_socket->connectToHost(host, port);
        },
        Qt::QueuedConnection);
}

void SocketControl::setTlsConfiguration(std::optional<QSslConfiguration> configuration)
{
    m_tls = std::move(configuration);
    if (auto* server = dynamic_cast<ConnectionServer*>(m_server.data()))
        server->setTls(m_tls);
}

bool SocketControl::tlsCapable() const
{
    return qobject_cast<QSslSocket*>(m_socket.data()) != nullptr;
}

bool SocketControl::isEncrypted() const
{
    const auto* secure = qobject_cast<QSslSocket*>(m_socket.data());
    return secure && secure->isEncrypted();
}

std::string SocketControl::tlsDescription() const
{
    const auto* secure = qobject_cast<QSslSocket*>(m_socket.data());
    if (!secure || !secure->isEncrypted())
        return {};
    const QSslCipher cipher = secure->sessionCipher();
    return toLatin1(cipher.protocolString() + QLatin1Char(' ') + cipher.name());
}

void SocketControl::startServerEncryption()
{
    auto* secure = qobject_cast<QSslSocket*>(m_socket.data());
    if (!secure || m_state != SocketState::Connected || secure->mode() != QSslSocket::UnencryptedMode)
        throw AppError(ErrorNumber::SocketWrongState, WrongStateText);
    secure->startServerEncryption();
}

void SocketControl::Close(bool flushing)
{
    detach(flushing);
    if (m_server) {
        retire(m_server, this);
        m_server = nullptr;
    }
    discardPendingRequests();
    m_state = SocketState::Closed;
}

std::string SocketControl::GetData()
{
    if (m_direct)
        return m_direct->isOpen() ? m_direct->takeAll() : std::string();
    if (!m_socket || !m_socket->isOpen())
        return {};
    const QByteArray bytes = m_socket->readAll();
    return std::string(bytes.constData(), size_t(bytes.size()));
}

void SocketControl::SendData(std::string_view data)
{
    if (m_state != SocketState::Connected || (!m_socket && !m_direct))
        throw AppError(ErrorNumber::SocketWrongState, WrongStateText);
    if (m_direct) {
        const std::size_t taken = m_direct->write(data);
        if (taken > 0 && progressListened())
            noteSent(taken);
        return;
    }
    // Refused only when the peer is already gone; its CloseEvent is on the way.
    m_socket->write(data.data(), qint64(data.size()));
}

std::size_t SocketControl::unsentBytes() const
{
    if (m_direct)
        return m_direct->bytesToWrite();
    if (!m_socket)
        return 0;
    // TLS encrypts what is written at once: the bytes then wait in the encrypted stream.
    return std::size_t(m_socket->bytesToWrite() + (m_secure ? m_secure->encryptedBytesToWrite() : 0));
}

void SocketControl::pauseReceiving()
{
    m_receivePaused = true;
    if (m_direct)
        m_direct->setReadLimit(std::size_t(PausedReadAheadBytes));
    if (m_socket)
        m_socket->setReadBufferSize(PausedReadAheadBytes);
}

void SocketControl::resumeReceiving()
{
    if (!m_receivePaused)
        return;
    m_receivePaused = false;
    if (m_direct)
        m_direct->setReadLimit(std::size_t(ReadAheadBytes));
    else if (m_socket)
        m_socket->setReadBufferSize(ReadAheadBytes);
    else
        return;
    // Announced from the event loop, not inside the handler that resumed.
    const unsigned generation = m_generation;
    QMetaObject::invokeMethod(
        this,
        [this, generation] {
            if (generation != m_generation)
                return;
            if (m_direct && m_direct->isOpen())
                dispatchDirect(m_direct, [this] { onReadyRead(m_direct); });
            else if (m_socket && m_socket->isOpen())
                onReadyRead(m_socket);
        },
        Qt::QueuedConnection);
}

void SocketControl::attach(DirectSocket* socket)
{
    ++m_generation;
    m_direct = socket;
    m_socket = nullptr;
    m_secure = nullptr;
    m_dataUnannounced = false;
    m_receivePaused = false;
    m_sentUnreported = 0;
    socket->setReadLimit(std::size_t(ReadAheadBytes));
    connect(socket, &DirectSocket::readyRead, this,
            [this, socket] { dispatchDirect(socket, [this, socket] { onReadyRead(socket); }); });
    connect(socket, &DirectSocket::bytesWritten, this,
            [this, socket](qint64 bytes) { dispatchDirect(socket, [this, bytes] { noteSent(std::size_t(bytes)); }); });
    connect(socket, &DirectSocket::disconnected, this,
            [this, socket] { dispatchDirect(socket, [this, socket] { onDisconnected(socket); }); });
    connect(socket, &DirectSocket::errorOccurred, this,
            [this, socket](QAbstractSocket::SocketError error, const QString& text) {
                dispatchDirect(socket, [this, error, &text] {
                    if (m_state == SocketState::Connected)
                        raiseError(socketErrorNumber(error), socketErrorDescription(error, text));
                });
            });
}

// Every event of a direct connection goes through here: the bytes the system took while it was
// handled are reported once the outermost handler has returned.
template <typename Handler> void SocketControl::dispatchDirect(DirectSocket* socket, Handler handler)
{
    InUse use(socket);
    if (socket != m_direct)
        return;
    QPointer<SocketControl> self(this);
    ++m_dispatchDepth;
    handler();
    if (!self)
        return;
    if (--m_dispatchDepth == 0 && m_sentUnreported > 0)
        raiseProgress();
}

// Bytes the system took: reported from the event loop, never inside SendData.
void SocketControl::noteSent(std::size_t bytes)
{
    m_sentUnreported += bytes;
    if (m_dispatchDepth > 0 || m_progressPosted)
        return;
    m_progressPosted = true;
    const unsigned generation = m_generation;
    QMetaObject::invokeMethod(
        this,
        [this, generation] {
            m_progressPosted = false;
            if (generation == m_generation && m_direct && m_sentUnreported > 0)
                dispatchDirect(m_direct, [] {});
        },
        Qt::QueuedConnection);
}

// One SendProgress for what was sent since the last, then SendComplete when nothing waits.
void SocketControl::raiseProgress()
{
    const std::size_t bytes = std::exchange(m_sentUnreported, 0);
    if (m_state != SocketState::Connected || !m_direct)
        return;
    QPointer<SocketControl> self(this);
    const unsigned generation = m_generation;
    // Replies sent by these handlers are reported after them, as the next event.
    ++m_dispatchDepth;
    emit SendProgress(long(bytes), long(m_direct->bytesToWrite()));
    if (!self)
        return;
    --m_dispatchDepth;
    if (generation != m_generation || m_state != SocketState::Connected || !m_direct)
        return;
    if (m_direct->bytesToWrite() == 0 && bytes > 0) {
        ++m_dispatchDepth;
        emit SendComplete();
        if (!self)
            return;
        --m_dispatchDepth;
    }
    if (m_sentUnreported > 0 && generation == m_generation) {
        const std::size_t later = std::exchange(m_sentUnreported, 0);
        noteSent(later);
    }
}

bool SocketControl::progressListened() const
{
    static const QMetaMethod progress = QMetaMethod::fromSignal(&SocketControl::SendProgress);
    static const QMetaMethod complete = QMetaMethod::fromSignal(&SocketControl::SendComplete);
    return isSignalConnected(progress) || isSignalConnected(complete);
}

QObject* SocketControl::connection() const
{
    if (m_direct)
        return m_direct;
    return m_socket;
}

std::size_t SocketControl::bytesAvailable() const
{
    if (m_direct)
        return m_direct->isOpen() ? m_direct->bytesAvailable() : 0;
    return m_socket && m_socket->isOpen() ? std::size_t(m_socket->bytesAvailable()) : 0;
}

void SocketControl::attach(QTcpSocket* socket)
{
    ++m_generation;
    m_direct = nullptr;
    m_socket = socket;
    m_secure = qobject_cast<QSslSocket*>(socket);
    m_dataUnannounced = false;
    m_receivePaused = false;
    socket->setReadBufferSize(ReadAheadBytes);
    // channelReadyRead and channelBytesWritten, unlike readyRead and bytesWritten, are also
    // emitted while a handler of ours runs a nested event loop.
    connect(socket, &QAbstractSocket::connected, this, [this, socket] {
        InUse use(socket);
        onConnected(socket);
    });
    connect(socket, &QIODevice::channelReadyRead, this, [this, socket](int) {
        InUse use(socket);
        onReadyRead(socket);
    });
    connect(socket, &QIODevice::channelBytesWritten, this, [this, socket](int, qint64 bytes) {
        InUse use(socket);
        onBytesWritten(socket, bytes);
    });
    connect(socket, &QAbstractSocket::disconnected, this, [this, socket] {
        InUse use(socket);
        onDisconnected(socket);
    });
    connect(socket, &QAbstractSocket::errorOccurred, this, [this, socket](QAbstractSocket::SocketError error) {
        InUse use(socket);
        onSocketError(socket, error);
    });
    if (auto* secure = qobject_cast<QSslSocket*>(socket)) {
        // A TLS socket announces decrypted text with readyRead alone.
        connect(secure, &QIODevice::readyRead, this, [this, socket] {
            InUse use(socket);
            onReadyRead(socket);
        });
        connect(secure, &QSslSocket::encrypted, this, [this, socket] {
            InUse use(socket);
            if (socket == m_socket && m_state == SocketState::Connected)
                emit encryptedEvent();
        });
    }
}

void SocketControl::detach(bool flushing)
{
    ++m_generation;
    m_connectTimer.stop();
    if (m_socket)
        retire(m_socket, this, flushing);
    if (m_direct)
        retire(m_direct, this, flushing);
    m_socket = nullptr;
    m_secure = nullptr;
    m_direct = nullptr;
    m_sentUnreported = 0;
}

void SocketControl::discardPendingRequests()
{
    auto& requests = pendingRequests();
    for (auto it = requests.begin(); it != requests.end();) {
        if (it->second.listener != this) {
            ++it;
            continue;
        }
        if (it->second.socket)
            retire(it->second.socket, this);
        if (it->second.direct)
            retire(it->second.direct, this);
        it = requests.erase(it);
    }
}

void SocketControl::checkAccepted(unsigned generation)
{
    if (generation != m_generation || m_state != SocketState::Connected)
        return;
    if (m_direct) {
        dispatchDirect(m_direct, [this] {
            if (!m_direct->isConnected())
                onDisconnected(m_direct);
            else if (m_direct->bytesAvailable() > 0)
                onReadyRead(m_direct);
        });
        return;
    }
    if (!m_socket)
        return;
    if (m_socket->state() != QAbstractSocket::ConnectedState)
        onDisconnected(m_socket);
    else if (m_socket->bytesAvailable() > 0)
        onReadyRead(m_socket);
}

void SocketControl::onNewConnection()
{
    QPointer<SocketControl> self(this);
    const unsigned generation = m_generation;
    // Every waiting connection is taken: the server stops accepting once its own queue is full.
    while (m_server) {
        PendingRequest request{nullptr, nullptr, this};
        if (DirectSocket* direct = static_cast<ConnectionServer*>(m_server.data())->takeDirect()) {
            direct->setParent(this);
            request.direct = direct;
        } else if (m_server->hasPendingConnections()) {
            QTcpSocket* socket = m_server->nextPendingConnection();
            socket->setParent(this);
            request.socket = socket;
        } else {
            break;
        }
        const long requestId = ++lastRequestId;
        pendingRequests()[requestId] = request;
        emit ConnectionRequest(requestId);
        if (!self)
            return; // the destructor has discarded what was still pending
        // A request nobody took is refused by closing it.
        auto it = pendingRequests().find(requestId);
        if (it != pendingRequests().end()) {
            if (it->second.socket)
                retire(it->second.socket, this);
            if (it->second.direct)
                retire(it->second.direct, this);
            pendingRequests().erase(it);
        }
        if (generation != m_generation)
            return;
    }
}

void SocketControl::onConnected(QTcpSocket* socket)
{
    if (socket != m_socket || m_state != SocketState::Connecting)
        return;
    m_connectTimer.stop();
    socket->setSocketOption(QAbstractSocket::LowDelayOption, 1);
    m_remoteHostIP = dottedAddress(socket->peerAddress());
    m_state = SocketState::Connected;
    emit ConnectEvent();
}

void SocketControl::onReadyRead(QObject* socket)
{
    if (socket != connection() || m_state != SocketState::Connected || m_receivePaused)
        return;
    const std::size_t available = bytesAvailable();
    m_dataUnannounced = false;
    if (available > 0)
        emit DataArrival(long(available));
}

void SocketControl::onBytesWritten(QTcpSocket* socket, qint64 bytes)
{
    if (socket != m_socket || m_state != SocketState::Connected)
        return;
    QPointer<SocketControl> self(this);
    const unsigned generation = m_generation;
    emit SendProgress(long(bytes), long(socket->bytesToWrite()));
    if (!self || generation != m_generation || m_state != SocketState::Connected)
        return;
    if (socket->bytesToWrite() == 0)
        emit SendComplete();
}

void SocketControl::onDisconnected(QObject* socket)
{
    if (socket != connection() || m_state != SocketState::Connected)
        return;
    // Bytes not yet offered (they came before the request was taken over) go before the close.
    if (m_dataUnannounced && bytesAvailable() > 0) {
        m_dataUnannounced = false;
        QPointer<SocketControl> self(this);
        const unsigned generation = m_generation;
        emit DataArrival(long(bytesAvailable()));
        if (!self || generation != m_generation || m_state != SocketState::Connected)
            return;
    }
    m_state = SocketState::Closing;
    emit CloseEvent();
}

void SocketControl::onSocketError(QTcpSocket* socket, QAbstractSocket::SocketError error)
{
    if (socket != m_socket)
        return;
    if (isTlsFailure(error)) {
        if (m_state == SocketState::Connected)
            emit tlsErrorEvent(toLatin1(socket->errorString()));
        return;
    }
    if (m_state == SocketState::Connected && error == QAbstractSocket::RemoteHostClosedError) {
        // The peer's close (and a reset, which Qt reports the same way) ends in disconnected(),
        // which raises the CloseEvent; should that signal not follow, the close is taken from here.
        const unsigned generation = m_generation;
        QMetaObject::invokeMethod(
            this,
            [this, generation] {
                if (generation == m_generation && m_socket && m_socket->state() == QAbstractSocket::UnconnectedState)
                    onDisconnected(m_socket);
            },
            Qt::QueuedConnection);
        return;
    }
    if (m_state != SocketState::Connected && m_state != SocketState::Connecting)
        return;
    raiseError(socketErrorNumber(error), socketErrorDescription(error, socket->errorString()));
}

void SocketControl::onConnectTimeout()
{
    if (m_state != SocketState::Connecting)
        return;
    detach();
    raiseError(ErrorNumber::SocketTimedOut, socketErrorDescription(QAbstractSocket::SocketTimeoutError, {}));
}

void SocketControl::raiseError(int number, const std::string& description)
{
    m_connectTimer.stop();
    m_state = SocketState::Error;
    emit ErrorEvent(number, description, toLatin1(objectName()));
}
