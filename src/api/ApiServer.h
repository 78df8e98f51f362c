#pragma once

#include <cstdint>
#include <list>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <QHostAddress>
#include <QJsonObject>
#include <QObject>

#include "BasicAuth.h"
#include "HttpServer.h"
#include "MessageCatalog.h"
#include "clsEmailStorage.h"

class EventStream;

// Bounds on what a client may ask for; beyond them a request is refused with a 4xx. The bounds
// on what it may send and hold are the HTTP server's (HttpLimits).
inline constexpr int MaxPageSize = 1000;
inline constexpr int DefaultPageSize = 50;
inline constexpr int MaxWaitSeconds = 300;
inline constexpr int DefaultWaitSeconds = 30;
inline constexpr int MaxWaiters = 256;
inline constexpr int MaxEventClients = 64;

// The HTTP API over the store, in the capture server's event loop: the store sees no other
// thread, so nothing needs a lock. Told of every change to the store, whoever makes it.
class ApiServer : public QObject, private StoreObserver {
    Q_OBJECT
public:
    // rules: names and origins beyond loopback and the listening address that may use the API.
    explicit ApiServer(clsEmailStorage& store, AccessRules rules = {}, HttpLimits limits = {},
                       QObject* parent = nullptr);
    ~ApiServer() override;

    // Throws AppError when the address cannot be used.
    void listen(const QHostAddress& address, int port);
    int port() const;
    // From now on every request must log in as one of these users.
    void requireLogin(Htpasswd users);

    // The warning to print for an address others can reach; empty for loopback.
    static std::string exposureWarning(const QHostAddress& address);

    // Another row of the route table (the web pages'), checked after the API's own rows.
    void addRoute(std::string method, std::string_view pattern, HttpRouter::Handler handler);

private:
    struct Waiter;
    using Request = HttpRequest;
    using Responder = HttpResponder;
    struct Route {
        const char* method;
        const char* pattern;
        void (ApiServer::*handler)(const Request&, Responder&);
    };
    static const Route Routes[];

    void listMessages(const Request& request, Responder& responder);
    void searchMessages(const Request& request, Responder& responder);
    void deleteSearch(const Request& request, Responder& responder);
    void info(const Request& request, Responder& responder);
    void message(const Request& request, Responder& responder);
    void events(const Request& request, Responder& responder);
    // The web inbox's pages and a message's views for the browser.
    void page(const Request& request, Responder& responder);
    void view(const Request& request, Responder& responder);
    void handleMessage(const QStringList& parts, std::int16_t position, Responder& responder);
    // GET /api/v1/message/{id}: marks the message read, and tells the event clients when it was not.
    void summary(std::int16_t position, Responder& responder);
    // POST /api/v1/send: a message composed from JSON, stored as if SMTP had brought it.
    void send(const Request& request, Responder& responder);
    // GET /livez and /readyz: an empty 200 while the server answers at all.
    void health(const Request& request, Responder& responder);
    void deleteMessages(const Request& request, Responder& responder);
    // Keeps the responder when the answer must wait.
    void wait(const Request& request, Responder& responder);
    void answerWaiters(std::int16_t position);
    void finish(Waiter* waiter);

    void emailStored(std::int16_t position) override;
    void emailRemoved(std::int16_t position, std::uint64_t id) override;
    void emailsCleared() override;

    clsEmailStorage& m_store;
    MessageCatalog m_catalog;
    HttpServer m_http;
    std::list<std::unique_ptr<Waiter>> m_waiters;
    std::unique_ptr<BasicAuth> m_auth;
    // Last: its clients go before what they describe.
    std::unique_ptr<EventStream> m_events;
};
