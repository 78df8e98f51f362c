#include <chrono>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "RecordingMessageBoxes.h"
#include "mdlPing.h"

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

std::uint16_t Word(std::string_view bytes, std::size_t at)
{
    return static_cast<std::uint16_t>(static_cast<unsigned char>(bytes[at]) << 8 | static_cast<unsigned char>(bytes[at + 1]));
}

std::uint16_t Checksum(std::string_view bytes)
{
    std::uint32_t sum = 0;
    for (std::size_t i = 0; i < bytes.size(); i += 2)
        sum += i + 1 < bytes.size() ? Word(bytes, i) : static_cast<std::uint32_t>(static_cast<unsigned char>(bytes[i]) << 8);
    while (sum >> 16 != 0)
        sum = (sum & 0xFFFF) + (sum >> 16);
    return static_cast<std::uint16_t>(~sum);
}

std::string Icmp(std::uint8_t type, std::uint16_t identifier, std::uint16_t sequence, std::string_view payload)
{
    std::string packet{static_cast<char>(type), 0, 0, 0,
                       static_cast<char>(identifier >> 8), static_cast<char>(identifier & 0xFF),
                       static_cast<char>(sequence >> 8), static_cast<char>(sequence & 0xFF)};
    packet += payload;
    const std::uint16_t sum = Checksum(packet);
    packet[2] = static_cast<char>(sum >> 8);
    packet[3] = static_cast<char>(sum & 0xFF);
    return packet;
}

// A minimal IPv4 header in front of an ICMP packet, as a raw socket delivers it.
std::string FromSource(const char* source, const std::string& icmp)
{
    std::string header(20, '\0');
    header[0] = 0x45;
    header[9] = IPPROTO_ICMP;
    const in_addr_t address = ::inet_addr(source);
    header.replace(12, 4, reinterpret_cast<const char*>(&address), 4);
    return header + icmp;
}

// The far end of a scripted echo socket: receives the request, then sends what the script makes of it.
class ScriptedPeer {
public:
    using Script = std::function<std::vector<std::string>(const std::string& request)>;

    explicit ScriptedPeer(bool withIpHeader) : m_withIpHeader(withIpHeader)
    {
        EXPECT_EQ(::socketpair(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0, m_fds), 0);
        timeval bound{5, 0};
        ::setsockopt(m_fds[1], SOL_SOCKET, SO_RCVTIMEO, &bound, sizeof bound);
        mdlPing::SetEchoSocketOpener([this](std::uint32_t) {
            ++m_opened;
            return mdlPing::EchoSocket{m_fds[0], m_withIpHeader, 0};
        });
    }
    ~ScriptedPeer()
    {
        if (m_thread.joinable())
            m_thread.join();
        mdlPing::SetEchoSocketOpener({});
        if (m_opened == 0)
            ::close(m_fds[0]);
        if (m_fds[1] >= 0)
            ::close(m_fds[1]);
    }

    void Run(Script script)
    {
        m_thread = std::thread([this, script = std::move(script)] {
            std::string request(2048, '\0');
            const ssize_t size = ::recv(m_fds[1], request.data(), request.size(), 0);
            if (size < 0)
                return;
            request.resize(static_cast<std::size_t>(size));
            m_request = request;
            for (const std::string& packet : script(request))
                ::send(m_fds[1], packet.data(), packet.size(), 0);
        });
    }
    void HangUp()
    {
        ::close(m_fds[1]);
        m_fds[1] = -1;
    }

    // Only valid after the Ping returned.
    std::string Request()
    {
        if (m_thread.joinable())
            m_thread.join();
        return m_request;
    }
    int Opened() const { return m_opened; }

private:
    bool m_withIpHeader;
    int m_fds[2]{-1, -1};
    int m_opened = 0;
    std::thread m_thread;
    std::string m_request;
};

std::string EchoedData(const mdlPing::EchoReply& reply)
{
    return std::string(reply.Data.data(), reply.DataSize);
}

bool CanOpen(int type)
{
    const int fd = ::socket(AF_INET, type, IPPROTO_ICMP);
    if (fd < 0)
        return false;
    ::close(fd);
    return true;
}

} // namespace

TEST(Ping, RefusesUnusableInputWithoutOpeningASocket)
{
    ScriptedPeer peer(false);
    mdlPing::EchoReply reply;
    for (const char* address : {"localhost", "", "255.255.255.255", "mail.example.com", "1.2.3.4.5", "127.0.0.256"}) {
        SCOPED_TRACE(address);
        reply.Status = -1;
        EXPECT_EQ(mdlPing::Ping(address, "Ping!", reply, 1000), mdlPing::StatusBadAddress);
        EXPECT_EQ(reply.Status, mdlPing::StatusBadAddress);
    }
    // More payload than the reply can hold echoed.
    EXPECT_EQ(mdlPing::Ping("127.0.0.1", std::string(mdlPing::EchoReply::DataRoom + 1, 'x'), reply, 1000),
              mdlPing::StatusBufferTooSmall);
    EXPECT_EQ(peer.Opened(), 0);
}

TEST(Ping, NoIcmpSocketIsAFailureNotAnAnswer)
{
    mdlPing::SetEchoSocketOpener([](std::uint32_t destination) {
        return mdlPing::OpenEchoSocket(destination, mdlPing::EchoSocketKinds::None);
    });
    mdlPing::EchoReply reply;
    EXPECT_EQ(mdlPing::Ping("127.0.0.1", "Ping!", reply, 1000), mdlPing::StatusGeneralFailure);
    EXPECT_EQ(reply.Status, mdlPing::StatusGeneralFailure);
    mdlPing::SetEchoSocketOpener({});
}

TEST(Ping, SendsOneWellFormedRequestAndTakesOnlyItsReply)
{
    for (bool withIpHeader : {false, true}) {
        SCOPED_TRACE(withIpHeader ? "raw socket" : "datagram socket");
        ScriptedPeer peer(withIpHeader);
        peer.Run([&](const std::string& request) {
            const std::uint16_t id = Word(request, 4);
            const std::uint16_t seq = Word(request, 6);
            auto wrap = [&](const char* source, const std::string& icmp) {
                return withIpHeader ? FromSource(source, icmp) : icmp;
            };
            std::vector<std::string> packets{
                wrap("127.0.0.1", Icmp(3, id, seq, "")),                        // not an echo reply
                wrap("127.0.0.1", request),                                    // own request, seen on loopback
                wrap("127.0.0.1", Icmp(0, id, static_cast<std::uint16_t>(seq + 1), "Old!")),
                "\x45",                                                        // runt
            };
            if (withIpHeader) {
                packets.push_back(FromSource("127.0.0.1", Icmp(0, static_cast<std::uint16_t>(id + 1), seq, "Other")));
                packets.push_back(FromSource("127.0.0.2", Icmp(0, id, seq, "Other")));
            }
            packets.push_back(wrap("127.0.0.1", Icmp(0, id, seq, "Ping!")));
            return packets;
        });
        mdlPing::EchoReply reply;
        EXPECT_EQ(mdlPing::Ping("127.0.0.1", "Ping!", reply, 5000), mdlPing::StatusSuccess);
        EXPECT_EQ(reply.Status, mdlPing::StatusSuccess);
        EXPECT_EQ(EchoedData(reply), "Ping!");

        const std::string request = peer.Request();
        ASSERT_EQ(request.size(), 8u + 5u);
        EXPECT_EQ(request[0], 8);
        EXPECT_EQ(request[1], 0);
        EXPECT_EQ(Checksum(request), 0);
        EXPECT_EQ(request.substr(8), "Ping!");
        EXPECT_EQ(peer.Opened(), 1);
    }
}

TEST(Ping, SilenceTimesOutAndAFailedSendIsNoAnswer)
{
    // The scripted peer stands in for the destination: nothing leaves the process.
    {
        ScriptedPeer peer(false);
        peer.Run([](const std::string& request) {
            return std::vector<std::string>{Icmp(0, 0, static_cast<std::uint16_t>(Word(request, 6) - 1), "Ping!")};
        });
        mdlPing::EchoReply reply;
        const auto start = Clock::now();
        EXPECT_EQ(mdlPing::Ping("192.0.2.1", "Ping!", reply, 200), mdlPing::StatusTimedOut);
        const auto waited = Clock::now() - start;
        EXPECT_GE(waited, 200ms);
        EXPECT_LT(waited, 5s);
        EXPECT_EQ(reply.Status, mdlPing::StatusTimedOut);
        EXPECT_EQ(reply.DataSize, 0);
    }
    {
        ScriptedPeer peer(false);
        peer.HangUp();
        mdlPing::EchoReply reply;
        EXPECT_EQ(mdlPing::Ping("192.0.2.1", "Ping!", reply, 1000), mdlPing::StatusHostUnreachable);
    }
}

TEST(Ping, LoopbackAnswers)
{
    const bool datagram = CanOpen(SOCK_DGRAM);
    const bool raw = CanOpen(SOCK_RAW);
    if (!datagram && !raw)
        GTEST_SKIP() << "this system allows neither ICMP datagram sockets (net.ipv4.ping_group_range) "
                        "nor raw sockets (CAP_NET_RAW)";

    mdlPing::EchoReply reply;
    EXPECT_EQ(mdlPing::Ping("127.0.0.1", "Ping!", reply, 1000), mdlPing::StatusSuccess);
    EXPECT_EQ(EchoedData(reply), "Ping!");

    for (auto [kinds, allowed] : {std::pair{mdlPing::EchoSocketKinds::DatagramOnly, datagram},
                                  std::pair{mdlPing::EchoSocketKinds::RawOnly, raw}}) {
        if (!allowed)
            continue;
        SCOPED_TRACE(kinds == mdlPing::EchoSocketKinds::RawOnly ? "raw socket" : "datagram socket");
        mdlPing::SetEchoSocketOpener([kinds](std::uint32_t destination) {
            return mdlPing::OpenEchoSocket(destination, kinds);
        });
        EXPECT_EQ(mdlPing::Ping("127.0.0.1", "Ping!", reply, 1000), mdlPing::StatusSuccess);
        EXPECT_EQ(EchoedData(reply), "Ping!");
    }
    mdlPing::SetEchoSocketOpener({});
}

TEST(Sockets, StartUpsNestAndAnUnmatchedCleanupWarnsOnce)
{
    RecordingMessageBoxes boxes;
    EXPECT_TRUE(mdlPing::SocketsInitialize());
    EXPECT_TRUE(mdlPing::SocketsInitialize());
    mdlPing::SocketsCleanup();
    mdlPing::SocketsCleanup();
    EXPECT_TRUE(boxes.Boxes().empty());

    mdlPing::SocketsCleanup();
    ASSERT_EQ(boxes.Boxes().size(), 1u);
    EXPECT_EQ(boxes.Boxes()[0].text, "Windows sockets error occurred in cleanup.");
    EXPECT_EQ(boxes.Boxes()[0].icon, MsgIcon::Exclamation);
    EXPECT_EQ(boxes.Boxes()[0].buttons, MsgButtons::Ok);

    // The refused clean-up took nothing away: one start is released again without a word.
    EXPECT_TRUE(mdlPing::SocketsInitialize());
    mdlPing::SocketsCleanup();
    EXPECT_EQ(boxes.Boxes().size(), 1u);
}
