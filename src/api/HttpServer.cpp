#include "HttpServer.h"

#include <algorithm>

#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkInterface>
#include <QTcpSocket>
#include <QTimer>

#include "AppError.h"
#include "HttpConnection.h"
#include "HttpRequestParser.h"

namespace {

constexpr const char* MethodText = "method not allowed here";
constexpr const char* QueryTooLongText = "query string too long";
constexpr const char* ForeignHostText
    = "this server does not answer for that Host; start it with --http-host NAME to accept a name";
constexpr const char* ForeignOriginText = "requests that change the captured mail are taken from this server's "
                                          "own pages only (see --cors)";
constexpr const char* NoAnswerText = "the request was not answered";
constexpr const char* BusyText = "too many connections; try again later";
constexpr const char* LoopbackNames[] = {"localhost", "127.0.0.1", "[::1]"};

const QByteArray ApplicationJson = QByteArrayLiteral("application/json");

// How a Host field names the address: IPv6 in brackets, without a zone.
std::string hostName(QHostAddress address)
{
    address.setScopeId(QString());
    const std::string text = address.toString().toLower().toStdString();
    return address.protocol() == QAbstractSocket::IPv6Protocol ? "[" + text + "]" : text;
}

bool isTokenList(const std::string& text)
{
    return std::all_of(text.begin(), text.end(), [](char c) {
        return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '-' || c == ','
            || c == ' ';
    });
}

// A browser asks before a cross-origin request it may not send on its own (CORS preflight).
void grantPreflight(const HttpRequest& request, HttpResponder& responder)
{
    HttpFields fields{{"Access-Control-Allow-Methods", "GET, POST, PUT, DELETE"}, {"Access-Control-Max-Age", "600"}};
    if (const std::string* headers = request.field("Access-Control-Request-Headers"); headers && isTokenList(*headers))
        fields.emplace_back("Access-Control-Allow-Headers", QByteArray::fromStdString(*headers));
    responder.write({}, {}, HttpStatus::NoContent, fields);
}

} // namespace

HttpResponder::HttpResponder(HttpConnection* connection) : m_connection(connection)
{
}

HttpResponder::HttpResponder(HttpResponder&& other) noexcept : m_connection(std::exchange(other.m_connection, nullptr))
{
}

HttpResponder& HttpResponder::operator=(HttpResponder&& other) noexcept
{
    m_connection = std::exchange(other.m_connection, nullptr);
    return *this;
}

HttpConnection* HttpResponder::connection() const
{
    return static_cast<HttpConnection*>(m_connection.data());
}

HttpConnection* HttpResponder::take()
{
    return static_cast<HttpConnection*>(std::exchange(m_connection, nullptr).data());
}

void HttpResponder::write(QByteArray body, const QByteArray& contentType, HttpStatus status, const HttpFields& fields)
{
    if (HttpConnection* connection = take())
        connection->answer(int(status), fields, contentType, std::move(body));
}

void HttpResponder::writeShared(const std::shared_ptr<const std::string>& body, const QByteArray& contentType,
                                const HttpFields& fields)
{
    if (HttpConnection* connection = take())
        connection->answerShared(fields, contentType, body);
}

QTcpSocket* HttpResponder::upgrade(const HttpFields& fields)
{
    HttpConnection* connection = take();
    return connection ? connection->takeSocket(fields) : nullptr;
}

QByteArray errorJson(const char* text)
{
    return QJsonDocument(QJsonObject{{QStringLiteral("Error"), QString::fromUtf8(text)}})
        .toJson(QJsonDocument::Compact);
}

void writeError(HttpResponder& responder, HttpStatus status, const char* text)
{
    responder.write(errorJson(text), ApplicationJson, status);
}

HttpServer::HttpServer(AccessRules rules, HttpLimits limits, QObject* parent)
    : QObject(parent), m_rules(std::move(rules)), m_limits(limits), m_held(limits.maxHeldBytes)
{
    for (const char* name : LoopbackNames)
        m_rules.hosts.emplace_back(name);
    connect(&m_listener, &QTcpServer::newConnection, this, &HttpServer::acceptConnections);
}

HttpServer::~HttpServer()
{
    for (HttpConnection* connection : m_connections) {
        connection->disconnect(this);
        delete connection;
    }
}

bool HttpServer::listen(const QHostAddress& address, quint16 port)
{
    if (!m_listener.listen(address, port))
        return false;
    // Bound to every address, the server is reached by any of this machine's.
    const bool any
        = address == QHostAddress::Any || address == QHostAddress::AnyIPv4 || address == QHostAddress::AnyIPv6;
    const QList<QHostAddress> addresses = any ? QNetworkInterface::allAddresses() : QList<QHostAddress>{address};
    for (const QHostAddress& each : addresses)
        m_rules.hosts.push_back(hostName(each));
    return true;
}

void HttpServer::acceptConnections()
{
    while (QTcpSocket* socket = m_listener.nextPendingConnection()) {
        if (int(m_connections.size()) >= m_limits.maxConnections && !makeRoom()) {
            static const QByteArray Busy = errorJson(BusyText);
            socket->write("HTTP/1.1 503 Service Unavailable\r\nContent-Type: application/json\r\nContent-Length: "
                          + QByteArray::number(Busy.size()) + "\r\nConnection: close\r\n\r\n" + Busy);
            socket->disconnectFromHost();
            connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
            QTimer::singleShot(m_limits.writeTimeout, socket, [socket] {
                socket->abort();
                socket->deleteLater();
            });
            continue;
        }
        auto* connection = new HttpConnection(socket, *this);
        m_connections.push_back(connection);
        connect(connection, &HttpConnection::closed, this, [this, connection] { forget(connection); });
    }
}

// At the cap, the client that has sent nothing for the longest makes room: a keep-alive
// connection may go at any time, and a client that stalls in its request is the likeliest foe.
bool HttpServer::makeRoom()
{
    HttpConnection* oldest = nullptr;
    for (HttpConnection* connection : m_connections)
        if (connection->evictable() && (!oldest || connection->lastInput() < oldest->lastInput()))
            oldest = connection;
    if (!oldest)
        return false;
    oldest->close();
    return true;
}

void HttpServer::forget(HttpConnection* connection)
{
    std::erase(m_connections, connection);
    connection->deleteLater();
}

void HttpServer::dispatch(HttpConnection& connection, const HttpRequest& request)
{
    HttpFields common{{"X-Content-Type-Options", "nosniff"}};
    const std::string* granted = grantedOrigin(m_rules, request);
    if (granted) {
        common.emplace_back("Access-Control-Allow-Origin", QByteArray::fromStdString(*granted));
        common.emplace_back("Vary", "Origin");
    }
    connection.setCommonFields(std::move(common));
    HttpResponder responder(&connection);
    const Access access = checkAccess(m_rules, request);
    if (access != Access::Allowed)
        return writeError(responder,
                          access == Access::ForeignHost ? HttpStatus::MisdirectedRequest : HttpStatus::Forbidden,
                          access == Access::ForeignHost ? ForeignHostText : ForeignOriginText);
    if (request.query.size() > m_limits.maxQueryBytes)
        return writeError(responder, HttpStatus::UriTooLong, QueryTooLongText);
    if (granted && request.method == "OPTIONS" && request.field("Access-Control-Request-Method"))
        return grantPreflight(request, responder);
    // A preflight carries no credentials; everything else passes the gate.
    if (m_gate && !m_gate(request, responder))
        return;
    HttpRouter::Match match = HttpRouter::Match::NotFound;
    const HttpRouter::Handler* handler = m_router.find(request.method, pathSegments(request.path), match);
    if (!handler)
        return writeError(responder,
                          match == HttpRouter::Match::WrongMethod ? HttpStatus::MethodNotAllowed : HttpStatus::NotFound,
                          match == HttpRouter::Match::WrongMethod ? MethodText : NoEndpointText);
    // Nothing may throw into the event loop: a failure becomes a 500 with its description.
    try {
        (*handler)(request, responder);
    } catch (...) {
        writeError(responder, HttpStatus::InternalServerError, AppError::fromCurrentException().description().c_str());
    }
    writeError(responder, HttpStatus::InternalServerError, NoAnswerText);
}
