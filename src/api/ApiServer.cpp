#include "ApiServer.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <limits>

#include <QJsonArray>
#include <QJsonDocument>
#include <QRegularExpression>
#include <QTimeZone>
#include <QTcpSocket>
#include <QTimer>
#include <QUrlQuery>

#include "ApiJson.h"
#include "AppError.h"
#include "ErrorReport.h"
#include "EventClient.h"
#include "EventStream.h"
#include "HttpConnection.h"
#include "Latin1Text.h"
#include "MessageView.h"
#include "SendRequest.h"
#include "MimeDocument.h"
#include "ProductInfo.h"
#include "SocketControl.h"
#include "WebAssets.h"

namespace {

using Status = HttpStatus;

constexpr const char* NotFoundText = NoEndpointText;
constexpr const char* NoMessageText = "no such message";
constexpr const char* NoPartText = "no such part";
constexpr const char* BadNumberText = "start, limit, count and timeout take whole numbers within range";
constexpr const char* BadJsonText = "the body must be a JSON object, with IDs a list of strings";
constexpr const char* NoMatchFormat = "no message matched within %1 seconds";
constexpr const char* BusyText = "too many requests are waiting; try again later";
constexpr const char* OkText = "ok";
constexpr const char* NoSearchText = "a search to delete by is needed";
constexpr const char* ExposureFormat
    = "Warning: the HTTP API listens on %1, not on loopback: anyone who can reach this address "
      "can read and delete the captured mail.";
constexpr const char* TooManyClientsText = "too many event clients; try again later";
constexpr const char* StoreRefusedText = "the message cannot be stored: the store is full";
constexpr const char* BadZoneFormat = "unknown time zone \"%1\" (an IANA name such as Europe/Berlin)";

const QByteArray TextPlain = QByteArrayLiteral("text/plain; charset=utf-8");

const QByteArray ApplicationJson = QByteArrayLiteral("application/json");

// Compact: a page of a thousand messages is read by programs, not people.
void sendJson(HttpResponder& responder, const QJsonObject& object, Status status = Status::Ok)
{
    responder.write(QJsonDocument(object).toJson(QJsonDocument::Compact), ApplicationJson, status);
}

// An answer of the browser-facing side, whose fields carry its Content-Type.
void writeAnswer(HttpResponder& responder, const WebAnswer& answer)
{
    QByteArray type;
    HttpFields fields;
    for (const auto& [name, value] : answer.headers) {
        if (name.compare("Content-Type", Qt::CaseInsensitive) == 0)
            type = value;
        else if (name.compare("X-Content-Type-Options", Qt::CaseInsensitive) != 0) // the server sends it always
            fields.emplace_back(name, value);
    }
    responder.write(answer.body, type, Status(answer.status), fields);
}

void fail(HttpResponder& responder, Status status, const char* text)
{
    sendJson(responder, ApiJson::error(text), status);
}

// Form encoding writes a blank as '+', which QUrlQuery would keep.
QUrlQuery queryOf(const HttpRequest& request)
{
    QString text = QString::fromUtf8(request.query.data(), qsizetype(request.query.size()));
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

// Where a page starts and how long it is; nothing when malformed.
std::optional<std::pair<std::size_t, std::size_t>> pageOf(const QUrlQuery& query)
{
    const auto start = number(query, "start", 0, std::numeric_limits<int>::max());
    const auto limit = number(query, "limit", DefaultPageSize, MaxPageSize);
    if (!start || !limit)
        return std::nullopt;
    return std::pair(std::size_t(*start), std::size_t(*limit));
}

// A date without an offset is read in the zone tz names, else in this machine's.
Search::LocalZone zoneOf(const QTimeZone& zone)
{
    return [zone](const Search::CivilTime& t) {
        return QDateTime(QDate(t.year, t.month, t.day), QTime(t.hour, t.minute, std::min(t.second, 59), t.millisecond),
                         zone)
            .toMSecsSinceEpoch();
    };
}

// The search of the query's "query" (and "tz"); the error names what cannot be read.
Search::Query termsOf(const QUrlQuery& query)
{
    QTimeZone zone = QTimeZone::systemTimeZone();
    if (const QString tz = query.queryItemValue(QStringLiteral("tz"), QUrl::FullyDecoded); !tz.isEmpty()) {
        // The name becomes a path below the zone database: never one that leaves it.
        static const QRegularExpression ZoneName(QStringLiteral("^[A-Za-z][A-Za-z0-9_+-]*(/[A-Za-z0-9_+-]+)*$"));
        zone = tz.size() <= 64 && ZoneName.match(tz).hasMatch() ? QTimeZone(tz.toUtf8()) : QTimeZone();
        if (!zone.isValid())
            return {{}, QString::fromLatin1(BadZoneFormat).arg(tz).toStdString()};
    }
    return Search::parseQuery(query.queryItemValue(QStringLiteral("query"), QUrl::FullyDecoded).toStdString(),
                              zoneOf(zone));
}

// A type the mail declares, if it is one: anything else could break the answer's header.
QByteArray contentTypeOf(const std::string& type)
{
    const bool valid = std::count(type.begin(), type.end(), '/') == 1 && type.front() != '/' && type.back() != '/'
        && std::all_of(type.begin(), type.end(), [](char c) {
                           return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || std::strchr("!#$&^_.+-/", c);
                       });
    return valid ? QByteArray::fromStdString(type) : QByteArrayLiteral("application/octet-stream");
}

// Served from the API's origin, a part or a source is a download, never a page: a browser
// neither runs it nor guesses another type, and opens pictures at most.
HttpFields inertFields(const QByteArray& type, const std::string& fileName)
{
    static const QByteArrayList Pictures{"image/png",  "image/jpeg", "image/gif",
                                         "image/webp", "image/bmp",  "image/avif"};
    QByteArray disposition = Pictures.contains(type) ? "inline" : "attachment";
    if (!fileName.empty()) {
        QByteArray fallback = QByteArray::fromStdString(fileName);
        for (char& c : fallback)
            if (c < ' ' || c > '~' || c == '"' || c == '\\' || c == '%')
                c = '_';
        disposition += "; filename=\"" + fallback + "\"; filename*=UTF-8''"
            + QByteArray::fromStdString(fileName).toPercentEncoding();
    }
    return {{"Content-Disposition", disposition}, {"Content-Security-Policy", "sandbox"}};
}

} // namespace

// A request for a message that has not come yet: answered when one comes or the time is up.
struct ApiServer::Waiter {
    Waiter(HttpResponder&& r) : responder(std::move(r)) { }
    HttpResponder responder;
    std::vector<Search::Term> terms;
    std::size_t count = 1;
    // Matches so far, kept as messages come so that an arrival costs one match, not a search;
    // never fewer than there are, as removals are not subtracted.
    std::size_t matched = 0;
    int seconds = 0;
    bool done = false;
    QTimer timer;
};

// The route table: every row's handler answers, or keeps the responder to answer later.
const ApiServer::Route ApiServer::Routes[] = {
    {"GET", "/api/v1/messages", &ApiServer::listMessages},
    {"DELETE", "/api/v1/messages", &ApiServer::deleteMessages},
    {"GET", "/api/v1/search", &ApiServer::searchMessages},
    {"DELETE", "/api/v1/search", &ApiServer::deleteSearch},
    {"GET", "/api/v1/message/*", &ApiServer::message},
    {"GET", "/api/v1/info", &ApiServer::info},
    {"GET", "/api/wait", &ApiServer::wait},
    {"GET", "/api/events", &ApiServer::events},
    {"GET", "/", &ApiServer::page},
    {"GET", "/assets/*", &ApiServer::page},
    {"GET", "/view/*", &ApiServer::view},
    {"POST", "/api/v1/send", &ApiServer::send},
    {"GET", "/livez", &ApiServer::health},
    {"GET", "/readyz", &ApiServer::health},
};

ApiServer::ApiServer(clsEmailStorage& store, AccessRules rules, HttpLimits limits, QObject* parent)
    : QObject(parent), m_store(store), m_catalog(store), m_http(std::move(rules), limits),
      m_events(std::make_unique<EventStream>(m_store, m_catalog))
{
    for (const Route& route : Routes)
        addRoute(route.method, route.pattern,
                 [this, handler = route.handler](const HttpRequest& request, HttpResponder& responder) {
                     (this->*handler)(request, responder);
                 });
    m_store.addObserver(this);
}

ApiServer::~ApiServer()
{
    m_store.removeObserver(this);
    // Waiting requests go unanswered: their connections close with the server.
    m_waiters.clear();
    m_events->dispose(m_catalog.takeAll());
}

void ApiServer::listen(const QHostAddress& address, int port)
{
    if (!m_http.listen(address, quint16(port)))
        throw listenError(m_http.listener().serverError(), port, m_http.listener().errorString());
}

int ApiServer::port() const
{
    return m_http.listener().isListening() ? m_http.listener().serverPort() : 0;
}

void ApiServer::addRoute(std::string method, std::string_view pattern, HttpRouter::Handler handler)
{
    m_http.router().add(std::move(method), pattern, std::move(handler));
}

std::string ApiServer::exposureWarning(const QHostAddress& address)
{
    if (address.isLoopback())
        return {};
    return QString::fromLatin1(ExposureFormat).arg(address.toString()).toStdString();
}

void ApiServer::listMessages(const Request& request, Responder& responder)
{
    const auto page = pageOf(queryOf(request));
    if (!page)
        return fail(responder, Status::BadRequest, BadNumberText);
    sendJson(responder, ApiJson::listPage(m_store, m_catalog, page->first, page->second));
}

void ApiServer::searchMessages(const Request& request, Responder& responder)
{
    const QUrlQuery query = queryOf(request);
    const auto page = pageOf(query);
    if (!page)
        return fail(responder, Status::BadRequest, BadNumberText);
    const Search::Query search = termsOf(query);
    if (!search.error.empty())
        return fail(responder, Status::BadRequest, search.error.c_str());
    sendJson(responder, ApiJson::page(m_store, m_catalog, m_catalog.search(search.terms), page->first, page->second));
}

void ApiServer::deleteSearch(const Request& request, Responder& responder)
{
    const Search::Query search = termsOf(queryOf(request));
    if (!search.error.empty())
        return fail(responder, Status::BadRequest, search.error.c_str());
    // An empty search matches everything: deleting all takes DELETE /api/v1/messages.
    if (search.terms.empty())
        return fail(responder, Status::BadRequest, NoSearchText);
    const std::vector<std::int16_t> found = m_catalog.search(search.terms);
    // Newest first: removing from the back keeps the other positions valid.
    for (std::int16_t position : found)
        m_store.RemoveEmail(position);
    responder.write(QByteArray(OkText), TextPlain);
}

void ApiServer::info(const Request&, Responder& responder)
{
    const auto count = double(m_store.Count());
    sendJson(
        responder,
        QJsonObject{
            {QStringLiteral("Version"), QString::fromLatin1(ProductInfo::VersionText)},
            {QStringLiteral("LatestVersion"), QString()},
            {QStringLiteral("Database"), QString()},
            {QStringLiteral("DatabaseSize"), 0},
            {QStringLiteral("Messages"), count},
            {QStringLiteral("Unread"), count - double(m_store.readCount())},
            {QStringLiteral("Tags"), QJsonObject()},
            {QStringLiteral("RuntimeStats"), QJsonObject{{QStringLiteral("Memory"), double(m_store.budget().used())}}},
        });
}

void ApiServer::requireLogin(Htpasswd users)
{
    m_auth = std::make_unique<BasicAuth>(std::move(users));
    m_http.setGate([this](const Request& request, Responder& responder) {
        // Container health checks carry no login.
        if (request.path == "/livez" || request.path == "/readyz")
            return true;
        const std::string* authorization = request.field("Authorization");
        if (m_auth->allows(authorization ? QByteArray::fromStdString(*authorization) : QByteArray()))
            return true;
        writeAnswer(responder, BasicAuth::challenge());
        return false;
    });
}

void ApiServer::page(const Request& request, Responder& responder)
{
    const QString path = QUrl::fromPercentEncoding(QByteArray::fromStdString(request.path));
    if (const std::optional<WebAnswer> answer = WebAssets::find(path))
        return writeAnswer(responder, *answer);
    fail(responder, Status::NotFound, NotFoundText);
}

void ApiServer::view(const Request& request, Responder& responder)
{
    message(request, responder);
}

void ApiServer::health(const Request&, Responder& responder)
{
    responder.write(QByteArray(), TextPlain);
}

void ApiServer::message(const Request& request, Responder& responder)
{
    const QString path = QUrl::fromPercentEncoding(QByteArray::fromStdString(request.path));
    const QUrlQuery query = queryOf(request);
    const Search::Query search = termsOf(query);
    if (!search.error.empty())
        return fail(responder, Status::BadRequest, search.error.c_str());
    const auto locate = [&](const std::string& id) { return m_catalog.positionOf(id, search.terms); };
    if (const std::optional<WebAnswer> answer = MessageView::answer(m_store, locate, path, query))
        return writeAnswer(responder, *answer);
    const QStringList parts = path.split(QLatin1Char('/'), Qt::SkipEmptyParts);
    if (parts.size() < 4 || parts[0] != QLatin1String("api"))
        return fail(responder, Status::NotFound, NotFoundText);
    handleMessage(parts, locate(parts[3].toStdString()), responder);
}

void ApiServer::handleMessage(const QStringList& parts, std::int16_t position, Responder& responder)
{
    if (position < 1)
        return fail(responder, Status::NotFound, NoMessageText);
    const QString what = parts.size() > 4 ? parts[4] : QString();
    if (parts.size() == 4)
        return summary(position, responder);
    const std::string& raw = m_store.EmailBody(position);
    if (parts.size() == 5 && what == QLatin1String("raw"))
        return responder.writeShared(
            m_store.emailBodyShared(position), TextPlain,
            inertFields(TextPlain, MessageCatalog::idText(m_store.emailId(position)) + ".eml"));
    if (parts.size() == 5 && what == QLatin1String("headers"))
        return sendJson(responder, ApiJson::headers(Mime::parse(raw)));
    if (parts.size() == 6 && what == QLatin1String("part")) {
        const std::string partId = parts[5].toStdString();
        const Mime::Document document(m_store.emailBodyShared(position));
        const std::optional<std::string> content = document.partContent(partId);
        if (!content)
            return fail(responder, Status::NotFound, NoPartText);
        QByteArray type = QByteArrayLiteral("application/octet-stream");
        std::string fileName;
        const Mime::Message& message = document.message();
        for (const auto* list : {&message.attachments, &message.inlineParts})
            for (const Mime::Part& part : *list)
                if (part.partId == partId && !part.contentType.empty()) {
                    type = contentTypeOf(part.contentType);
                    fileName = part.fileName;
                }
        return responder.write(QByteArray(content->data(), qsizetype(content->size())), type, Status::Ok,
                               inertFields(type, fileName));
    }
    fail(responder, Status::NotFound, NotFoundText);
}

void ApiServer::summary(std::int16_t position, Responder& responder)
{
    // Marks it read: the store tells the event stream (emailMarkedRead).
    sendJson(responder, ApiJson::summary(m_store, position));
}

void ApiServer::send(const Request& request, Responder& responder)
{
    std::string error;
    const std::optional<SendRequest> sent
        = readSendRequest(QByteArrayView(request.body.data(), qsizetype(request.body.size())), error);
    if (!sent)
        return fail(responder, Status::BadRequest, error.c_str());
    // As SMTP stores it: the paths in angle brackets, the recipients joined as they arrived.
    std::string recipients;
    for (const std::string& recipient : sent->recipients)
        recipients += concat({recipients.empty() ? "" : ", ", "<", recipient, ">"});
    // The login the request carried stands for the SMTP login, as the peer API has it.
    std::string user;
    if (const std::string* authorization = request.field("Authorization");
        authorization && authorization->starts_with("Basic ")) {
        const QByteArray pair = QByteArray::fromBase64(QByteArray::fromStdString(authorization->substr(6)));
        user = pair.left(std::max<qsizetype>(pair.indexOf(':'), 0)).toStdString();
    }
    std::int16_t position = 0;
    try {
        position = m_store.StoreEmail("<" + sent->sender + ">", std::move(recipients), Mime::compose(sent->message),
                                      std::move(user));
    } catch (...) {
        return fail(responder, Status::ServiceUnavailable, StoreRefusedText);
    }
    sendJson(
        responder,
        QJsonObject{{QStringLiteral("ID"), QString::fromStdString(MessageCatalog::idText(m_store.emailId(position)))}});
}

void ApiServer::deleteMessages(const Request& request, Responder& responder)
{
    std::vector<std::string> ids;
    const QByteArray body = QByteArray::fromRawData(request.body.data(), qsizetype(request.body.size())).trimmed();
    if (!body.isEmpty()) {
        QJsonParseError parseError;
        const QJsonDocument document = QJsonDocument::fromJson(body, &parseError);
        if (!document.isObject())
            return fail(responder, Status::BadRequest, BadJsonText);
        const QJsonValue list = document.object().value(QStringLiteral("IDs"));
        if (!list.isUndefined() && !list.isNull() && !list.isArray())
            return fail(responder, Status::BadRequest, BadJsonText);
        for (const auto& id : list.toArray()) {
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

void ApiServer::wait(const Request& request, Responder& responder)
{
    const QUrlQuery query = queryOf(request);
    const auto seconds = number(query, "timeout", DefaultWaitSeconds, MaxWaitSeconds);
    const auto count = number(query, "count", 1, std::numeric_limits<std::int16_t>::max());
    if (!seconds || !count || *count < 1)
        return fail(responder, Status::BadRequest, BadNumberText);
    Search::Query search = termsOf(query);
    if (!search.error.empty())
        return fail(responder, Status::BadRequest, search.error.c_str());
    std::vector<Search::Term> terms = std::move(search.terms);
    const std::vector<std::int16_t> found = m_catalog.search(terms);
    if (found.size() >= std::size_t(*count))
        return sendJson(responder, ApiJson::page(m_store, m_catalog, found, 0, DefaultPageSize));
    if (*seconds == 0)
        return fail(responder, Status::NotFound, QString::fromLatin1(NoMatchFormat).arg(0).toUtf8().constData());
    if (m_waiters.size() >= MaxWaiters)
        return fail(responder, Status::ServiceUnavailable, BusyText);

    HttpConnection* connection = responder.connection();
    auto waiter = std::make_unique<Waiter>(std::move(responder));
    Waiter* raw = waiter.get();
    raw->terms = std::move(terms);
    raw->count = std::size_t(*count);
    raw->matched = found.size();
    raw->seconds = *seconds;
    raw->timer.setSingleShot(true);
    connect(&raw->timer, &QTimer::timeout, this, [this, raw] {
        const QByteArray text = QString::fromLatin1(NoMatchFormat).arg(raw->seconds).toUtf8();
        fail(raw->responder, Status::NotFound, text.constData());
        finish(raw);
    });
    // A client that gives up takes its socket with it: the answer must not outlive it.
    connect(connection, &HttpConnection::closed, &raw->timer, [this, raw] { finish(raw); });
    raw->timer.start(std::chrono::seconds(*seconds));
    m_waiters.push_back(std::move(waiter));
}

void ApiServer::answerWaiters(std::int16_t position)
{
    const std::shared_ptr<const MessageFacts> facts = m_catalog.facts(position);
    for (const std::unique_ptr<Waiter>& waiter : m_waiters) {
        if (waiter->done || !m_catalog.matches(position, *facts, waiter->terms) || ++waiter->matched < waiter->count)
            continue;
        // Enough by the count: the search that makes the answer also corrects the count.
        const std::vector<std::int16_t> found = m_catalog.search(waiter->terms);
        waiter->matched = found.size();
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

void ApiServer::events(const Request& request, Responder& responder)
{
    if (m_events->clients() >= std::size_t(MaxEventClients))
        return fail(responder, Status::ServiceUnavailable, TooManyClientsText);
    // "?batch=1" and "?brief=1", our own inbox's choices: a batch of events in one message, and a
    // new message's event naming only its id (see EventStream).
    const QUrlQuery query = queryOf(request);
    const auto on = [&query](const QString& name) { return query.queryItemValue(name) == QStringLiteral("1"); };
    const EventStream::Form form{on(QStringLiteral("batch")), on(QStringLiteral("brief"))};
    if (QTcpSocket* socket = acceptWebSocket(request, responder))
        m_events->join(socket, form);
}

void ApiServer::emailStored(std::int16_t position)
{
    // Told from inside the store's append: a failure here must not read as the store's own.
    trapped("ApiServer::emailStored", [&] {
        if (!m_waiters.empty())
            answerWaiters(position);
        m_events->stored(m_store.emailId(position));
    });
}

void ApiServer::emailRemoved(std::int16_t, std::uint64_t id)
{
    m_catalog.forget(id);
    m_events->removed(id);
}

// Read here or in a window: lists open elsewhere show the message as read from now on.
void ApiServer::emailMarkedRead(std::int16_t, std::uint64_t id)
{
    m_events->read(id);
}

void ApiServer::emailsCleared()
{
    // Thousands of facts are freed on the stream's worker, not while the loop waits.
    m_events->dispose(m_catalog.takeAll());
    for (const std::unique_ptr<Waiter>& waiter : m_waiters)
        waiter->matched = 0;
    m_events->cleared();
}
