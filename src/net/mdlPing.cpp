#include "mdlPing.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <limits>
#include <mutex>
#include <utility>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include "ErrorReport.h"
#include "MessageBoxes.h"

namespace mdlPing {

namespace {

constexpr const char* CleanupErrorText = "Windows sockets error occurred in cleanup.";

// The socket library needs no start-up here; the count keeps start-ups and clean-ups balanced.
std::mutex startMutex;
int startCount = 0;

std::mutex openerMutex;
EchoSocketOpener echoSocketOpener;

constexpr std::uint8_t EchoReplyType = 0;
constexpr std::uint8_t EchoRequestType = 8;
constexpr std::size_t IcmpHeaderSize = 8;
constexpr std::size_t MinIpHeaderSize = 20;
// Room for the largest IP header, the ICMP header and a full echo of the largest payload.
constexpr std::size_t ReceiveRoom = 60 + IcmpHeaderSize + EchoReply::DataRoom;

std::atomic<std::uint16_t> nextSequence{1};

std::uint16_t internetChecksum(const unsigned char* bytes, std::size_t size)
{
    std::uint32_t sum = 0;
    for (std::size_t i = 0; i + 1 < size; i += 2)
        sum += static_cast<std::uint32_t>(bytes[i] << 8 | bytes[i + 1]);
    if (size % 2 != 0)
        sum += static_cast<std::uint32_t>(bytes[size - 1] << 8);
    while (sum >> 16 != 0)
        sum = (sum & 0xFFFF) + (sum >> 16);
    return static_cast<std::uint16_t>(~sum);
}

std::uint16_t readWord(const unsigned char* bytes)
{
    return static_cast<std::uint16_t>(bytes[0] << 8 | bytes[1]);
}

void writeWord(unsigned char* bytes, std::uint16_t value)
{
    bytes[0] = static_cast<unsigned char>(value >> 8);
    bytes[1] = static_cast<unsigned char>(value & 0xFF);
}

int openIcmpSocket(int type)
{
    return ::socket(AF_INET, type | SOCK_CLOEXEC, IPPROTO_ICMP);
}

struct Echo {
    std::uint32_t destination = 0;
    std::uint16_t identifier = 0;
    std::uint16_t sequence = 0;
};

// The ICMP part of a received packet when it is the reply to this echo; null otherwise.
const unsigned char* matchingReply(const unsigned char* packet, std::size_t& size, bool withIpHeader, const Echo& echo)
{
    if (withIpHeader) {
        if (size < MinIpHeaderSize || packet[0] >> 4 != 4)
            return nullptr;
        const std::size_t headerSize = static_cast<std::size_t>(packet[0] & 0x0F) * 4;
        std::uint32_t source = 0;
        std::memcpy(&source, packet + 12, sizeof source);
        if (headerSize < MinIpHeaderSize || size < headerSize || source != echo.destination)
            return nullptr;
        packet += headerSize;
        size -= headerSize;
    }
    if (size < IcmpHeaderSize || packet[0] != EchoReplyType || packet[1] != 0)
        return nullptr;
    // A datagram socket's identifier is the kernel's, which filters replies by it already.
    if (withIpHeader && readWord(packet + 4) != echo.identifier)
        return nullptr;
    if (readWord(packet + 6) != echo.sequence)
        return nullptr;
    return packet;
}

std::int32_t sendEcho(const EchoSocket& socket, const Echo& echo, const std::string& data, EchoReply& reply,
                      std::int32_t timeoutMs)
{
    std::array<unsigned char, IcmpHeaderSize + EchoReply::DataRoom> request{};
    request[0] = EchoRequestType;
    writeWord(&request[4], echo.identifier);
    writeWord(&request[6], echo.sequence);
    std::copy(data.begin(), data.end(), request.begin() + IcmpHeaderSize);
    const std::size_t requestSize = IcmpHeaderSize + data.size();
    writeWord(&request[2], internetChecksum(request.data(), requestSize));

    if (::send(socket.fd, request.data(), requestSize, MSG_NOSIGNAL) != static_cast<ssize_t>(requestSize))
        return StatusHostUnreachable;

    using Clock = std::chrono::steady_clock;
    const auto deadline = Clock::now() + std::chrono::milliseconds(std::max(timeoutMs, 0));
    std::array<unsigned char, ReceiveRoom> packet{};
    for (;;) {
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
        pollfd waiting{socket.fd, POLLIN, 0};
        const int ready = ::poll(&waiting, 1, static_cast<int>(std::max<decltype(left)>(left, 0)));
        if (ready < 0 && errno == EINTR)
            continue;
        if (ready < 0)
            return StatusGeneralFailure;
        if (ready == 0)
            return StatusTimedOut;
        const ssize_t received = ::recv(socket.fd, packet.data(), packet.size(), MSG_DONTWAIT);
        if (received < 0) {
            if (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR)
                continue;
            // A connected ICMP socket hears of an unreachable destination as a receive error.
            return StatusHostUnreachable;
        }
        std::size_t size = static_cast<std::size_t>(received);
        if (const unsigned char* icmp = matchingReply(packet.data(), size, socket.withIpHeader, echo)) {
            const std::size_t echoed = std::min(size - IcmpHeaderSize, EchoReply::DataRoom);
            std::copy_n(icmp + IcmpHeaderSize, echoed, reply.Data.begin());
            reply.DataSize = static_cast<std::uint16_t>(echoed);
            return StatusSuccess;
        }
    }
}

} // namespace

bool SocketsInitialize()
{
    bool ready = false;
    trapped("SocketsInitialize", [&] {
        std::lock_guard lock(startMutex);
        if (startCount == std::numeric_limits<int>::max())
            throw overflowError();
        ++startCount;
        ready = true;
    });
    return ready;
}

void SocketsCleanup()
{
    trapped("SocketsCleanup", [] {
        bool refused = false;
        {
            std::lock_guard lock(startMutex);
            refused = startCount == 0;
            if (!refused)
                --startCount;
        }
        if (refused)
            msgBox(CleanupErrorText, MsgButtons::Ok, MsgIcon::Exclamation);
    });
}

std::int32_t Ping(const std::string& address, const std::string& data, EchoReply& reply, std::int32_t timeoutMs)
{
    // Deliberately not success: a trapped failure must not pass for an answered echo.
    std::int32_t status = StatusGeneralFailure;
    trapped("Ping", [&] {
        reply = EchoReply{};
        const in_addr_t destination = ::inet_addr(address.c_str());
        if (destination == INADDR_NONE) {
            status = StatusBadAddress;
        } else if (data.size() > EchoReply::DataRoom) {
            status = StatusBufferTooSmall;
        } else {
            EchoSocketOpener opener;
            {
                std::lock_guard lock(openerMutex);
                opener = echoSocketOpener;
            }
            const EchoSocket socket = opener ? opener(destination) : openEchoSocket(destination);
            if (socket.fd < 0) {
                // Without an ICMP socket nothing was sent, so nothing can have answered.
                status = socket.failure;
            } else {
                const Echo echo{destination, static_cast<std::uint16_t>(::getpid()), nextSequence++};
                status = sendEcho(socket, echo, data, reply, timeoutMs);
                ::close(socket.fd);
            }
        }
        reply.Status = status;
    });
    return status;
}

EchoSocket openEchoSocket(std::uint32_t destination, EchoSocketKinds kinds)
{
    EchoSocket socket;
    // The unprivileged kind first; the raw kind needs CAP_NET_RAW.
    if (kinds == EchoSocketKinds::Any || kinds == EchoSocketKinds::DatagramOnly)
        socket.fd = openIcmpSocket(SOCK_DGRAM);
    if (socket.fd < 0 && (kinds == EchoSocketKinds::Any || kinds == EchoSocketKinds::RawOnly)) {
        socket.fd = openIcmpSocket(SOCK_RAW);
        socket.withIpHeader = socket.fd >= 0;
    }
    if (socket.fd < 0) {
        socket.failure = StatusGeneralFailure;
        return socket;
    }
    // Connected, the socket sends without an address and hears only the destination.
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_addr.s_addr = destination;
    if (::connect(socket.fd, reinterpret_cast<const sockaddr*>(&to), sizeof to) != 0) {
        ::close(socket.fd);
        return EchoSocket{-1, false, StatusHostUnreachable};
    }
    return socket;
}

void setEchoSocketOpener(EchoSocketOpener opener)
{
    std::lock_guard lock(openerMutex);
    echoSocketOpener = std::move(opener);
}

} // namespace mdlPing
