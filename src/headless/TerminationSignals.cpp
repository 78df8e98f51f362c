#include "TerminationSignals.h"

#include <atomic>
#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QSocketNotifier>

#include "AppError.h"

namespace {

// One pair for the process: signal dispositions are process-wide too.
int g_pair[2] = {-1, -1};
constexpr const char* SocketPairText = "Cannot watch for termination signals: no socket pair.";
constexpr int WatchedSignals[] = {SIGTERM, SIGINT};
std::atomic<unsigned> g_forcedEndSeconds{0};
std::atomic<bool> g_requested{false};
static_assert(std::atomic<bool>::is_always_lock_free && std::atomic<unsigned>::is_always_lock_free,
              "used inside a signal handler");

void onSignal(int signalNumber)
{
    const int savedErrno = errno;
    const auto byte = static_cast<unsigned char>(signalNumber);
    // A full pipe already holds a request to end: the byte may be lost without harm.
    [[maybe_unused]] const ssize_t written = ::write(g_pair[0], &byte, 1);
    if (!g_requested.exchange(true))
        ::alarm(g_forcedEndSeconds);
    errno = savedErrno;
}

void onForcedEnd(int)
{
    ::_exit(0);
}

} // namespace

TerminationSignals::TerminationSignals(std::chrono::seconds forcedEndDelay, QObject* parent) : QObject(parent)
{
    g_forcedEndSeconds = unsigned(forcedEndDelay.count());
    g_requested = false;
    if (g_pair[0] < 0) {
        if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, g_pair) != 0)
            throw AppError(ErrorNumber::Unexpected, SocketPairText);
        ::fcntl(g_pair[0], F_SETFL, ::fcntl(g_pair[0], F_GETFL) | O_NONBLOCK);
    }
    m_notifier = std::make_unique<QSocketNotifier>(g_pair[1], QSocketNotifier::Read);
    connect(m_notifier.get(), &QSocketNotifier::activated, this, [this] {
        unsigned char byte = 0;
        if (::read(g_pair[1], &byte, 1) == 1)
            emit requested(byte);
    });
    struct sigaction action = {};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (int signalNumber : WatchedSignals)
        ::sigaction(signalNumber, &action, nullptr);
    action.sa_handler = onForcedEnd;
    ::sigaction(SIGALRM, &action, nullptr);
}

TerminationSignals::~TerminationSignals()
{
    ::alarm(0);
    for (int signalNumber : WatchedSignals)
        std::signal(signalNumber, SIG_DFL);
    std::signal(SIGALRM, SIG_DFL);
}
