#include "EventClient.h"

#include <sys/socket.h>

#include <algorithm>

#include <QCryptographicHash>
#include <QTcpSocket>

#include "HttpRequestParser.h"
#include "HttpServer.h"

namespace {

constexpr const char* WebSocketOnlyText = "the event stream is a WebSocket";
constexpr const char* VersionText = "the event stream speaks WebSocket version 13";
constexpr char AcceptGuid[] = "258EAFA5-E914-47DA-95CA-C5AB0DC85B11";
// Unread output beyond which a client's frames are not read (its pings would pile up pongs).
constexpr qint64 ReadHighWater = qint64{16} * 1024;
// The kernel's own queue for the client: small, so that a client that does not read shows soon.
constexpr int SendBufferBytes = 64 * 1024;
constexpr int CloseGraceMs = 5000;

} // namespace

QTcpSocket* acceptWebSocket(const HttpRequest& request, HttpResponder& responder)
{
    const std::string* upgrade = request.field("Upgrade");
    const std::string* connection = request.field("Connection");
    const std::string* key = request.field("Sec-WebSocket-Key");
    if (!upgrade || !listsToken(*upgrade, "websocket") || !connection || !listsToken(*connection, "upgrade") || !key
        || QByteArray::fromBase64(QByteArray::fromStdString(*key)).size() != 16 || request.minorVersion != 1) {
        writeError(responder, HttpStatus::BadRequest, WebSocketOnlyText);
        return nullptr;
    }
    const std::string* version = request.field("Sec-WebSocket-Version");
    if (!version || *version != "13") {
        responder.write(errorJson(VersionText), "application/json", HttpStatus::BadRequest,
                        {{"Sec-WebSocket-Version", "13"}});
        return nullptr;
    }
    const QByteArray accept
        = QCryptographicHash::hash(QByteArray::fromStdString(*key) + AcceptGuid, QCryptographicHash::Sha1).toBase64();
    return responder.upgrade({{"Upgrade", "websocket"}, {"Connection", "Upgrade"}, {"Sec-WebSocket-Accept", accept}});
}

EventClient::EventClient(QTcpSocket* socket, QObject* parent) : QObject(parent), m_socket(socket)
{
    socket->setParent(this);
    socket->setReadBufferSize(MaxEventMessageBytes);
    socket->setSocketOption(QAbstractSocket::SendBufferSizeSocketOption, SendBufferBytes);
    m_closeTimer.setSingleShot(true);
    connect(&m_closeTimer, &QTimer::timeout, socket, &QTcpSocket::abort);
    connect(socket, &QTcpSocket::readyRead, this, &EventClient::readFrames);
    connect(socket, &QTcpSocket::bytesWritten, this, &EventClient::readFrames);
    connect(socket, &QTcpSocket::disconnected, this, &EventClient::finish);
    // Frames may have come with the handshake.
    QMetaObject::invokeMethod(this, &EventClient::readFrames, Qt::QueuedConnection);
}

EventClient::~EventClient()
{
    m_socket->disconnect(this);
}

void EventClient::send(std::string_view frames)
{
    if (m_closing)
        return;
    // With nothing queued, a plain socket's frames go to the system at once: QTcpSocket would
    // copy them and write them in a later turn of the event loop, which is the capture's thread.
    // A failure is left for the socket to meet on its own next write.
    if (m_socket->bytesToWrite() == 0 && m_socket->metaObject() == &QTcpSocket::staticMetaObject
        && m_socket->state() == QAbstractSocket::ConnectedState) {
        const ssize_t sent
            = ::send(int(m_socket->socketDescriptor()), frames.data(), frames.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
        frames.remove_prefix(std::size_t(std::max<ssize_t>(sent, 0)));
        if (frames.empty())
            return;
    }
    if (m_socket->bytesToWrite() + qint64(frames.size()) > MaxEventQueueBytes) {
        m_socket->abort();
        return finish();
    }
    m_socket->write(frames.data(), qint64(frames.size()));
}

void EventClient::readFrames()
{
    char buffer[MaxEventMessageBytes];
    while (!m_closing && m_socket->bytesToWrite() <= ReadHighWater && m_socket->bytesAvailable() > 0) {
        const qint64 peeked = m_socket->peek(buffer, qint64(sizeof buffer));
        WebSocketFrames::Reader::Event event;
        m_socket->skip(
            qint64(m_reader.feed(std::string_view(buffer, std::size_t(std::max<qint64>(peeked, 0))), event)));
        using Kind = WebSocketFrames::Reader::Event::Kind;
        if (event.kind == Kind::Ping) {
            const std::string pong = WebSocketFrames::frame(WebSocketFrames::Pong, event.payload);
            m_socket->write(pong.data(), qint64(pong.size()));
        } else if (event.kind == Kind::Close) {
            closeWith(WebSocketFrames::CloseNormal);
        } else if (event.kind == Kind::Fault) {
            closeWith(event.code);
        }
    }
}

// The closing handshake: our close frame, then the TCP close once it is out (or soon anyway).
void EventClient::closeWith(std::uint16_t code)
{
    m_closing = true;
    const std::string frame = WebSocketFrames::closeFrame(code);
    m_socket->write(frame.data(), qint64(frame.size()));
    m_socket->disconnectFromHost();
    m_closeTimer.start(CloseGraceMs);
}

void EventClient::finish()
{
    if (m_finished)
        return;
    m_finished = true;
    m_closing = true;
    emit closed();
}
