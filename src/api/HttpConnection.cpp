#include "HttpConnection.h"

#include <sys/socket.h>

#include <algorithm>

#include <QTcpSocket>

namespace {

constexpr const char* TimeoutText = "the request did not arrive in time";
constexpr const char* HeldFullText = "the server holds too much for its clients; try again later";
constexpr char ContinueLine[] = "HTTP/1.1 100 Continue\r\n\r\n";
// After a refusal the client may still be sending: reading it for a while lets the refusal
// reach the client before the close, which would otherwise reset the connection.
constexpr std::chrono::seconds LingerTime{2};

const QByteArray ApplicationJson = QByteArrayLiteral("application/json");

// One buffer for every connection: the event loop serves them one at a time.
char* scratch()
{
    static char buffer[OutputSliceBytes];
    return buffer;
}

const char* reasonPhrase(int status)
{
    switch (status) {
    case 101:
        return "Switching Protocols";
    case 200:
        return "OK";
    case 204:
        return "No Content";
    case 400:
        return "Bad Request";
    case 401:
        return "Unauthorized";
    case 403:
        return "Forbidden";
    case 404:
        return "Not Found";
    case 405:
        return "Method Not Allowed";
    case 408:
        return "Request Timeout";
    case 411:
        return "Length Required";
    case 413:
        return "Content Too Large";
    case 414:
        return "URI Too Long";
    case 421:
        return "Misdirected Request";
    case 431:
        return "Request Header Fields Too Large";
    case 500:
        return "Internal Server Error";
    case 502:
        return "Bad Gateway";
    case 503:
        return "Service Unavailable";
    case 505:
        return "HTTP Version Not Supported";
    default:
        return "Unknown";
    }
}

} // namespace

HttpConnection::HttpConnection(QTcpSocket* socket, HttpServer& server)
    : QObject(&server), m_socket(socket), m_server(server),
      m_parser(server.limits().maxHeaderBytes, server.limits().maxBodyBytes)
{
    socket->setParent(this);
    // Qt stops taking bytes from the system when this much waits unread: TCP then holds the client.
    socket->setReadBufferSize(OutputSliceBytes);
    m_requestCharge.setBudget(&server.held());
    m_answerCharge.setBudget(&server.held());
    m_timer.setSingleShot(true);
    connect(&m_timer, &QTimer::timeout, this, &HttpConnection::timedOut);
    connect(socket, &QTcpSocket::readyRead, this, &HttpConnection::readRequests);
    connect(socket, &QTcpSocket::bytesWritten, this, &HttpConnection::pump);
    connect(socket, &QTcpSocket::disconnected, this, &HttpConnection::finish);
    m_timer.start(server.limits().idleTimeout);
}

HttpConnection::~HttpConnection()
{
    if (m_socket)
        m_socket->disconnect(this);
}

bool HttpConnection::evictable() const
{
    return m_phase == Phase::Reading || m_phase == Phase::Lingering;
}

void HttpConnection::close()
{
    if (m_socket)
        m_socket->abort();
    finish();
}

void HttpConnection::readRequests()
{
    if (m_phase == Phase::Lingering)
        m_socket->skip(m_socket->bytesAvailable());
    while (m_phase == Phase::Reading && m_socket->bytesAvailable() > 0) {
        const bool started = m_parser.started();
        const qint64 peeked = m_socket->peek(scratch(), OutputSliceBytes);
        const std::size_t used = m_parser.feed(std::string_view(scratch(), std::size_t(std::max<qint64>(peeked, 0))));
        m_socket->skip(qint64(used));
        m_lastInput = std::chrono::steady_clock::now();
        if (!started && m_parser.started())
            m_timer.start(m_server.limits().headerTimeout);
        switch (m_parser.state()) {
        case HttpRequestParser::State::Header:
            break;
        case HttpRequestParser::State::Body:
            if (!m_bodyAdmitted && !admitBody())
                return;
            break;
        case HttpRequestParser::State::Complete:
            return serve();
        case HttpRequestParser::State::Refused:
            return refuse(m_parser.refusalStatus(), m_parser.refusalText());
        }
    }
}

// The body is held only when the shared pool has room for it.
bool HttpConnection::admitBody()
{
    if (!m_requestCharge.cover(m_parser.bodyLength())) {
        refuse(int(HttpStatus::ServiceUnavailable), HeldFullText);
        return false;
    }
    m_bodyAdmitted = true;
    m_timer.start(m_server.limits().bodyTimeout);
    const std::string* expect = m_parser.request().field("Expect");
    if (expect && m_parser.request().minorVersion == 1 && equalsFolded(*expect, "100-continue"))
        m_socket->write(ContinueLine, qint64(sizeof ContinueLine - 1));
    return true;
}

void HttpConnection::serve()
{
    m_phase = Phase::Serving;
    m_timer.stop();
    m_bodyAdmitted = false;
    {
        const HttpRequest request = m_parser.take();
        m_keepAlive = request.keepAlive();
        m_server.dispatch(*this, request);
    }
    m_requestCharge.reset();
}

void HttpConnection::refuse(int status, const char* text)
{
    m_keepAlive = false;
    m_linger = true;
    m_phase = Phase::Serving;
    answer(status, {}, ApplicationJson, errorJson(text));
}

void HttpConnection::answer(int status, const HttpFields& fields, const QByteArray& contentType, QByteArray body)
{
    if (m_phase != Phase::Serving)
        return;
    // A large answer waits in memory while the client reads it: it must fit the shared pool,
    // and one larger than the pool takes all of it.
    const auto length = std::size_t(body.size());
    if (qint64(length) > OutputSliceBytes && !m_answerCharge.cover(std::min(length, m_server.held().limit()))) {
        status = int(HttpStatus::ServiceUnavailable);
        body = errorJson(HeldFullText);
        writeHead(status, {}, ApplicationJson, body.size());
    } else {
        writeHead(status, fields, contentType, body.size());
    }
    m_body = std::move(body);
    m_length = m_body.size();
    m_offset = 0;
    m_phase = Phase::Writing;
    pump();
}

void HttpConnection::answerShared(const HttpFields& fields, const QByteArray& contentType,
                                  const std::shared_ptr<const std::string>& body)
{
    if (m_phase != Phase::Serving)
        return;
    writeHead(int(HttpStatus::Ok), fields, contentType, qint64(body->size()));
    m_shared = body;
    m_length = qint64(body->size());
    m_offset = 0;
    m_phase = Phase::Writing;
    pump();
}

QTcpSocket* HttpConnection::takeSocket(const HttpFields& fields)
{
    if (m_phase != Phase::Serving || !m_socket)
        return nullptr;
    writeHead(int(HttpStatus::SwitchingProtocols), fields, {}, 0);
    QTcpSocket* socket = m_socket;
    socket->disconnect(this);
    socket->setParent(nullptr);
    m_socket = nullptr;
    finish();
    return socket;
}

void HttpConnection::writeHead(int status, const HttpFields& fields, const QByteArray& contentType, qint64 length)
{
    QByteArray head = "HTTP/1.1 " + QByteArray::number(status) + ' ' + reasonPhrase(status) + "\r\n";
    if (!contentType.isEmpty())
        head += "Content-Type: " + contentType + "\r\n";
    // RFC 9110 8.6: no length on a 1xx or 204 answer.
    if (status >= 200 && status != int(HttpStatus::NoContent))
        head += "Content-Length: " + QByteArray::number(length) + "\r\n";
    for (const HttpFields* list : {static_cast<const HttpFields*>(&m_commonFields), &fields})
        for (const auto& [name, value] : *list)
            head += name + ": " + value + "\r\n";
    if (status >= 200)
        head += m_keepAlive ? "Connection: keep-alive\r\n" : "Connection: close\r\n";
    head += "\r\n";
    m_socket->write(head);
}

void HttpConnection::pump()
{
    if (m_phase == Phase::Lingering && m_socket->bytesToWrite() == 0)
        ::shutdown(int(m_socket->socketDescriptor()), SHUT_WR);
    if (m_phase != Phase::Writing)
        return;
    m_timer.start(m_server.limits().writeTimeout);
    while (m_offset < m_length && m_socket->bytesToWrite() < OutputSliceBytes) {
        const qint64 slice = std::min(OutputSliceBytes, m_length - m_offset);
        if (!m_body.isNull()) {
            m_socket->write(m_body.constData() + m_offset, slice);
        } else {
            // The store let the message go: the answer cannot be completed.
            const std::shared_ptr<const std::string> shared = m_shared.lock();
            if (!shared)
                return close();
            m_socket->write(shared->data() + m_offset, slice);
        }
        m_offset += slice;
    }
    if (m_offset < m_length || m_socket->bytesToWrite() > OutputSliceBytes)
        return;
    m_body = QByteArray();
    m_shared.reset();
    m_answerCharge.reset();
    if (m_linger) {
        m_phase = Phase::Lingering;
        m_timer.start(LingerTime);
        return pump();
    }
    if (!m_keepAlive) {
        m_phase = Phase::Closed;
        return m_socket->disconnectFromHost();
    }
    m_phase = Phase::Reading;
    m_lastInput = std::chrono::steady_clock::now();
    m_timer.start(m_server.limits().idleTimeout);
    // Back in the event loop first: a pipelined request answered at once would recurse.
    QMetaObject::invokeMethod(this, &HttpConnection::readRequests, Qt::QueuedConnection);
}

void HttpConnection::timedOut()
{
    if (m_phase == Phase::Reading && m_parser.started())
        return refuse(int(HttpStatus::RequestTimeout), TimeoutText);
    if (m_phase != Phase::Serving)
        close();
}

void HttpConnection::finish()
{
    if (m_finished)
        return;
    m_finished = true;
    m_phase = Phase::Closed;
    m_timer.stop();
    m_body = QByteArray();
    m_shared.reset();
    m_answerCharge.reset();
    emit closed();
}
