// Load driver for SMTP capture servers: N sessions at once over non-blocking sockets, each
// waiting for every reply before the next command (no pipelining). A message counts as kept
// only when the server answered "250" to its ".", so a server that drops messages cannot
// look fast.
//
// Usage: smtp-load --port N [--host 127.0.0.1] [--sessions 1] [--messages 1] [--size 1024]
//                  [--line 76] [--burst] [--open-wait 10] [--deadline 120]
//   --messages   messages per session (0: only greeting, HELO and QUIT, to probe a server)
//   --size       bytes of each message as sent between DATA and "." (headers included)
//   --line       characters per line of the message text, CR LF not counted
//   --burst      open every connection and finish its greeting and HELO first, then send
//   --open-wait  seconds the burst waits for its last connection before the others go ahead
//   --deadline   seconds; what is unfinished then counts as lost
// Prints one line: confirmed=... attempted=... started=... rejected=... rejected_4xx=...
// rejected_5xx=... lost=... elapsed_s=... msgs_per_s=... mb_per_s=...
// A message the server refused with a reply (a 4xx or 5xx to MAIL, RCPT, DATA or ".") counts as
// rejected; one that got no reply at all (a broken session, the deadline) counts as lost.

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/epoll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

using Clock = std::chrono::steady_clock;

constexpr std::string_view Sender = "bench-sender@bench.example";
constexpr std::string_view Recipient = "bench-recipient@bench.example";
constexpr std::string_view LineEnd = "\r\n";

struct Options {
    std::string host = "127.0.0.1";
    int port = 0;
    int sessions = 1;
    long messages = 1;
    std::size_t size = 1024;
    std::size_t line = 76;
    bool burst = false;
    double openWait = 10.0;
    double deadline = 120.0;
};

[[noreturn]] void usage(const char* why)
{
    std::fprintf(stderr, "smtp-load: %s\n", why);
    std::fprintf(stderr,
                 "usage: smtp-load --port N [--host 127.0.0.1] [--sessions N] [--messages N] "
                 "[--size BYTES] [--line CHARS] [--burst] [--open-wait SECONDS] [--deadline SECONDS]\n");
    std::exit(2);
}

long number(const char* text, long low, long high)
{
    char* end = nullptr;
    errno = 0;
    const long value = std::strtol(text, &end, 10);
    if (errno != 0 || end == text || *end != '\0' || value < low || value > high)
        usage("bad number");
    return value;
}

Options parse(int argc, char** argv)
{
    Options options;
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg = argv[i];
        auto value = [&]() -> const char* {
            if (i + 1 >= argc)
                usage("missing value");
            return argv[++i];
        };
        if (arg == "--host")
            options.host = value();
        else if (arg == "--port")
            options.port = int(number(value(), 1, 65535));
        else if (arg == "--sessions")
            options.sessions = int(number(value(), 1, 10000));
        else if (arg == "--messages")
            options.messages = number(value(), 0, 100000000);
        else if (arg == "--size")
            options.size = std::size_t(number(value(), 64, 1L << 30));
        else if (arg == "--line")
            options.line = std::size_t(number(value(), 1, 1L << 26));
        else if (arg == "--burst")
            options.burst = true;
        else if (arg == "--open-wait")
            options.openWait = double(number(value(), 0, 3600));
        else if (arg == "--deadline")
            options.deadline = double(number(value(), 1, 3600));
        else
            usage("unknown option");
    }
    if (options.port == 0)
        usage("--port is required");
    return options;
}

// The text between DATA's 354 and the end, terminator included: headers, a blank line, then
// lines of the given length, padded so that everything before ".\r\n" is exactly `size` bytes.
std::string buildMessage(std::size_t size, std::size_t lineLength)
{
    std::string text;
    text.reserve(size + 3);
    text += "From: <";
    text += Sender;
    text += ">\r\nTo: <";
    text += Recipient;
    text += ">\r\nSubject: capture benchmark\r\n\r\n";
    static constexpr std::string_view Alphabet = "abcdefghijklmnopqrstuvwxyz ABCDEFGHIJKLMNOPQRSTUVWXYZ 0123456789";
    std::size_t k = 0;
    while (text.size() + LineEnd.size() < size) {
        const std::size_t room = size - text.size() - LineEnd.size();
        // A last piece too short to stand as a line of its own joins the one before.
        std::size_t length = std::min(lineLength, room);
        if (room - length < LineEnd.size() + 1)
            length = room;
        for (std::size_t i = 0; i < length; ++i)
            text += Alphabet[(k++) % Alphabet.size()];
        // Never a leading dot, never a trailing blank.
        if (text.back() == ' ')
            text.back() = 'x';
        text += LineEnd;
    }
    text += ".\r\n";
    return text;
}

enum class Step { Connecting, Greeting, Ehlo, Helo, Ready, Mail, Rcpt, Data, Dot, Rset, Quit, Done, Failed };

struct Session {
    int fd = -1;
    Step step = Step::Connecting;
    long sent = 0; // messages whose "." was sent
    long confirmed = 0;
    std::string command;  // the command being written
    std::string_view out; // what remains to be written: the command or the shared message
    std::string in;       // reply text not yet complete
    bool wantWrite = false;
};

struct Totals {
    long confirmed = 0;
    long started = 0; // messages whose MAIL was sent
    long rejected = 0;
    long rejectedTemporary = 0; // 4xx: the server may take it later
    long rejectedPermanent = 0; // 5xx and anything else that is no success
    long failedSessions = 0;
    long completedSessions = 0;
    std::string firstError;
};

class Driver {
public:
    explicit Driver(const Options& options)
        : m_options(options), m_message(buildMessage(options.size, options.line)) { }

    int run()
    {
        sockaddr_storage address{};
        socklen_t addressLength = 0;
        if (!resolve(address, addressLength))
            usage("--host must be a loopback address (127.x.x.x or ::1)");
        m_epoll = epoll_create1(EPOLL_CLOEXEC);
        if (m_epoll < 0)
            return fail("epoll_create1");
        m_start = Clock::now();
        m_sessions.resize(std::size_t(m_options.sessions));
        for (std::size_t i = 0; i < m_sessions.size(); ++i)
            open(i, address, addressLength);

        const auto deadline = m_start + std::chrono::duration<double>(m_options.deadline);
        const auto burstDeadline = m_start + std::chrono::duration<double>(m_options.openWait);
        bool released = !m_options.burst;
        std::vector<epoll_event> events(1024);
        bool timedOut = false;
        while (active() > 0) {
            if (!released && (waitingAtStart() == active() || Clock::now() >= burstDeadline)) {
                released = true;
                for (std::size_t i = 0; i < m_sessions.size(); ++i)
                    if (m_sessions[i].step == Step::Ready)
                        nextMessage(i);
            }
            const auto now = Clock::now();
            if (now >= deadline) {
                timedOut = true;
                break;
            }
            const auto untilDeadline = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - now).count();
            const int timeout = int(std::clamp<long long>(untilDeadline, 1, released ? 1000 : 50));
            const int n = epoll_wait(m_epoll, events.data(), int(events.size()), timeout);
            if (n < 0) {
                if (errno == EINTR)
                    continue;
                return fail("epoll_wait");
            }
            for (int e = 0; e < n; ++e)
                handle(std::size_t(events[std::size_t(e)].data.u64), events[std::size_t(e)].events, released);
        }
        const double elapsed = std::chrono::duration<double>(Clock::now() - m_start).count();
        for (std::size_t i = 0; i < m_sessions.size(); ++i) {
            Session& s = m_sessions[i];
            if (s.step != Step::Done && s.step != Step::Failed)
                abandon(i, "deadline reached");
        }
        report(elapsed, timedOut);
        return 0;
    }

private:
    bool resolve(sockaddr_storage& address, socklen_t& length) const
    {
        auto* v4 = reinterpret_cast<sockaddr_in*>(&address);
        if (inet_pton(AF_INET, m_options.host.c_str(), &v4->sin_addr) == 1) {
            if ((ntohl(v4->sin_addr.s_addr) >> 24) != 127)
                return false;
            v4->sin_family = AF_INET;
            v4->sin_port = htons(std::uint16_t(m_options.port));
            length = sizeof(sockaddr_in);
            return true;
        }
        auto* v6 = reinterpret_cast<sockaddr_in6*>(&address);
        if (inet_pton(AF_INET6, m_options.host.c_str(), &v6->sin6_addr) == 1) {
            if (!IN6_IS_ADDR_LOOPBACK(&v6->sin6_addr))
                return false;
            v6->sin6_family = AF_INET6;
            v6->sin6_port = htons(std::uint16_t(m_options.port));
            length = sizeof(sockaddr_in6);
            return true;
        }
        return false;
    }

    int fail(const char* what)
    {
        std::fprintf(stderr, "smtp-load: %s: %s\n", what, std::strerror(errno));
        return 1;
    }

    long active() const { return long(m_sessions.size()) - m_totals.completedSessions - m_totals.failedSessions; }

    long waitingAtStart() const
    {
        return long(std::count_if(m_sessions.begin(), m_sessions.end(),
                                  [](const Session& s) { return s.step == Step::Ready; }));
    }

    void open(std::size_t i, const sockaddr_storage& address, socklen_t length)
    {
        Session& s = m_sessions[i];
        s.fd = socket(address.ss_family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
        if (s.fd < 0) {
            abandon(i, std::string("socket: ") + std::strerror(errno));
            return;
        }
        const int one = 1;
        setsockopt(s.fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
        if (connect(s.fd, reinterpret_cast<const sockaddr*>(&address), length) != 0 && errno != EINPROGRESS) {
            abandon(i, std::string("connect: ") + std::strerror(errno));
            return;
        }
        epoll_event event{};
        event.events = EPOLLIN | EPOLLOUT;
        event.data.u64 = i;
        epoll_ctl(m_epoll, EPOLL_CTL_ADD, s.fd, &event);
        s.wantWrite = true;
    }

    void watchWrite(std::size_t i, bool on)
    {
        Session& s = m_sessions[i];
        if (s.wantWrite == on || s.fd < 0)
            return;
        s.wantWrite = on;
        epoll_event event{};
        event.events = EPOLLIN | (on ? EPOLLOUT : 0u);
        event.data.u64 = i;
        epoll_ctl(m_epoll, EPOLL_CTL_MOD, s.fd, &event);
    }

    void handle(std::size_t i, std::uint32_t events, bool released)
    {
        Session& s = m_sessions[i];
        if (s.step == Step::Done || s.step == Step::Failed)
            return;
        if (s.step == Step::Connecting) {
            int error = 0;
            socklen_t length = sizeof error;
            getsockopt(s.fd, SOL_SOCKET, SO_ERROR, &error, &length);
            if (error != 0) {
                abandon(i, std::string("connect: ") + std::strerror(error));
                return;
            }
            if (!(events & (EPOLLOUT | EPOLLIN)))
                return;
            s.step = Step::Greeting;
            watchWrite(i, false);
        }
        if (events & EPOLLOUT)
            flush(i);
        if (s.step == Step::Failed)
            return;
        if (events & (EPOLLIN | EPOLLHUP | EPOLLERR))
            receive(i, released);
    }

    void send(std::size_t i, std::string command)
    {
        Session& s = m_sessions[i];
        s.command = std::move(command);
        s.command += LineEnd;
        s.out = s.command;
        flush(i);
    }

    void sendMessage(std::size_t i)
    {
        Session& s = m_sessions[i];
        s.out = m_message;
        flush(i);
    }

    void flush(std::size_t i)
    {
        Session& s = m_sessions[i];
        while (!s.out.empty()) {
            const ssize_t n = ::send(s.fd, s.out.data(), s.out.size(), MSG_NOSIGNAL);
            if (n < 0) {
                if (errno == EAGAIN || errno == EWOULDBLOCK) {
                    watchWrite(i, true);
                    return;
                }
                if (errno == EINTR)
                    continue;
                abandon(i, std::string("send: ") + std::strerror(errno));
                return;
            }
            s.out.remove_prefix(std::size_t(n));
        }
        watchWrite(i, false);
    }

    void receive(std::size_t i, bool released)
    {
        Session& s = m_sessions[i];
        char buffer[16384];
        for (;;) {
            const ssize_t n = recv(s.fd, buffer, sizeof buffer, 0);
            if (n > 0) {
                s.in.append(buffer, std::size_t(n));
                continue;
            }
            if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK))
                break;
            if (n < 0 && errno == EINTR)
                continue;
            // Closed by the server, or a reset: the replies already read still count.
            consume(i, released);
            if (s.step == Step::Quit)
                finish(i);
            else if (s.step != Step::Done && s.step != Step::Failed)
                abandon(i, n == 0 ? "closed by the server" : std::string("recv: ") + std::strerror(errno));
            return;
        }
        consume(i, released);
    }

    // Takes every complete reply out of the input; a reply ends with a line "NNN " or "NNN".
    void consume(std::size_t i, bool released)
    {
        Session& s = m_sessions[i];
        std::size_t start = 0;
        for (std::size_t end; (end = s.in.find(LineEnd, start)) != std::string::npos;) {
            const std::string_view line(s.in.data() + start, end - start);
            start = end + LineEnd.size();
            if (line.size() >= 4 && line[3] == '-')
                continue;
            const int code = line.size() >= 3 ? std::atoi(std::string(line.substr(0, 3)).c_str()) : 0;
            reply(i, code, line, released);
            if (s.step == Step::Done || s.step == Step::Failed)
                return;
        }
        s.in.erase(0, start);
    }

    void reply(std::size_t i, int code, std::string_view line, bool released)
    {
        Session& s = m_sessions[i];
        const int kind = code / 100;
        switch (s.step) {
        case Step::Greeting:
            if (kind != 2)
                return abandon(i, "greeting: " + std::string(line));
            s.step = Step::Ehlo;
            return send(i, "EHLO bench.example");
        case Step::Ehlo:
            if (kind == 5) {
                s.step = Step::Helo;
                return send(i, "HELO bench.example");
            }
            if (kind != 2)
                return abandon(i, "EHLO: " + std::string(line));
            return ready(i, released);
        case Step::Helo:
            if (kind != 2)
                return abandon(i, "HELO: " + std::string(line));
            return ready(i, released);
        case Step::Mail:
            if (kind != 2)
                return rejected(i, code, "MAIL: " + std::string(line));
            s.step = Step::Rcpt;
            return send(i, "RCPT TO:<" + std::string(Recipient) + ">");
        case Step::Rcpt:
            if (kind != 2)
                return rejected(i, code, "RCPT: " + std::string(line));
            s.step = Step::Data;
            return send(i, "DATA");
        case Step::Data:
            if (code != 354)
                return rejected(i, code, "DATA: " + std::string(line));
            s.step = Step::Dot;
            ++s.sent;
            return sendMessage(i);
        case Step::Dot:
            if (code == 250) {
                ++s.confirmed;
                ++m_totals.confirmed;
            } else {
                count(code);
                note("end of data: " + std::string(line));
            }
            return nextMessage(i);
        case Step::Rset:
            return nextMessage(i);
        case Step::Quit:
            return finish(i);
        default:
            return abandon(i, "unexpected reply: " + std::string(line));
        }
    }

    void ready(std::size_t i, bool released)
    {
        m_sessions[i].step = Step::Ready;
        if (released)
            nextMessage(i);
    }

    void nextMessage(std::size_t i)
    {
        Session& s = m_sessions[i];
        if (s.sent >= m_options.messages) {
            s.step = Step::Quit;
            return send(i, "QUIT");
        }
        ++m_totals.started;
        s.step = Step::Mail;
        send(i, "MAIL FROM:<" + std::string(Sender) + ">");
    }

    // MAIL, RCPT or DATA refused: the message is given up, the session goes on.
    void rejected(std::size_t i, int code, const std::string& why)
    {
        Session& s = m_sessions[i];
        count(code);
        ++s.sent;
        note(why);
        s.step = Step::Rset;
        send(i, "RSET");
    }

    void count(int code)
    {
        ++m_totals.rejected;
        if (code / 100 == 4)
            ++m_totals.rejectedTemporary;
        else
            ++m_totals.rejectedPermanent;
    }

    void note(const std::string& why)
    {
        if (m_totals.firstError.empty())
            m_totals.firstError = why;
    }

    void finish(std::size_t i)
    {
        Session& s = m_sessions[i];
        close(i);
        s.step = Step::Done;
        ++m_totals.completedSessions;
    }

    void abandon(std::size_t i, const std::string& why)
    {
        Session& s = m_sessions[i];
        if (s.step == Step::Done || s.step == Step::Failed)
            return;
        note(why);
        close(i);
        s.step = Step::Failed;
        ++m_totals.failedSessions;
    }

    void close(std::size_t i)
    {
        Session& s = m_sessions[i];
        if (s.fd >= 0) {
            epoll_ctl(m_epoll, EPOLL_CTL_DEL, s.fd, nullptr);
            ::close(s.fd);
            s.fd = -1;
        }
        s.out = {};
    }

    void report(double elapsed, bool timedOut) const
    {
        const double seconds = std::max(elapsed, 1e-9);
        const double bytes = double(m_totals.confirmed) * double(m_options.size);
        // Every message of the workload was meant to be sent: one a broken session never reached is lost.
        const long attempted = long(m_options.sessions) * m_options.messages;
        const long lost = attempted - m_totals.confirmed - m_totals.rejected;
        std::printf("confirmed=%ld attempted=%ld started=%ld rejected=%ld rejected_4xx=%ld rejected_5xx=%ld lost=%ld "
                    "sessions=%d failed_sessions=%ld timed_out=%d elapsed_s=%.6f msgs_per_s=%.1f mb_per_s=%.3f "
                    "message_bytes=%zu",
                    m_totals.confirmed, attempted, m_totals.started, m_totals.rejected, m_totals.rejectedTemporary,
                    m_totals.rejectedPermanent, lost, m_options.sessions, m_totals.failedSessions, timedOut ? 1 : 0,
                    elapsed, double(m_totals.confirmed) / seconds, bytes / seconds / 1e6, m_options.size);
        if (!m_totals.firstError.empty()) {
            std::string why = m_totals.firstError;
            std::replace(why.begin(), why.end(), ' ', '_');
            std::printf(" first_error=%s", why.c_str());
        }
        std::printf("\n");
        std::fflush(stdout);
    }

    Options m_options;
    const std::string m_message;
    std::vector<Session> m_sessions;
    Totals m_totals;
    int m_epoll = -1;
    Clock::time_point m_start;
};

} // namespace

int main(int argc, char** argv)
{
    const Options options = parse(argc, argv);
    Driver driver(options);
    return driver.run();
}
