#include "ApiServer.h"

#include <cstdio>
#include <limits>

#include <QHttpServerRequest>
#include <QHttpServerResponder>
#include <QJsonArray>
#include <QJsonDocument>
#include <QPointer>
#include <QTcpSocket>
#include <QTimer>
#include <QUrlQuery>
#include <QWebSocket>

#include "ApiJson.h"
#include "AppError.h"
#include "BoundedTcpServer.h"
#include "CommandLine.h"
#include "ErrorReport.h"
#include "MessageView.h"
#include "ProductInfo.h"
#include "SocketControl.h"
#include "WebAssets.h"

namespace {

using Status = QHttpServerResponder::StatusCode;

constexpr const char* NotFoundText = "no such endpoint";
constexpr const char* MethodText = "method not allowed here";
constexpr const char* NoMessageText = "no such message";
constexpr const char* NoPartText = "no such part";
constexpr const char* QueryTooLongText = "query string too long";
constexpr const char* BodyTooLargeText = "request is too large";
constexpr const char* BadNumberText = "start, limit, count and timeout take whole numbers within range";
constexpr const char* BadJsonText = "the body must be a JSON object, with IDs a list of strings";
constexpr const char* NoMatchFormat = "no message matched within %1 seconds";
constexpr const char* BusyText = "too many requests are waiting; try again later";
constexpr const char* OkText = "ok";
constexpr const char* NoSearchText = "a search to delete by is needed";
constexpr const char* ExposureFormat
    = "Warning: the HTTP API listens on %1, not on loopback: anyone who can reach this address "
      "can read and delete the captured mail.";
constexpr const char* EventsPath = "/api/events";
constexpr const char* WebSocketOnlyText = "the event stream is a WebSocket";
constexpr const char* ApiFailedFormat = "quellpost: cannot serve the HTTP API on %s port %d: %s\n";
constexpr const char* UsersFailedFormat = "quellpost: cannot take the users of %s: %s\n";

const QByteArray TextPlain = QByteArrayLiteral("text/plain; charset=utf-8");

const QByteArray ApplicationJson = QByteArrayLiteral("application/json");

// Compact: a page of a thousand messages is read by programs, not people.
void sendJson(QHttpServerResponder& responder, const QJsonObject& object, Status status = Status::Ok)
{
    responder.write(QJsonDocument(object).toJson(QJsonDocument::Compact), ApplicationJson, status);
}

void writeAnswer(QHttpServerResponder& responder, const WebAnswer& answer)
{
    responder.writeStatusLine(Status(answer.status));
    for (const auto& [name, value] : answer.headers)
        responder.writeHeader(name, value);
    responder.writeHeader(QByteArrayLiteral("Content-Length"), QByteArray::number(answer.body.size()));
    responder.writeBody(answer.body);
}

void fail(QHttpServerResponder& responder, Status status, const char* text)
{
    sendJson(responder, ApiJson::error(text), status);
}

// Form encoding writes a blank as '+', which QUrlQuery would keep.
QUrlQuery queryOf(const QHttpServerRequest& request)
{
    QString text = request.url().query(QUrl::FullyEncoded);
    text.replace(QLatin1Char('+'), QLatin1String("%20"));
    return QUrlQuery(text);
}

// A whole number within [0, max], or the default when absent; nothing when malformed.
std::optional<int> number(const QUrlQuery& query, const char* name, int fallback, int max)
{
    const QString key = QString::fromLatin1(name);
    if (!query.hasQueryItem(key))
        return fallback;
    bool ok = false;
    const int value = query.queryItemValue(key).toInt(&ok);
    if (!ok || value < 0)
        return std::nullopt;
    return std::min(value, max);
}

std::vector<SearchTerm> termsOf(const QUrlQuery& query)
{
    return parseSearch(query.queryItemValue(QStringLiteral("query"), QUrl::FullyDecoded).toStdString());
}

} // namespace

// A request for a message that has not come yet: answered when one comes or the time is up.
struct ApiServer::Waiter {
    Waiter(QHttpServerResponder&& r) : responder(std::move(r)) { }
    QHttpServerResponder responder;
    std::vector<SearchTerm> terms;
    std::size_t count = 1;
    int seconds = 0;
    bool done = false;
    QTimer timer;
};

ApiServer::ApiServer(clsEmailStorage& store, QObject* parent) : QObject(parent), m_store(store), m_catalog(store)
{
    // Nothing may throw into the event loop: a failure becomes a 500 with its description.
    m_http.setMissingHandler([this](const QHttpServerRequest& request, QHttpServerResponder&& responder) {
        m_responderTaken = false;
        if (m_auth && !m_auth->allows(request.value(QByteArrayLiteral("Authorization"))))
            return writeAnswer(responder, BasicAuth::challenge());
        try {
            handle(request, responder);
        } catch (...) {
            const AppError error = AppError::FromCurrentException();
            if (!m_responderTaken)
                fail(responder, Status::InternalServerError, error.Description().c_str());
        }
    });
    // The HTTP server hands a WebSocket on only when a route takes the upgrade request: this one
    // takes it without answering, and answers a plain request with an error.
    m_http.route(QString::fromLatin1(EventsPath),
                 [this](const QHttpServerRequest& request, QHttpServerResponder&& responder) {
                     if (m_auth && !m_auth->allows(request.value(QByteArrayLiteral("Authorization"))))
                         return writeAnswer(responder, BasicAuth::challenge());
                     const bool upgrade
                         = request.value(QByteArrayLiteral("Upgrade")).compare("websocket", Qt::CaseInsensitive) == 0;
                     if (!upgrade)
                         fail(responder, Status::BadRequest, WebSocketOnlyText);
                 });
    connect(&m_http, &QAbstractHttpServer::newWebSocketConnection, this, &ApiServer::acceptEventClients);
    m_store.addObserver(this);
}

ApiServer::~ApiServer()
{
    m_store.removeObserver(this);
    // Waiting requests go unanswered: their connections close with the server.
    m_waiters.clear();
    for (QWebSocket* client : m_eventClients) {
        client->disconnect(this);
        delete client;
    }
}

void ApiServer::listen(const QHostAddress& address, int port)
{
    auto* tcp = new BoundedTcpServer(MaxRequestBodyBytes + MaxRequestHeaderBytes, this);
    if (!tcp->listen(address, quint16(port))) {
        const AppError error = ListenError(tcp->serverError(), port, tcp->errorString());
        delete tcp;
        throw error;
    }
    m_tcp = tcp;
    m_http.bind(tcp);
}

int ApiServer::port() const
{
    return m_tcp ? m_tcp->serverPort() : 0;
}

std::string ApiServer::exposureWarning(const QHostAddress& address)
{
    if (address.isLoopback())
        return {};
    return QString::fromLatin1(ExposureFormat).arg(address.toString()).toStdString();
}

void ApiServer::handle(const QHttpServerRequest& request, QHttpServerResponder& responder)
{
    using Method = QHttpServerRequest::Method;
    if (request.url().query(QUrl::FullyEncoded).size() > MaxQueryBytes)
        return fail(responder, Status::UriTooLong, QueryTooLongText);
    if (request.body().size() > MaxRequestBodyBytes)
        return fail(responder, Status::PayloadTooLarge, BodyTooLargeText);
    const QString path = request.url().path();
    const QStringList parts = path.split(QLatin1Char('/'), Qt::SkipEmptyParts);
    const Method method = request.method();
    const QUrlQuery query = queryOf(request);
    if (method == Method::Get) {
        std::optional<WebAnswer> page = WebAssets::find(path);
        if (page || (page = MessageView::answer(m_store, m_catalog, path, query)))
            return writeAnswer(responder, *page);
    }

    if (path == QLatin1String("/api/v1/messages") || path == QLatin1String("/api/v1/search")) {
        const bool search = parts[2] == QLatin1String("search");
        if (method == Method::Delete) {
            if (!search)
                return deleteMessages(request, responder);
            const std::vector<SearchTerm> terms = termsOf(query);
            // An empty search matches everything: deleting all takes DELETE /api/v1/messages.
            if (terms.empty())
                return fail(responder, Status::BadRequest, NoSearchText);
            const std::vector<std::int16_t> found = m_catalog.search(terms);
            // Newest first: removing from the back keeps the other positions valid.
            for (std::int16_t position : found)
                m_store.RemoveEmail(position);
            return responder.write(QByteArray(OkText), TextPlain);
        }
        if (method != Method::Get)
            return fail(responder, Status::MethodNotAllowed, MethodText);
        const auto start = number(query, "start", 0, std::numeric_limits<int>::max());
        const auto limit = number(query, "limit", DefaultPageSize, MaxPageSize);
        if (!start || !limit)
            return fail(responder, Status::BadRequest, BadNumberText);
        if (!search)
            return sendJson(responder, ApiJson::listPage(m_store, m_catalog, std::size_t(*start), std::size_t(*limit)));
        return sendJson(responder,
                        ApiJson::page(m_store, m_catalog, m_catalog.search(termsOf(query)), std::size_t(*start),
                                      std::size_t(*limit)));
    }
    if (parts.size() >= 4 && parts[0] == QLatin1String("api") && parts[1] == QLatin1String("v1")
        && parts[2] == QLatin1String("message")) {
        if (method != Method::Get)
            return fail(responder, Status::MethodNotAllowed, MethodText);
        return handleMessage(parts, responder);
    }
    if (path == QLatin1String("/api/wait")) {
        if (method != Method::Get)
            return fail(responder, Status::MethodNotAllowed, MethodText);
        return wait(request, responder);
    }
    if (path == QLatin1String("/api/v1/info")) {
        if (method != Method::Get)
            return fail(responder, Status::MethodNotAllowed, MethodText);
        const auto count = double(m_store.Count());
        return sendJson(responder,
                        QJsonObject{
                            {QStringLiteral("Version"), QString::fromLatin1(ProductInfo::VersionText)},
                            {QStringLiteral("LatestVersion"), QString()},
                            {QStringLiteral("Database"), QString()},
                            {QStringLiteral("DatabaseSize"), 0},
                            {QStringLiteral("Messages"), count},
                            {QStringLiteral("Unread"), count - double(m_catalog.readCount())},
                            {QStringLiteral("Tags"), QJsonObject()},
                            {QStringLiteral("RuntimeStats"),
                             QJsonObject{{QStringLiteral("Memory"), double(m_store.Budget().used())}}},
                        });
    }
    fail(responder, Status::NotFound, NotFoundText);
}

void ApiServer::handleMessage(const QStringList& parts, QHttpServerResponder& responder)
{
    const std::int16_t position = m_catalog.positionOf(parts[3].toStdString());
    if (position < 1)
        return fail(responder, Status::NotFound, NoMessageText);
    const QString what = parts.size() > 4 ? parts[4] : QString();
    if (parts.size() == 4)
        return sendJson(responder, ApiJson::summary(m_store, m_catalog, position));
    const std::string& raw = m_store.EmailBody(position);
    if (parts.size() == 5 && what == QLatin1String("raw"))
        return responder.write(QByteArray(raw.data(), qsizetype(raw.size())), TextPlain);
    if (parts.size() == 5 && what == QLatin1String("headers"))
        return sendJson(responder, ApiJson::headers(Mime::parse(raw)));
    if (parts.size() == 6 && what == QLatin1String("part")) {
        const std::string partId = parts[5].toStdString();
        const std::optional<std::string> content = Mime::partContent(raw, partId);
        if (!content)
            return fail(responder, Status::NotFound, NoPartText);
        QByteArray type = QByteArrayLiteral("application/octet-stream");
        const Mime::Message message = Mime::parse(raw);
        for (const auto* list : {&message.attachments, &message.inlineParts})
            for (const Mime::Part& part : *list)
                if (part.partId == partId && !part.contentType.empty())
                    type = QByteArray::fromStdString(part.contentType);
        return responder.write(QByteArray(content->data(), qsizetype(content->size())), type);
    }
    fail(responder, Status::NotFound, NotFoundText);
}

void ApiServer::deleteMessages(const QHttpServerRequest& request, QHttpServerResponder& responder)
{
    std::vector<std::string> ids;
    const QByteArray body = request.body().trimmed();
    if (!body.isEmpty()) {
        QJsonParseError parseError;
        const QJsonDocument document = QJsonDocument::fromJson(body, &parseError);
        if (!document.isObject())
            return fail(responder, Status::BadRequest, BadJsonText);
        const QJsonValue list = document.object().value(QStringLiteral("IDs"));
        if (!list.isUndefined() && !list.isNull() && !list.isArray())
            return fail(responder, Status::BadRequest, BadJsonText);
        for (const QJsonValue& id : list.toArray()) {
            if (!id.isString())
                return fail(responder, Status::BadRequest, BadJsonText);
            ids.push_back(id.toString().toStdString());
        }
    }
    if (ids.empty()) {
        m_store.Clear();
    } else {
        // Unknown ids are skipped: a message may have gone meanwhile, and the result is the same.
        for (const std::string& id : ids)
            if (const std::int16_t position = m_catalog.positionOf(id); position >= 1 && id != "latest")
                m_store.RemoveEmail(position);
    }
    responder.write(QByteArray(OkText), TextPlain);
}

void ApiServer::wait(const QHttpServerRequest& request, QHttpServerResponder& responder)
{
    const QUrlQuery query = queryOf(request);
    const auto seconds = number(query, "timeout", DefaultWaitSeconds, MaxWaitSeconds);
    const auto count = number(query, "count", 1, std::numeric_limits<std::int16_t>::max());
    if (!seconds || !count || *count < 1)
        return fail(responder, Status::BadRequest, BadNumberText);
    std::vector<SearchTerm> terms = termsOf(query);
    const std::vector<std::int16_t> found = m_catalog.search(terms);
    if (found.size() >= std::size_t(*count))
        return sendJson(responder, ApiJson::page(m_store, m_catalog, found, 0, DefaultPageSize));
    if (*seconds == 0)
        return fail(responder, Status::NotFound, QString::fromLatin1(NoMatchFormat).arg(0).toUtf8().constData());
    if (m_waiters.size() >= MaxWaiters)
        return fail(responder, Status::ServiceUnavailable, BusyText);

    QTcpSocket* socket = responder.socket();
    m_responderTaken = true;
    auto waiter = std::make_unique<Waiter>(std::move(responder));
    Waiter* raw = waiter.get();
    raw->terms = std::move(terms);
    raw->count = std::size_t(*count);
    raw->seconds = *seconds;
    raw->timer.setSingleShot(true);
    connect(&raw->timer, &QTimer::timeout, this, [this, raw] {
        const QByteArray text = QString::fromLatin1(NoMatchFormat).arg(raw->seconds).toUtf8();
        fail(raw->responder, Status::NotFound, text.constData());
        finish(raw);
    });
    // A client that gives up takes its socket with it: the answer must not outlive it.
    connect(socket, &QTcpSocket::disconnected, &raw->timer, [this, raw] { finish(raw); });
    raw->timer.start(std::chrono::seconds(*seconds));
    m_waiters.push_back(std::move(waiter));
}

void ApiServer::answerWaiters(std::int16_t position)
{
    for (const std::unique_ptr<Waiter>& waiter : m_waiters) {
        if (waiter->done || !m_catalog.matches(position, waiter->terms))
            continue;
        const std::vector<std::int16_t> found = m_catalog.search(waiter->terms);
        if (found.size() >= waiter->count) {
            sendJson(waiter->responder, ApiJson::page(m_store, m_catalog, found, 0, DefaultPageSize));
            finish(waiter.get());
        }
    }
}

// Answered or abandoned: it goes once control is back in the event loop, never inside the
// signal of its own timer or socket.
void ApiServer::finish(Waiter* waiter)
{
    if (waiter->done)
        return;
    waiter->done = true;
    waiter->timer.stop();
    QMetaObject::invokeMethod(
        this,
        [this, waiter] {
            m_waiters.remove_if([waiter](const std::unique_ptr<Waiter>& w) { return w.get() == waiter; });
        },
        Qt::QueuedConnection);
}

void ApiServer::acceptEventClients()
{
    while (m_http.hasPendingWebSocketConnections()) {
        std::unique_ptr<QWebSocket> client = m_http.nextPendingWebSocketConnection();
        if (!client)
            continue;
        if (client->requestUrl().path() != QLatin1String(EventsPath)
            || m_eventClients.size() >= std::size_t(MaxEventClients)) {
            client->close(QWebSocketProtocol::CloseCodePolicyViolated);
            client.release()->deleteLater();
            continue;
        }
        QWebSocket* socket = client.release();
        m_eventClients.push_back(socket);
        connect(socket, &QWebSocket::disconnected, this, [this, socket] {
            std::erase(m_eventClients, socket);
            socket->deleteLater();
        });
    }
}

void ApiServer::broadcast(const QJsonObject& event)
{
    const QString text = QString::fromUtf8(QJsonDocument(event).toJson(QJsonDocument::Compact));
    for (QWebSocket* client : m_eventClients)
        client->sendTextMessage(text);
}

void ApiServer::emailStored(std::int16_t position)
{
    // Told from inside the store's append: a failure here must not read as the store's own.
    Trapped("ApiServer::emailStored", [&] {
        if (!m_waiters.empty())
            answerWaiters(position);
        if (!m_eventClients.empty())
            broadcast(QJsonObject{{QStringLiteral("Type"), QStringLiteral("new")},
                                  {QStringLiteral("Data"), ApiJson::listItem(m_store, m_catalog, position)}});
    });
}

void ApiServer::emailRemoved(std::int16_t, std::uint64_t id)
{
    m_catalog.forget(id);
    if (!m_eventClients.empty())
        broadcast(
            QJsonObject{{QStringLiteral("Type"), QStringLiteral("delete")},
                        {QStringLiteral("Data"),
                         QJsonObject{{QStringLiteral("ID"), QString::fromStdString(MessageCatalog::idText(id))}}}});
}

void ApiServer::emailsCleared()
{
    m_catalog.clear();
    if (!m_eventClients.empty())
        broadcast(
            QJsonObject{{QStringLiteral("Type"), QStringLiteral("truncate")}, {QStringLiteral("Data"), QJsonValue()}});
}

std::unique_ptr<ApiServer> startApiServer(clsEmailStorage& store, const CommandLineOptions& options)
{
    const ListenAddress& where = *options.Http;
    const QHostAddress address(QString::fromStdString(where.host));
    auto api = std::make_unique<ApiServer>(store);
    if (options.HttpUsersFile) {
        std::string error;
        std::optional<Htpasswd> users = Htpasswd::load(*options.HttpUsersFile, error);
        if (!users) {
            std::fprintf(stderr, UsersFailedFormat, options.HttpUsersFile->c_str(), error.c_str());
            return nullptr;
        }
        api->requireLogin(std::move(*users));
    }
    try {
        api->listen(address, where.port);
    } catch (const AppError& error) {
        std::fprintf(stderr, ApiFailedFormat, where.host.c_str(), where.port, error.Description().c_str());
        return nullptr;
    }
    if (const std::string warning = ApiServer::exposureWarning(address); !warning.empty())
        std::fprintf(stderr, "quellpost: %s\n", warning.c_str());
    return api;
}
