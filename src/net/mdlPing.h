#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

namespace mdlPing {

// Echo statuses; the non-zero ones follow the customary ICMP echo-service numbering.
inline constexpr std::int32_t StatusSuccess = 0;
inline constexpr std::int32_t StatusBufferTooSmall = 11001;
inline constexpr std::int32_t StatusHostUnreachable = 11003;
inline constexpr std::int32_t StatusTimedOut = 11010;
// No ICMP socket could be opened, or the echo failed unexpectedly.
inline constexpr std::int32_t StatusGeneralFailure = 11050;
// Address text that is not a dotted IPv4 address; nothing was sent.
inline constexpr std::int32_t StatusBadAddress = 11254;

// What came back from an echo request; Ping clears and fills it.
struct EchoReply {
    static constexpr std::size_t DataRoom = 1024;
    std::int32_t Status = StatusSuccess;
    std::uint16_t DataSize = 0;
    std::array<char, DataRoom> Data{};
};

// Starts the socket library; true when it is ready. Each success needs one SocketsCleanup.
bool SocketsInitialize();

// Releases one start of the socket library; warns when nothing was started.
void SocketsCleanup();

// Sends one ICMP echo request with data as payload and waits up to timeoutMs for the reply.
std::int32_t Ping(const std::string& address, const std::string& data, EchoReply& reply, std::int32_t timeoutMs);

// An ICMP socket connected to the echo destination; Ping owns and closes it.
struct EchoSocket {
    int fd = -1;               // below 0: no socket, failure says why
    bool withIpHeader = false; // raw sockets deliver every packet behind its IP header
    std::int32_t failure = StatusGeneralFailure;
};

// Which kinds of ICMP socket OpenEchoSocket may try, in this order: datagram, then raw.
enum class EchoSocketKinds { Any, DatagramOnly, RawOnly, None };

// Opens and connects an ICMP socket to destination (IPv4, network byte order).
EchoSocket openEchoSocket(std::uint32_t destination, EchoSocketKinds kinds = EchoSocketKinds::Any);

// Lets tests put a scripted socket or a locked-down system in place of OpenEchoSocket.
using EchoSocketOpener = std::function<EchoSocket(std::uint32_t destination)>;
void setEchoSocketOpener(EchoSocketOpener opener); // an empty opener restores the system's

} // namespace mdlPing
