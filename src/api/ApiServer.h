#pragma once

#include <cstdint>
#include <list>
#include <memory>
#include <string>
#include <vector>

#include <QHostAddress>
#include <QHttpServer>
#include <QObject>

#include "BasicAuth.h"
#include "MessageCatalog.h"
#include "clsEmailStorage.h"

class BoundedTcpServer;
class QWebSocket;

// Bounds on what a client may send; beyond them a request is refused with a 4xx.
inline constexpr qint64 MaxRequestBodyBytes = 1024 * 1024; // 32,767 ids fit well within
inline constexpr qint64 MaxRequestHeaderBytes = 64 * 1024;
inline constexpr qsizetype MaxQueryBytes = 8 * 1024;
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
    explicit ApiServer(clsEmailStorage& store, QObject* parent = nullptr);
    ~ApiServer() override;

    // Throws AppError when the address cannot be used.
    void listen(const QHostAddress& address, int port);
    int port() const;
    // From now on every request must log in as one of these users.
    void requireLogin(Htpasswd users) { m_auth = std::make_unique<BasicAuth>(std::move(users)); }

    // The warning to print for an address others can reach; empty for loopback.
    static std::string exposureWarning(const QHostAddress& address);

private:
    struct Waiter;

    void handle(const QHttpServerRequest& request, QHttpServerResponder& responder);
    void handleMessage(const QStringList& path, QHttpServerResponder& responder);
    void deleteMessages(const QHttpServerRequest& request, QHttpServerResponder& responder);
    // Takes the responder (m_responderTaken) when the answer must wait.
    void wait(const QHttpServerRequest& request, QHttpServerResponder& responder);
    void answerWaiters(std::int16_t position);
    void finish(Waiter* waiter);
    void acceptEventClients();
    void broadcast(const QJsonObject& event);

    void emailStored(std::int16_t position) override;
    void emailRemoved(std::int16_t position, std::uint64_t id) override;
    void emailsCleared() override;

    clsEmailStorage& m_store;
    MessageCatalog m_catalog;
    QHttpServer m_http;
    BoundedTcpServer* m_tcp = nullptr;
    std::list<std::unique_ptr<Waiter>> m_waiters;
    std::vector<QWebSocket*> m_eventClients;
    bool m_responderTaken = false;
    std::unique_ptr<BasicAuth> m_auth;
};

struct CommandLineOptions;

// Starts the API where the command line says, with the users it names, printing to standard
// error why it cannot, or that others can reach it; nothing when it cannot listen.
std::unique_ptr<ApiServer> startApiServer(clsEmailStorage& store, const CommandLineOptions& options);
