#pragma once

#include <memory>
#include <string>
#include <string_view>

#include <QHostAddress>
#include <QObject>
#include <QPointer>

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
// connects out; reports everything as events on the GUI thread, one at a time.
// Operations that cannot be carried out throw AppError.
class SocketControl : public QObject {
    Q_OBJECT
public:
    explicit SocketControl(QObject* parent = nullptr);
    ~SocketControl() override;

    int State() const;

    int LocalPort() const;             // after Listen: the port actually bound
    void SetLocalPort(int port);       // 0 lets the system choose
    void SetLocalAddress(const QHostAddress& address); // default: any address
    void SetListenBacklog(int backlog);
    void Listen();
    void Accept(long requestId);       // takes over a pending connection request

    const std::string& RemoteHost() const { return m_remoteHost; }
    void SetRemoteHost(std::string host);
    int RemotePort() const;
    void SetRemotePort(int port);
    std::string RemoteHostIP() const;  // the peer's address as dotted text
    void Connect();                    // to RemoteHost:RemotePort

    void Close();                      // at once; raises no CloseEvent
    std::string GetData();             // all bytes received so far
    void SendData(std::string_view data);

signals:
    void ConnectionRequest(long requestId);
    void DataArrival(long bytesTotal);
    void CloseEvent(); // only when the peer closed
    void ConnectEvent();
    void ErrorEvent(int number, const std::string& description, const std::string& source);
    void SendProgress(long bytesSent, long bytesRemaining);
    void SendComplete();

private:
    // Implementation detail left to the implementation file.
    void attach(QTcpSocket* socket);
    void detach();

    std::unique_ptr<QTcpServer> m_server;
    QPointer<QTcpSocket> m_socket;
    QHostAddress m_localAddress = QHostAddress::Any;
    int m_localPort = 0;
    int m_backlog = 1024;
    std::string m_remoteHost;
    int m_remotePort = 0;
    int m_state = SocketState::Closed;
};
