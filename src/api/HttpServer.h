#pragma once

#include <chrono>
#include <cstddef>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include <QByteArray>
#include <QHostAddress>
#include <QObject>
#include <QPointer>
#include <QTcpServer>

#include "ByteBudget.h"
#include "HttpRouter.h"
#include "RequestPolicy.h"

class HttpConnection;
class QTcpSocket;

enum class HttpStatus {
    SwitchingProtocols = 101,
    Ok = 200,
    NoContent = 204,
    BadRequest = 400,
    Unauthorized = 401,
    Forbidden = 403,
    NotFound = 404,
    MethodNotAllowed = 405,
    RequestTimeout = 408,
    LengthRequired = 411,
    PayloadTooLarge = 413,
    UriTooLong = 414,
    MisdirectedRequest = 421,
    RequestHeaderFieldsTooLarge = 431,
    InternalServerError = 500,
    BadGateway = 502,
    ServiceUnavailable = 503,
    HttpVersionNotSupported = 505,
};

// Header fields of an answer besides Content-Type, Content-Length and Connection.
using HttpFields = std::vector<std::pair<QByteArray, QByteArray>>;

// What one client may hold and how long it may take. Each connection holds at most a header
// and the unsent part of one answer; request bodies and large answers draw on one shared pool.
struct HttpLimits {
    std::size_t maxHeaderBytes = std::size_t{32} * 1024;
    std::size_t maxBodyBytes = std::size_t{1024} * 1024;
    std::size_t maxQueryBytes = std::size_t{8} * 1024;
    // Request bodies and answers larger than an output slice, all connections together; one
    // answer larger than this is served when nothing else is held.
    std::size_t maxHeldBytes = std::size_t{16} * 1024 * 1024;
    int maxConnections = 256;
    std::chrono::milliseconds idleTimeout{60000};   // keep-alive: no request begun
    std::chrono::milliseconds headerTimeout{10000}; // from a request's first byte to its header's end
    std::chrono::milliseconds bodyTimeout{30000};   // from the header's end to the body's
    std::chrono::milliseconds writeTimeout{60000};  // an answer that the client does not read
};

// Unsent output beyond which a connection reads nothing more; answers go out in slices of this size.
inline constexpr qint64 OutputSliceBytes = qint64{64} * 1024;

// The means to answer one request, now or later (it may be moved away and kept). An answer
// for a client that has gone is dropped.
class HttpResponder {
public:
    HttpResponder() = default;
    explicit HttpResponder(HttpConnection* connection);
    HttpResponder(HttpResponder&& other) noexcept;
    HttpResponder& operator=(HttpResponder&& other) noexcept;
    HttpResponder(const HttpResponder&) = delete;
    HttpResponder& operator=(const HttpResponder&) = delete;

    void write(QByteArray body, const QByteArray& contentType, HttpStatus status = HttpStatus::Ok,
               const HttpFields& fields = {});
    // Streams a body the store holds, in slices as the client reads; cut short if the store lets it go.
    void writeShared(const std::shared_ptr<const std::string>& body, const QByteArray& contentType,
                     const HttpFields& fields = {});
    // Sends the 101 answer and hands the socket over to the caller; null when the client is gone.
    QTcpSocket* upgrade(const HttpFields& fields);
    // Whether it still has a request to answer.
    bool pending() const { return !m_connection.isNull(); }
    // The connection's object, whose closed() says that the client went; null once answered.
    HttpConnection* connection() const;

private:
    HttpConnection* take();

    QPointer<QObject> m_connection;
};

// {"Error": text}: the body of every refusal.
QByteArray errorJson(const char* text);
void writeError(HttpResponder& responder, HttpStatus status, const char* text);

inline constexpr const char* NoEndpointText = "no such endpoint";

// An HTTP/1.1 server in the event loop: its own connections (bounded, timed, one request at a
// time), the access rules checked before any route, and a route table.
class HttpServer final : public QObject {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(HttpServer)
public:
    HttpServer(AccessRules rules, HttpLimits limits = {}, QObject* parent = nullptr);
    ~HttpServer() override;

    // Also accepts the address in Host fields (and, for an any-address, this machine's addresses).
    bool listen(const QHostAddress& address, quint16 port);
    QTcpServer& listener() { return m_listener; }
    const QTcpServer& listener() const { return m_listener; }
    HttpRouter& router() { return m_router; }
    const HttpLimits& limits() const { return m_limits; }
    ByteBudget& held() { return m_held; }
    const AccessRules& rules() const { return m_rules; }

    // Asked of every request that the access rules let through, before any route: false when
    // it has answered the request itself (a login that is wanted, say).
    using Gate = std::function<bool(const HttpRequest&, HttpResponder&)>;
    void setGate(Gate gate) { m_gate = std::move(gate); }

    // Called by a connection with a whole request.
    void dispatch(HttpConnection& connection, const HttpRequest& request);

private:
    void acceptConnections();
    bool makeRoom();
    void forget(HttpConnection* connection);

    AccessRules m_rules;
    HttpLimits m_limits;
    QTcpServer m_listener;
    HttpRouter m_router;
    ByteBudget m_held;
    Gate m_gate;
    std::vector<HttpConnection*> m_connections;
};
