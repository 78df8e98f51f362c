#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "SmtpListener.h"
#include "SmtpSession.h"
#include "mdlSMTP.h"

// What the listener's source files share of one client connection.

// The detailed line that ends a connection socket's life.
inline constexpr const char* SocketClosedText = ": Socket has been closed.";

// "SMTPServer::" + the event + ", index " + the socket's index: how every line of the server begins.
std::string serverLine(const char* event, int index);

// The engine's view of one connection socket.
class SmtpListener::SocketConnection : public SmtpConnection {
public:
    SocketConnection(SmtpListener& listener, int index);

    void SendData(std::string_view text) override;
    // Nothing is sent from now on: the connection has ended.
    void drop() { m_dropped = true; }
    bool storeMessage(std::string&& sender, std::string&& recipients, std::string&& body,
                      const std::string& authUser) override;
    bool outputBacklogged() const override;
    void endSession() override;
    bool tlsAvailable() const override;
    bool startTls() override;
    void loggedIn(const std::string& user, std::string_view mechanism) override;
    void chaosReplied(std::string_view reply) override;

private:
    SmtpListener& m_listener;
    int m_index;
    bool m_dropped = false;
};

// What one client connection carries from its acceptance to its end.
struct SmtpListener::Connection {
    Connection(SmtpListener& listener, int index);

    SocketConnection socket;
    SmtpSession session;
    unsigned idleTicks = 0;   // sweeps since the client last sent or read anything
    std::uint64_t serial = 0; // in the order of acceptance: of two idle as many ticks, the older waited longer
};
