#pragma once

#include <chrono>
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <string_view>

#include <QHostAddress>
#include <QObject>
#include <QSslConfiguration>
#include <QTimer>

#include "SocketArray.h"
#include "SmtpSession.h"
#include "mdlSMTP.h"

class ListenerHost;
class clsEmailStorage;

// The capture server's sockets: the listener element 0 and a pool of connection sockets that
// grows on demand and shrinks when clients leave; splits arriving text into lines for the engine.
class SmtpListener final : public QObject {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(SmtpListener)
public:
    // Postfix's smtpd_timeout: five minutes without progress.
    static constexpr std::chrono::seconds DefaultIdleTimeout{300};

    SmtpListener(clsEmailStorage& store, ListenerHost& host, QObject* parent = nullptr);
    ~SmtpListener() override;

    // Where Start listens: port 25 on every address in the product, loopback and port 0 in tests.
    void setListenAddress(const QHostAddress& address, int port);
    // Throws AppError when the port cannot be used; the caller reports it.
    void startListening();
    void ShutDownWinSock();

    // The modern dialogue (EHLO, STARTTLS, AUTH) for the connections accepted from now on.
    void setExtensions(bool on);
    bool extensions() const { return m_extensions; }
    // The certificate TLS shows; without one, a self-signed one is made when TLS is first wanted.
    void setTlsConfiguration(const QSslConfiguration& configuration) { m_tls = configuration; }
    // A second port whose clients speak TLS from the first byte; Start listens there too.
    void setImplicitTlsAddress(const QHostAddress& address, int port);
    int implicitTlsPort() const;

    // A client that makes no progress (sends nothing, reads nothing) for this long is sent 421
    // and closed; a tenth of a minute or so when connections or the byte budget run short.
    void setIdleTimeout(std::chrono::milliseconds timeout);
    // Clients at once, at most; fewer when the process may open fewer descriptors.
    void setMaxConnections(int connections) { m_connectionCap = connectionCap(connections); }

    // Failure replies on demand for every client; off until switched on.
    ChaosTriggers& chaos() { return m_chaos; }

    long connectionCount() const { return m_connectionCount; }
    // What the connections hold in memory: unfinished lines, messages being collected.
    std::size_t bufferedBytes() const;
    int listeningPort() const;
    SocketArray& sckSMTPServer() { return *m_sockets; }
    // A client's text is being handled: what it stores is announced again by messagesReplied.
    bool receiving() const { return m_receiving > 0; }

signals:
    // Messages stored while handling a read have had their replies sent.
    void messagesReplied();

private:
    struct Connection;
    class SocketConnection;

    void sckSMTPServer_ConnectionRequest(int index, long requestId);
    void sckSMTPServer_DataArrival(int index, long bytesTotal);
    void sckSMTPServer_Close(int index);
    void sckSMTPServer_Connect(int index);
    void sckSMTPServer_Error(int index, int number, const std::string& description, const std::string& source);
    void sckSMTPServer_SendProgress(int index, long bytesSent, long bytesRemaining);
    void sckSMTPServer_SendComplete(int index);
    void sckSMTPServer_Encrypted(int index);
    void sckSMTPServer_TlsError(int index, const std::string& description);

    void acceptRequest(int index, long requestId, bool implicitTls);
    void CloseConnection(int index);
    const QSslConfiguration& tlsConfiguration();

    int reusableSocket() const;
    int freeSocketNumber() const;
    bool storeMessage(int index, std::string&& sender, std::string&& recipients, std::string&& body,
                      const std::string& authUser);
    void dropConnection(int index);
    void resumeConnection(int index);
    void watchSends();

    // Time-outs, the connection cap and eviction (SmtpListenerLimits.cpp).
    void watchIdleClients();
    void sweepIdleClients();
    static int connectionCap(int maxConnections);
    bool stressed() const;
    int longestIdle(bool holdingBudget, unsigned minimumTicks) const;
    void makeRoomForClient();
    bool reclaimBudget(std::size_t bytes);
    void closeByServer(int index, std::string_view reply, const std::string& line);
    void finishClose(int index);
    std::chrono::milliseconds tick() const;
    unsigned ticks(std::chrono::milliseconds duration) const;
    void log(const std::string& line);
    void logDetailed(const std::string& line);

    clsEmailStorage& m_store;
    ListenerHost& m_host;
    std::unique_ptr<SocketArray> m_sockets;
    QHostAddress m_listenAddress = QHostAddress::Any;
    int m_listenPort = 25;
    long m_connectionCount = 0;
    bool m_extensions = false;
    std::optional<QSslConfiguration> m_tls;
    // The implicit-TLS listener stands outside the pool: its requests are accepted into it.
    std::unique_ptr<SocketControl> m_implicitTls;
    std::optional<std::pair<QHostAddress, int>> m_implicitTlsAddress;
    std::map<int, std::shared_ptr<Connection>> m_connections;
    std::set<int> m_beingDestroyed;
    // Sessions stopped for backpressure: the sockets' sending is followed while there are any,
    // or while detailed logging shows it; otherwise nobody listens and the sockets report none.
    std::set<int> m_heldSessions;
    bool m_watchingSends = false;
    int m_receiving = 0; // reads being handled, nested when a box lets events run
    bool m_storedInRead = false;
    bool m_storeRefusalReported = false;
    std::chrono::milliseconds m_idleTimeout;
    int m_connectionCap;
    std::uint64_t m_accepted = 0;
    ChaosTriggers m_chaos;
    QTimer m_idleSweep; // counts every connection's idle ticks while there are connections
};
