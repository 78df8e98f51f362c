#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include <QAbstractSocket>
#include <QHostAddress>
#include <QObject>
#include <QSocketNotifier>

// An accepted plain TCP connection read and written straight through its descriptor. Qt's socket
// asks the system for the size before each read, copies through three buffers and holds every
// write for another turn of the event loop (arming and disarming its write notifier, a wake-up
// each time); a request/reply dialogue pays that on every line. Here a read takes what is there,
// up to a bound, in one call, and a write goes to the system at once; only a remainder the system
// does not take waits for the write notifier.
class DirectSocket final : public QObject {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(DirectSocket)
public:
    DirectSocket(qintptr descriptor, QObject* parent);
    ~DirectSocket() override; // closes the descriptor

    // Until the peer closed or the connection failed, and not aborted.
    bool isConnected() const { return m_state == State::Connected; }
    // The descriptor is still open (the peer may have closed its side).
    bool isOpen() const { return m_descriptor >= 0; }

    // What was read and not yet taken.
    std::size_t bytesAvailable() const { return m_received.size(); }
    std::string takeAll();
    // At most this much is read ahead of the program; the rest waits in the system's buffers.
    void setReadLimit(std::size_t bytes);

    // Hands the data to the system now; what it does not take is queued behind the write
    // notifier. Returns the bytes the system took at once. Nothing is sent once the connection failed.
    std::size_t write(std::string_view data);
    std::size_t bytesToWrite() const { return m_unsent.size() - m_unsentOffset; }

    // Sends what is queued, then closes; or closes now when nothing is queued.
    void disconnectFromHost();
    // Closes the descriptor now; queued bytes are dropped.
    void abort();

    void setLowDelay();
    QHostAddress peerAddress() const { return m_peerAddress; }
    quint16 peerPort() const { return m_peerPort; }
    quint16 localPort() const { return m_localPort; }

signals:
    void readyRead();
    void bytesWritten(qint64 bytes);
    // The peer closed or reset the connection, or we closed it; once.
    void disconnected();
    void errorOccurred(QAbstractSocket::SocketError error, const QString& description);

private:
    enum class State { Connected, PeerGone, Closed };

    void onReadable();
    void onWritable();
    void updateReadNotifier();
    void lost(int error);
    void closeDescriptor();

    int m_descriptor;
    State m_state = State::Connected;
    QSocketNotifier m_readNotifier;
    QSocketNotifier m_writeNotifier;
    std::string m_received;
    std::size_t m_readLimit;
    std::string m_unsent;
    std::size_t m_unsentOffset = 0;
    bool m_closeWhenSent = false;
    QHostAddress m_peerAddress;
    quint16 m_peerPort = 0;
    quint16 m_localPort = 0;
};
