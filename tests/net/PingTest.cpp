#include <chrono>
#include <cstdint>
#include <future>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include "TestKit.h"
#include "mdlPing.h"

namespace {

using namespace std::chrono_literals;

std::uint16_t word(std::string_view bytes, std::size_t at)
{
    return static_cast<std::uint16_t>(static_cast<unsigned char>(bytes[at]) << 8
                                      | static_cast<unsigned char>(bytes[at + 1]));
}

// An ICMP packet; replies are not checked against their checksum, so none is filled in.
std::string icmp(char type, std::uint16_t identifier, std::uint16_t sequence, std::string_view payload)
{
    return std::string{type, 0, 0, 0, char(identifier >> 8), char(identifier), char(sequence >> 8), char(sequence)}
    + std::string(payload);
}

// A minimal IPv4 header in front of an ICMP packet, as a raw socket delivers it.
std::string fromSource(const char* source, const std::string& packet)
{
    std::string header(20, '\0');
    header[0] = 0x45;
    header[9] = IPPROTO_ICMP;
    const in_addr_t address = ::inet_addr(source);
    header.replace(12, 4, reinterpret_cast<const char*>(&address), 4);
    return header + packet;
}

// The echo socket's far end, on a thread: answers the request with the script's packets, or is gone.
struct ScriptedPeer {
    ScriptedPeer(bool withIpHeader, std::function<Texts(const std::string& request)> script)
    {
        EXPECT_EQ(::socketpair(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0, fds), 0);
        mdlPing::setEchoSocketOpener([this, withIpHeader](std::uint32_t) {
            return mdlPing::EchoSocket{std::exchange(fds[0], -1), withIpHeader};
        });
        if (!script) {
            ::close(std::exchange(fds[1], -1));
            return;
        }
        const timeval bound{5, 0};
        ::setsockopt(fds[1], SOL_SOCKET, SO_RCVTIMEO, &bound, sizeof bound);
        request = std::async(std::launch::async, [fd = fds[1], script = std::move(script)] {
            std::string received(2048, '\0');
            received.resize(
                static_cast<std::size_t>(std::max<ssize_t>(::recv(fd, received.data(), received.size(), 0), 0)));
            for (const std::string& packet : received.empty() ? Texts{} : script(received))
                ::send(fd, packet.data(), packet.size(), 0);
            return received;
        });
    }
    ~ScriptedPeer()
    {
        if (request.valid())
            request.wait();
        mdlPing::setEchoSocketOpener({});
        for (int fd : fds)
            if (fd >= 0)
                ::close(fd);
    }
    // The echo socket was taken; Ping closes it.
    bool opened() const { return fds[0] < 0; }

    int fds[2]{-1, -1};
    std::future<std::string> request; // what the far end received
};

} // namespace

TEST(Ping, UnusableInputOrNoSocketFailsBeforeSending)
{
    ScriptedPeer peer(false, {});
    mdlPing::EchoReply reply;
    for (const char* address : {"localhost", "", "255.255.255.255", "1.2.3.4.5", "127.0.0.256"}) {
        EXPECT_EQ(mdlPing::Ping(address, "Ping!", reply, 1000), mdlPing::StatusBadAddress) << address;
    }
    EXPECT_FALSE(peer.opened());

    // No ICMP socket to be had is a failure, not an answer. The peer restores the opener.
    mdlPing::setEchoSocketOpener(
        [](std::uint32_t to) { return mdlPing::openEchoSocket(to, mdlPing::EchoSocketKinds::None); });
    EXPECT_EQ(mdlPing::Ping("127.0.0.1", "Ping!", reply, 1000), mdlPing::StatusGeneralFailure);
}

TEST(Ping, SendsOneWellFormedRequestAndTakesOnlyItsReply)
{
    for (bool withIpHeader : {false, true}) {
        SCOPED_TRACE(withIpHeader ? "raw socket" : "datagram socket");
        ScriptedPeer peer(withIpHeader, [&](const std::string& request) {
            const std::uint16_t id = word(request, 4), seq = word(request, 6),
                                otherSeq = static_cast<std::uint16_t>(seq + 1);
            const auto wrap
                = [&](const std::string& packet) { return withIpHeader ? fromSource("127.0.0.1", packet) : packet; };
            // Not an echo reply, the own request seen on loopback, an older reply, a runt.
            Texts packets{wrap(icmp(3, id, seq, "")), wrap(request), wrap(icmp(0, id, otherSeq, "Old!")), "\x45"};
            if (withIpHeader) {
                // Only a raw socket hears other processes' replies and other sources.
                packets.push_back(fromSource("127.0.0.1", icmp(0, static_cast<std::uint16_t>(id + 1), seq, "Other")));
                packets.push_back(fromSource("127.0.0.2", icmp(0, id, seq, "Other")));
            }
            packets.push_back(wrap(icmp(0, id, seq, "Ping!")));
            return packets;
        });
        mdlPing::EchoReply reply;
        EXPECT_EQ(mdlPing::Ping("127.0.0.1", "Ping!", reply, 5000), mdlPing::StatusSuccess);
        EXPECT_EQ(std::string(reply.Data.data(), reply.DataSize), "Ping!");

        const std::string request = peer.request.get();
        ASSERT_EQ(request.size(), 8u + 5u);
        EXPECT_EQ(request.substr(0, 2), std::string(1, '\x08') + '\0');
        EXPECT_EQ(request.substr(8), "Ping!");
    }
}

// The scripted peer stands in for the destination: nothing leaves the process.
TEST(Ping, OnlyAStaleReplyTimesOut)
{
    ScriptedPeer peer(false, [](const std::string& request) {
        return Texts{icmp(0, 0, static_cast<std::uint16_t>(word(request, 6) - 1), "Ping!")};
    });
    mdlPing::EchoReply reply;
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(mdlPing::Ping("192.0.2.1", "Ping!", reply, 200), mdlPing::StatusTimedOut);
    const auto waited = std::chrono::steady_clock::now() - start;
    EXPECT_GE(waited, 200ms);
    EXPECT_LT(waited, 5s);
}

TEST(Ping, LoopbackAnswers)
{
    using Kinds = mdlPing::EchoSocketKinds;
    const auto allowed = [](int type) {
        const int fd = ::socket(AF_INET, type, IPPROTO_ICMP);
        return fd >= 0 && ::close(fd) == 0;
    };
    const bool datagram = allowed(SOCK_DGRAM), raw = allowed(SOCK_RAW);
    if (!datagram && !raw)
        GTEST_SKIP() << "this system allows neither ICMP datagram sockets (net.ipv4.ping_group_range) "
                        "nor raw sockets (CAP_NET_RAW)";
    for (Kinds kinds : {Kinds::Any, Kinds::DatagramOnly, Kinds::RawOnly}) {
        if ((kinds == Kinds::DatagramOnly && !datagram) || (kinds == Kinds::RawOnly && !raw))
            continue;
        SCOPED_TRACE(static_cast<int>(kinds));
        mdlPing::setEchoSocketOpener(
            [kinds](std::uint32_t destination) { return mdlPing::openEchoSocket(destination, kinds); });
        mdlPing::EchoReply reply;
        EXPECT_EQ(mdlPing::Ping("127.0.0.1", "Ping!", reply, 1000), mdlPing::StatusSuccess);
        EXPECT_EQ(std::string(reply.Data.data(), reply.DataSize), "Ping!");
    }
    mdlPing::setEchoSocketOpener({});
}
