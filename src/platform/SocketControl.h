#pragma once

#include <optional>
#include <string>
#include <string_view>

#include <QAbstractSocket>
#include <QHostAddress>
#include <QObject>
#include <QPointer>
#include <QSslConfiguration>
#include <QTimer>

#include "AppError.h"
#include "SocketErrors.h"

class DirectSocket;
class QSslSocket;
class QTcpServer;
class QTcpSocket;

// Socket states, numbered as the event-driven socket control the program was designed against.
namespace SocketState {
inline constexpr int Closed = 0;
inline constexpr int Open = 1;
inline constexpr int Listening = 2;
inline constexpr int Connecting = 6;
inline constexpr int Connected = 7;
inline constexpr int Closing = 8; // the peer has closed; our Close() finishes it
inline constexpr int Error = 9;
} // namespace SocketState

// An event-driven TCP socket: listens and hands out connection requests, accepts one, or
// connects out; reports everything as events on the GUI thread, one at a time. SendProgress and
// SendComplete never come inside SendData: bytes the system took at once are reported once the
// event being handled has returned, and only while someone listens to them.
// Operations that cannot be carried out throw AppError.
class SocketControl final : public QObject {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(SocketControl)
public:
    explicit SocketControl(QObject* parent = nullptr);
    ~SocketControl() override;

    int State() const;

    int LocalPort() const;       // after Listen: the port actually bound
    void SetLocalPort(int port); // 0 lets the system choose
    const QHostAddress& localAddress() const { return m_localAddress; }
    void setLocalAddress(const QHostAddress& address); // default: any address
    void setListenBacklog(int backlog);
    void Listen();
    void Accept(long requestId); // takes over a pending connection request

    const std::string& RemoteHost() const { return m_remoteHost; }
    void SetRemoteHost(std::string host);
    int RemotePort() const;
    void SetRemotePort(int port);
    std::string RemoteHostIP() const; // the peer's address as dotted text
    void Connect();                   // to RemoteHost:RemotePort

    // A listener with a configuration hands out connections that can be encrypted with it (or,
    // set while it listens, the connections that arrive from then on); without, plain TCP ones.
    void setTlsConfiguration(std::optional<QSslConfiguration> configuration);
    bool tlsCapable() const;            // a connection that StartServerEncryption can encrypt
    bool isEncrypted() const;           // the handshake has completed
    std::string tlsDescription() const; // protocol and cipher of an encrypted connection
    // Starts the server's side of the handshake behind the bytes already queued; the data that
    // arrives from then on is the decrypted text. Raises EncryptedEvent or TlsErrorEvent.
    void startServerEncryption();

    // At once; raises no CloseEvent. Queued bytes still go out, for a few seconds at most, unless
    // flushing is false: then the descriptor goes now and only what the system takes is sent.
    void Close(bool flushing = true);
    std::string GetData(); // all bytes received so far
    void SendData(std::string_view data);
    // Bytes queued by SendData and not yet handed to the system.
    std::size_t unsentBytes() const;
    // While paused, no DataArrival is raised and little more is read, so that TCP's flow control
    // stops the peer; resuming raises DataArrival for what came meanwhile.
    void pauseReceiving();
    void resumeReceiving();

signals:
    void ConnectionRequest(long requestId);
    void DataArrival(long bytesTotal);
    void CloseEvent(); // only when the peer closed
    void ConnectEvent();
    void ErrorEvent(int number, const std::string& description, const std::string& source);
    void SendProgress(long bytesSent, long bytesRemaining);
    void SendComplete();
    void encryptedEvent();
    // The handshake failed (a client speaking plain text to a TLS port, say); the connection is lost.
    void tlsErrorEvent(const std::string& description);
    // The system refused to hand over a waiting connection (out of descriptors, say); the listener
    // tries again shortly.
    void acceptFailed();

private:
    void attach(QTcpSocket* socket);
    void attach(DirectSocket* socket);
    void detach(bool flushing = true);
    void discardPendingRequests();
    void checkAccepted(unsigned generation);
    QObject* connection() const; // the connection's socket, of either kind
    std::size_t bytesAvailable() const;

    void onNewConnection();
    void onConnected(QTcpSocket* socket);
    void onReadyRead(QObject* socket);
    void onBytesWritten(QTcpSocket* socket, qint64 bytes);
    void onDisconnected(QObject* socket);
    void onSocketError(QTcpSocket* socket, QAbstractSocket::SocketError error);
    void onConnectTimeout();
    void raiseError(int number, const std::string& description);

    // A plain accepted connection, read and written through its descriptor.
    template <typename Handler> void dispatchDirect(DirectSocket* socket, Handler handler);
    void onDirectReadyRead(DirectSocket* socket);
    void onDirectDisconnected(DirectSocket* socket);
    void noteSent(std::size_t bytes);
    void raiseProgress();
    bool progressListened() const;

    QPointer<QTcpServer> m_server;
    QPointer<QTcpSocket> m_socket;
    QSslSocket* m_secure = nullptr;   // m_socket, when it is a TLS socket
    QPointer<DirectSocket> m_direct;  // instead of m_socket: a plain accepted connection
    int m_dispatchDepth = 0;          // handlers of the direct connection's events under way
    std::size_t m_sentUnreported = 0; // taken by the system, SendProgress still to come
    bool m_progressPosted = false;
    QTimer m_connectTimer;
    std::optional<QSslConfiguration> m_tls;
    QHostAddress m_localAddress = QHostAddress::Any;
    int m_localPort = 0;
    int m_backlog = 1024;
    std::string m_remoteHost;
    int m_remotePort = 0;
    std::string m_remoteHostIP;
    int m_state = SocketState::Closed;
    // Counts every change of connection, so events and deferred work of an earlier one are dropped.
    unsigned m_generation = 0;
    bool m_dataUnannounced = false; // received before Accept and not yet offered
    bool m_receivePaused = false;
};
