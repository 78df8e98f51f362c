#include "HostLookup.h"

#include <array>
#include <cstring>
#include <string_view>

#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include "Latin1Text.h"
#include "mdlPing.h"

namespace {

constexpr std::size_t LocalNameRoom = 256;
constexpr std::string_view InvalidDomain = "invalid";

// One start of the socket library, released when the lookup ends, even by a failure.
class SocketsSession {
public:
    SocketsSession() : m_started(mdlPing::SocketsInitialize()) { }
    ~SocketsSession()
    {
        if (m_started)
            mdlPing::SocketsCleanup();
    }
    SocketsSession(const SocketsSession&) = delete;
    SocketsSession& operator=(const SocketsSession&) = delete;

    bool started() const { return m_started; }

private:
    bool m_started;
};

// Names under the reserved top-level domain "invalid" never resolve (RFC 6761), so no
// resolver is asked about them.
bool isUnderInvalidDomain(std::string_view name)
{
    if (name.ends_with('.'))
        name.remove_suffix(1);
    const auto dot = name.rfind('.');
    return equalNoCase(dot == std::string_view::npos ? name : name.substr(dot + 1), InvalidDomain);
}

std::string firstIPv4Address(const std::string& name)
{
    if (isUnderInvalidDomain(name))
        return {};
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    if (::getaddrinfo(name.c_str(), nullptr, &hints, &found) != 0 || found == nullptr)
        return {};
    std::string text;
    for (const addrinfo* entry = found; entry != nullptr; entry = entry->ai_next) {
        if (entry->ai_family != AF_INET || entry->ai_addr == nullptr)
            continue;
        sockaddr_in address{};
        std::memcpy(&address, entry->ai_addr, sizeof address);
        std::array<char, INET_ADDRSTRLEN> dotted{};
        if (::inet_ntop(AF_INET, &address.sin_addr, dotted.data(), dotted.size()) != nullptr)
            text = dotted.data();
        break;
    }
    ::freeaddrinfo(found);
    return text;
}

} // namespace

std::string GetIPAddress(std::string& sHostName)
{
    SocketsSession session;
    if (!session.started())
        return {};
    if (sHostName.empty())
        sHostName = GetIPHost();
    // Callers keep the name in this form, NUL and all.
    sHostName = std::string(trimBlanks(sHostName)) + '\0';
    return firstIPv4Address(sHostName.substr(0, sHostName.find('\0')));
}

std::string GetIPHost()
{
    std::array<char, LocalNameRoom> buffer{};
    SocketsSession session;
    if (!session.started())
        return {};
    if (::gethostname(buffer.data(), buffer.size()) != 0)
        return {};
    const std::string_view filled(buffer.data(), buffer.size());
    const auto end = filled.find('\0');
    // A name that filled the buffer without its NUL may be cut short: no name rather than a wrong one.
    if (end == std::string_view::npos || end == 0)
        return {};
    return std::string(filled.substr(0, end));
}
