#include "DirectSocket.h"

#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>
#include <memory>

namespace {

// One read takes at most this much; what a connection may hold unread is bounded apart.
constexpr std::size_t ReadChunkBytes = std::size_t{256} * 1024;
// A queue sent this far is compacted rather than moved on every write.
constexpr std::size_t CompactAfterBytes = std::size_t{64} * 1024;

// The bytes of one read land here before they join the connection's own: every connection is
// read on the thread of the event loop, one at a time, so one buffer serves them all.
char* readChunk()
{
    thread_local const std::unique_ptr<char[]> chunk(new char[ReadChunkBytes]);
    return chunk.get();
}

// A reset or a broken pipe is the peer's way of closing; anything else is a failure to report.
bool isPeerClose(int error)
{
    return error == ECONNRESET || error == EPIPE || error == ETIMEDOUT;
}

bool wouldBlock(int error)
{
    return error == EAGAIN || error == EWOULDBLOCK || error == EINTR;
}

QHostAddress addressOf(const sockaddr_storage& address, quint16& port)
{
    const auto* generic = reinterpret_cast<const sockaddr*>(&address);
    if (address.ss_family == AF_INET)
        port = ntohs(reinterpret_cast<const sockaddr_in*>(&address)->sin_port);
    else if (address.ss_family == AF_INET6)
        port = ntohs(reinterpret_cast<const sockaddr_in6*>(&address)->sin6_port);
    return QHostAddress(generic);
}

} // namespace

DirectSocket::DirectSocket(qintptr descriptor, QObject* parent)
    : QObject(parent), m_descriptor(int(descriptor)), m_readNotifier(descriptor, QSocketNotifier::Read),
      m_writeNotifier(descriptor, QSocketNotifier::Write), m_readLimit(ReadChunkBytes)
{
    const int flags = fcntl(m_descriptor, F_GETFL);
    fcntl(m_descriptor, F_SETFL, flags | O_NONBLOCK);
    sockaddr_storage address{};
    socklen_t length = sizeof address;
    if (getpeername(m_descriptor, reinterpret_cast<sockaddr*>(&address), &length) == 0)
        m_peerAddress = addressOf(address, m_peerPort);
    length = sizeof address;
    if (getsockname(m_descriptor, reinterpret_cast<sockaddr*>(&address), &length) == 0)
        addressOf(address, m_localPort);
    m_writeNotifier.setEnabled(false);
    connect(&m_readNotifier, &QSocketNotifier::activated, this, &DirectSocket::onReadable);
    connect(&m_writeNotifier, &QSocketNotifier::activated, this, &DirectSocket::onWritable);
}

DirectSocket::~DirectSocket()
{
    closeDescriptor();
}

std::string DirectSocket::takeAll()
{
    std::string taken;
    taken.swap(m_received);
    updateReadNotifier();
    return taken;
}

void DirectSocket::setReadLimit(std::size_t bytes)
{
    m_readLimit = bytes;
    updateReadNotifier();
}

std::size_t DirectSocket::write(std::string_view data)
{
    if (m_state != State::Connected || data.empty())
        return 0;
    std::size_t taken = 0;
    if (bytesToWrite() == 0) {
        const ssize_t sent = ::send(m_descriptor, data.data(), data.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
        if (sent < 0 && !wouldBlock(errno)) {
            // The peer is gone: its close comes from the read side, from the event loop.
            m_readNotifier.setEnabled(true);
            return 0;
        }
        taken = sent > 0 ? std::size_t(sent) : 0;
        data.remove_prefix(taken);
    }
    if (!data.empty()) {
        m_unsent.append(data);
        m_writeNotifier.setEnabled(true);
    }
    return taken;
}

void DirectSocket::disconnectFromHost()
{
    if (m_state == State::Connected && bytesToWrite() > 0) {
        m_closeWhenSent = true;
        return;
    }
    abort();
}

void DirectSocket::abort()
{
    const bool wasOpen = m_descriptor >= 0 && m_state == State::Connected;
    closeDescriptor();
    m_state = State::Closed;
    if (wasOpen)
        emit disconnected();
}

void DirectSocket::setLowDelay()
{
    const int on = 1;
    setsockopt(m_descriptor, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
}

void DirectSocket::onReadable()
{
    const std::size_t room = m_readLimit > m_received.size() ? m_readLimit - m_received.size() : 0;
    if (room == 0 || m_state != State::Connected) {
        updateReadNotifier();
        return;
    }
    char* chunk = readChunk();
    const ssize_t got = ::read(m_descriptor, chunk, std::min(room, ReadChunkBytes));
    if (got > 0) {
        m_received.append(chunk, std::size_t(got));
        updateReadNotifier();
        emit readyRead();
        return;
    }
    if (got < 0 && wouldBlock(errno))
        return;
    lost(got == 0 ? 0 : errno);
}

void DirectSocket::onWritable()
{
    if (m_state != State::Connected) {
        m_writeNotifier.setEnabled(false);
        return;
    }
    const std::size_t queued = bytesToWrite();
    const ssize_t sent = ::send(m_descriptor, m_unsent.data() + m_unsentOffset, queued, MSG_NOSIGNAL | MSG_DONTWAIT);
    if (sent < 0) {
        if (!wouldBlock(errno))
            lost(errno);
        return;
    }
    m_unsentOffset += std::size_t(sent);
    if (bytesToWrite() == 0) {
        std::string().swap(m_unsent);
        m_unsentOffset = 0;
        m_writeNotifier.setEnabled(false);
    } else if (m_unsentOffset > CompactAfterBytes && m_unsentOffset > m_unsent.size() / 2) {
        m_unsent.erase(0, m_unsentOffset);
        m_unsentOffset = 0;
    }
    const bool closeNow = m_closeWhenSent && bytesToWrite() == 0;
    emit bytesWritten(qint64(sent));
    if (closeNow && m_state == State::Connected)
        abort();
}

// Reading goes on while there is room; a full connection waits, and TCP's window stops its peer.
void DirectSocket::updateReadNotifier()
{
    const bool wanted = m_state == State::Connected && m_received.size() < m_readLimit;
    if (m_readNotifier.isEnabled() != wanted)
        m_readNotifier.setEnabled(wanted);
}

// The end of file, or a failure: what was read stays readable until the descriptor is closed.
void DirectSocket::lost(int error)
{
    if (m_state != State::Connected)
        return;
    m_state = State::PeerGone;
    m_readNotifier.setEnabled(false);
    m_writeNotifier.setEnabled(false);
    std::string().swap(m_unsent);
    m_unsentOffset = 0;
    if (error != 0 && !isPeerClose(error))
        emit errorOccurred(QAbstractSocket::NetworkError, QString::fromLocal8Bit(std::strerror(error)));
    emit disconnected();
}

void DirectSocket::closeDescriptor()
{
    if (m_descriptor < 0)
        return;
    m_readNotifier.setEnabled(false);
    m_writeNotifier.setEnabled(false);
    ::close(m_descriptor);
    m_descriptor = -1;
}
