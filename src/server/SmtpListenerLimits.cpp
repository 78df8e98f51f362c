// The listener's defence against clients that hold on without doing anything: idle time-outs
// (shorter under stress), a cap on connections, and pushing out the client idle longest when
// descriptors or the byte budget run out. A client closed this way hears 421 and is logged once.
#include "SmtpListener.h"

#include <sys/resource.h>

#include <algorithm>
#include <vector>

#include "AppError.h"
#include "ErrorReport.h"
#include "ListenerHost.h"
#include "SmtpListenerConnection.h"
#include "SocketControl.h"
#include "clsEmailStorage.h"

namespace {

using std::chrono::milliseconds;

// Postfix's stress mode: when connections or memory run short, a thirtieth of the time-out
// (10 s instead of 300 s), but never under a second.
constexpr int StressDivisor = 30;
constexpr milliseconds MinStressedTimeout{1000};
// Room for mail data is made only by pushing out a client idle at least this long (or the
// stressed time-out, when shorter), never one that is sending.
constexpr milliseconds EvictableIdle{1000};
// The sweep counts idle time in ticks: fine enough for short time-outs, rare for long ones.
constexpr int TicksPerTimeout = 1200;
constexpr milliseconds MinTick{10};
constexpr milliseconds MaxTick{250};

constexpr std::string_view IdleReply = "421 4.4.2 Idle too long, closing transmission channel\r\n";
constexpr std::string_view EvictedReply = "421 4.3.2 Too busy, closing idle transmission channel\r\n";
constexpr const char* IdleLine = ": No progress for %1 ms: connection closed.";
constexpr const char* EvictedLine = ": Idle for %1 ms: connection closed to make room for another client.";

std::string withMilliseconds(const char* format, milliseconds duration)
{
    std::string text(format);
    text.replace(text.find("%1"), 2, std::to_string(duration.count()));
    return text;
}

} // namespace

void SmtpListener::watchIdleClients()
{
    connect(&m_idleSweep, &QTimer::timeout, this, &SmtpListener::sweepIdleClients);
    connect(&m_sockets->Element(0), &SocketControl::acceptFailed, this, &SmtpListener::makeRoomForClient);
    m_store.budget().setReclaimer([this](std::size_t bytes) { return reclaimBudget(bytes); });
}

void SmtpListener::setIdleTimeout(milliseconds timeout)
{
    m_idleTimeout = timeout;
    if (m_idleSweep.isActive())
        m_idleSweep.start(tick());
}

milliseconds SmtpListener::tick() const
{
    return std::clamp(m_idleTimeout / TicksPerTimeout, MinTick, MaxTick);
}

unsigned SmtpListener::ticks(milliseconds duration) const
{
    return unsigned(std::max<milliseconds::rep>(1, (duration + tick() - milliseconds(1)) / tick()));
}

// A quarter of the descriptors stay for everything else: the HTTP API, files, the log.
int SmtpListener::connectionCap(int maxConnections)
{
    rlimit limit{};
    rlim_t cap = rlim_t(std::max(maxConnections, 1));
    if (::getrlimit(RLIMIT_NOFILE, &limit) == 0 && limit.rlim_cur != RLIM_INFINITY)
        cap = std::min(cap, std::max<rlim_t>(limit.rlim_cur / 4 * 3, 1));
    return int(cap);
}

bool SmtpListener::stressed() const
{
    const ByteBudget& budget = m_store.budget();
    return int(m_connections.size()) * 4 >= m_connectionCap * 3 || budget.remaining() < budget.limit() / 4;
}

void SmtpListener::sweepIdleClients()
{
    if (m_connections.empty()) {
        m_idleSweep.stop();
        return;
    }
    const milliseconds timeout = stressed()
        ? std::min(m_idleTimeout, std::max(m_idleTimeout / StressDivisor, MinStressedTimeout))
        : m_idleTimeout;
    const unsigned limit = ticks(timeout);
    std::vector<int> expired;
    for (const auto& [index, connection] : m_connections)
        if (++connection->idleTicks >= limit)
            expired.push_back(index);
    for (int index : expired)
        closeByServer(index, IdleReply, serverLine("Timeout", index) + withMilliseconds(IdleLine, timeout));
}

// The connection idle longest, of those idle at least minimumTicks (and holding part of the
// budget, when asked); 0 for none.
int SmtpListener::longestIdle(bool holdingBudget, unsigned minimumTicks) const
{
    int chosen = 0;
    const Connection* longest = nullptr;
    for (const auto& [index, connection] : m_connections) {
        const SmtpServerState& dialogue = connection->session.dialogue();
        if (connection->idleTicks < minimumTicks
            || (holdingBudget && dialogue.dataCharge.bytes() + dialogue.envelopeCharge.bytes() == 0))
            continue;
        if (!longest || connection->idleTicks > longest->idleTicks
            || (connection->idleTicks == longest->idleTicks && connection->serial < longest->serial)) {
            chosen = index;
            longest = connection.get();
        }
    }
    return chosen;
}

// Out of descriptors, or at the cap: a new client is worth more than one that does nothing.
void SmtpListener::makeRoomForClient()
{
    if (const int index = longestIdle(false, 0))
        closeByServer(index, EvictedReply,
                      serverLine("Evicted", index)
                          + withMilliseconds(EvictedLine, m_connections.at(index)->idleTicks * tick()));
}

// Runs inside a request for budget (a line of mail data, a message being stored): closes without
// letting events run.
bool SmtpListener::reclaimBudget(std::size_t bytes)
{
    std::size_t reclaimed = 0;
    while (reclaimed < bytes) {
        const int index = longestIdle(true, ticks(std::min(EvictableIdle, m_idleTimeout / StressDivisor)));
        if (index == 0)
            break;
        const Connection& connection = *m_connections.at(index);
        reclaimed
            += connection.session.dialogue().dataCharge.bytes() + connection.session.dialogue().envelopeCharge.bytes();
        closeByServer(index, EvictedReply,
                      serverLine("Evicted", index) + withMilliseconds(EvictedLine, connection.idleTicks * tick()));
    }
    return reclaimed > 0;
}

// Closes a client's connection from this side: the reply and whatever was queued before it still
// go out. The element goes once the current event is over, so this may run anywhere.
void SmtpListener::closeByServer(int index, std::string_view reply, const std::string& line)
{
    if (!m_connections.contains(index))
        return;
    SocketControl& socket = m_sockets->Element(index);
    if (!reply.empty()) {
        try {
            socket.SendData(reply);
        } catch (const AppError&) {
            // The client is already gone; it is closed all the same.
        }
    }
    if (!line.empty())
        log(line);
    // A client pushed out or timed out does not read: waiting for it would keep its descriptor.
    socket.Close(reply.empty());
    dropConnection(index);
    m_beingDestroyed.insert(index);
    QMetaObject::invokeMethod(
        this, [this, index] { finishClose(index); }, Qt::QueuedConnection);
}

void SmtpListener::finishClose(int index)
{
    trapped("sckSMTPServer_Close", index, [&] {
        m_beingDestroyed.erase(index);
        if (!m_sockets->Exists(index))
            return;
        logDetailed(serverLine("Close", index) + SocketClosedText);
        m_sockets->Unload(index);
        --m_connectionCount;
        m_host.connectionsChanged(m_connectionCount);
    });
}
