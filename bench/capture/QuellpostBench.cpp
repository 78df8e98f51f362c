// The real capture path without a screen: the main window with its listener, engine, store,
// viewer and log, listening on a loopback port until it is terminated.
//
// Usage: quellpost-bench --port N [--address 127.0.0.1] [--hidden] [--esmtp] [--max-memory SIZE]
//                        [--message-window [--no-list]]
//   --hidden      the window is not shown, so nothing is painted: what painting costs is the difference
//   --message-window  the message window open (View > Message view) with its list of messages;
//                 --no-list with the list hidden (View > Message list), as before the list existed
//   --esmtp       Modern SMTP (EHLO, STARTTLS, AUTH) on, as the program's own option turns it on
//   --max-memory  the byte budget for what the program holds for clients, as the program's own
//                 option takes it (default: the program's default)
// On SIGUSR1, or a line "report" on standard input, prints one line once the window shows the
// newest message (or after a second); with the message window's list, list_paints= counts its paints:
//   report messages=... stored_bytes=... capacity_bytes=... heap_bytes=... heap_base_bytes=...
//          heap_free_bytes=... peak_rss_kib=... rss_kib=... rss_base_kib=... budget_limit_bytes=...
//          budget_used_bytes=... budget_peak_bytes=... shown=... show_lag_ms=... window_paints=...
//          list_paints=...   (the main window's repaint passes; list_paints=-1 without the list)
// SIGTERM, SIGINT or a line "quit" end it after a last report, which waits (two minutes at most)
// until the message window's list has listed and painted every arrival.

#include <array>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <optional>
#include <string>
#include <string_view>

#include <malloc.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QAction>
#include <QApplication>
#include <QElapsedTimer>
#include <QEvent>
#include <QHostAddress>
#include <QLabel>
#include <QSocketNotifier>
#include <QTimer>

#include "ByteBudget.h"
#include "ListWatch.h"
#include "MessageBoxes.h"
#include "ProcessLimits.h"
#include "SmtpListener.h"
#include "clsEmailStorage.h"
#include "frmMain.h"

namespace {

// How often the window is looked at to learn when it caught up with the store.
constexpr int WatchIntervalMs = 5;
// How long a report waits for the window to show the newest message.
constexpr qint64 ReportWaitMs = 1000;
constexpr qint64 ListCatchUpMs = 120000;

int signalPipe[2] = {-1, -1};

void onSignal(int number)
{
    const char code = number == SIGUSR1 ? 'r' : 'q';
    const int saved = errno;
    [[maybe_unused]] const ssize_t written = ::write(signalPipe[1], &code, 1);
    errno = saved;
}

long statusKiB(std::string_view key)
{
    std::ifstream status("/proc/self/status");
    std::string name;
    while (status >> name) {
        if (name == key) {
            long kib = 0;
            status >> kib;
            return kib;
        }
        status.ignore(4096, '\n');
    }
    return -1;
}

// Bytes the C heap has handed out, large blocks included.
unsigned long long heapBytes()
{
    const struct mallinfo2 info = mallinfo2();
    return static_cast<unsigned long long>(info.uordblks) + static_cast<unsigned long long>(info.hblkhd);
}

// Bytes the C heap holds free: given back by the program, not yet to the system, and so still
// counted in the RSS as far as they were ever touched.
unsigned long long heapFreeBytes()
{
    return static_cast<unsigned long long>(mallinfo2().fordblks);
}

[[noreturn]] void usage(const char* why)
{
    std::fprintf(stderr,
                 "quellpost-bench: %s\nusage: quellpost-bench --port N [--address 127.0.0.1] [--hidden] [--esmtp] "
                 "[--message-window [--no-list]] "
                 "[--max-memory SIZE]\n",
                 why);
    std::exit(2);
}

// Watches the window from outside: when the store's count last changed, and when the window
// next painted the position caption of the newest message. What a widget holds is not yet on
// screen: only its paint counts. It hears of changes as the window does, from the store: a timer
// polling the count would wake the server's event loop for the bench's sake.
class ViewWatch : public QObject, public StoreObserver {
public:
    ViewWatch(frmMain& window, QObject* parent) : QObject(parent), m_window(window)
    {
        m_label = window.findChild<QLabel*>(QStringLiteral("lblMessage"));
        if (m_label != nullptr)
            m_label->installEventFilter(this);
        // Each pass of the window's repaint (whatever it covers) starts with one update request.
        window.installEventFilter(this);
        m_clock.start();
        window.emailStorage().addObserver(this);
    }

    void emailStored(std::int16_t) override { look(); }
    void emailRemoved(std::int16_t, std::uint64_t) override { look(); }
    void emailsCleared() override { look(); }

    // The last caption painted is the newest message's "Message: n/n".
    bool showsNewest()
    {
        look();
        return m_count > 0 && m_painted == newestCaption();
    }

    int paints() const { return m_paints; }

    // Milliseconds from the last change of the count to the paint that showed it; -1 while none did.
    double lagMs()
    {
        look();
        return m_paintedAt < 0 ? -1.0 : double(m_paintedAt - m_changedAt) / 1e6;
    }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (watched == &m_window && event->type() == QEvent::UpdateRequest)
            ++m_paints;
        if (watched == m_label && event->type() == QEvent::Paint) {
            look();
            m_painted = m_label->text();
            if (m_paintedAt < 0 && m_count > 0 && m_painted == newestCaption())
                m_paintedAt = m_clock.nsecsElapsed();
        }
        return false;
    }

private:
    QString newestCaption() const { return QStringLiteral("Message: %1/%1").arg(m_count); }

    void look()
    {
        const int count = m_window.emailStorage().Count();
        if (count != m_count) {
            m_count = count;
            m_changedAt = m_clock.nsecsElapsed();
            m_paintedAt = -1;
        }
    }

    frmMain& m_window;
    QLabel* m_label = nullptr;
    QElapsedTimer m_clock;
    QString m_painted;
    int m_count = 0;
    int m_paints = 0;
    qint64 m_changedAt = 0;
    qint64 m_paintedAt = -1;
};

struct Bench {
    frmMain* window = nullptr;
    ViewWatch* watch = nullptr;
    ListWatch* list = nullptr;
    unsigned long long heapBase = 0;
    long rssBaseKiB = 0;

    // Reports once the window has painted the newest message, or after a second at most: the
    // window may hold back its repaints while messages pour in.
    void reportWhenShown()
    {
        auto* clock = new QElapsedTimer;
        clock->start();
        auto* poll = new QTimer;
        QObject::connect(poll, &QTimer::timeout, [this, clock, poll] {
            if (window->emailStorage().Count() > 0 && !watch->showsNewest() && clock->elapsed() < ReportWaitMs)
                return;
            poll->stop();
            poll->deleteLater();
            delete clock;
            report();
        });
        poll->start(WatchIntervalMs);
    }

    void report() const
    {
        clsEmailStorage& store = window->emailStorage();
        unsigned long long stored = 0;
        unsigned long long capacity = 0;
        for (int position = 1; position <= store.Count(); ++position) {
            const auto index = static_cast<std::int16_t>(position);
            for (const std::string* field : {&store.EmailFrom(index), &store.EmailTo(index), &store.EmailBody(index)}) {
                stored += field->size();
                capacity += field->capacity();
            }
        }
        const ByteBudget& budget = store.budget();
        std::printf("report messages=%d stored_bytes=%llu capacity_bytes=%llu heap_bytes=%llu heap_base_bytes=%llu "
                    "heap_free_bytes=%llu peak_rss_kib=%ld rss_kib=%ld rss_base_kib=%ld budget_limit_bytes=%zu "
                    "budget_used_bytes=%zu "
                    "budget_peak_bytes=%zu shown=%d show_lag_ms=%.1f window_paints=%d list_paints=%d\n",
                    int(store.Count()), stored, capacity, heapBytes(), heapBase, heapFreeBytes(), statusKiB("VmHWM:"),
                    statusKiB("VmRSS:"), rssBaseKiB, budget.limit(), budget.used(), budget.peak(),
                    watch->showsNewest() ? 1 : 0, watch->lagMs(), watch->paints(), list ? list->paints() : -1);
        std::fflush(stdout);
    }
};

} // namespace

int main(int argc, char** argv)
{
    std::string address = "127.0.0.1";
    int port = 0;
    bool hidden = false;
    bool modernSmtp = false;
    bool messageWindow = false;
    bool list = true;
    std::optional<std::size_t> maxMemory;
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg = argv[i];
        if (arg == "--hidden") {
            hidden = true;
            continue;
        }
        if (arg == "--esmtp") {
            modernSmtp = true;
            continue;
        }
        if (arg == "--message-window") {
            messageWindow = true;
            continue;
        }
        if (arg == "--no-list") {
            list = false;
            continue;
        }
        if (i + 1 >= argc)
            usage("missing value");
        if (arg == "--port")
            port = std::atoi(argv[++i]);
        else if (arg == "--address")
            address = argv[++i];
        else if (arg == "--max-memory") {
            std::size_t bytes = 0;
            if (!parseByteSize(argv[++i], bytes))
                usage("--max-memory takes a size such as 512M or 4G");
            maxMemory = bytes;
        } else
            usage("unknown option");
    }
    if (port < 1 || port > 65535)
        usage("--port N is required (1-65535)");
    if (!QHostAddress(QString::fromStdString(address)).isLoopback())
        usage("--address must be a loopback address");
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");

    // Started as the program starts.
    raiseOpenFileLimit();
    QApplication app(argc, argv);
    // Boxes go to the default service: their text on standard error, answered OK.
    setMessageBoxService(nullptr);

    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, signalPipe) != 0)
        return 1;
    struct sigaction action { };
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (int number : {SIGUSR1, SIGTERM, SIGINT})
        sigaction(number, &action, nullptr);

    CaptureService service;
    frmMain window(service);
    if (!window.loaded())
        return 1;
    // Set where the program sets it: after the window is loaded, before anything arrives.
    if (maxMemory)
        service.store().budget().setLimit(*maxMemory);
    service.setListenAddress({address, port});
    if (modernSmtp)
        service.setModernSmtp(true);
    if (!hidden)
        window.show();
    if (messageWindow) {
        auto* listEntry = window.findChild<QAction*>(QStringLiteral("mnuMessageList"));
        auto* view = window.findChild<QAction*>(QStringLiteral("mnuMessageView"));
        if (listEntry == nullptr || view == nullptr)
            return 1;
        if (!list)
            listEntry->trigger();
        view->trigger();
    }
    auto* start = window.findChild<QAction*>(QStringLiteral("mnuStartStop"));
    if (start == nullptr)
        return 1;
    start->trigger();
    if (!window.listening()) {
        std::fprintf(stderr, "quellpost-bench: could not listen on port %d\n", port);
        return 1;
    }

    Bench bench;
    bench.window = &window;
    bench.watch = new ViewWatch(window, &app);
    bench.list = ListWatch::attach(window, &app);
    // Everything the program holds before the first message: what comes on top is the load's.
    QApplication::processEvents();
    bench.heapBase = heapBytes();
    bench.rssBaseKiB = statusKiB("VmRSS:");

    auto finish = [&] {
        QElapsedTimer waited;
        waited.start();
        while (bench.list && !bench.list->caughtUp() && waited.elapsed() < ListCatchUpMs)
            QApplication::processEvents(QEventLoop::WaitForMoreEvents, WatchIntervalMs);
        bench.report();
        QApplication::quit();
    };
    QSocketNotifier signalNotifier(signalPipe[0], QSocketNotifier::Read);
    QObject::connect(&signalNotifier, &QSocketNotifier::activated, [&] {
        char code = 0;
        if (::read(signalPipe[0], &code, 1) != 1)
            return;
        if (code == 'r')
            bench.reportWhenShown();
        else
            finish();
    });
    // Standard input: "report" or "quit", one a line. Its end only stops the reading, so the
    // program may also run with standard input closed.
    std::string pending;
    QSocketNotifier input(STDIN_FILENO, QSocketNotifier::Read);
    QObject::connect(&input, &QSocketNotifier::activated, [&] {
        std::array<char, 256> buffer{};
        const ssize_t n = ::read(STDIN_FILENO, buffer.data(), buffer.size());
        if (n <= 0) {
            input.setEnabled(false);
            return;
        }
        pending.append(buffer.data(), std::size_t(n));
        for (std::size_t end; (end = pending.find('\n')) != std::string::npos;) {
            const std::string line = pending.substr(0, end);
            pending.erase(0, end + 1);
            if (line == "report")
                bench.reportWhenShown();
            else if (line == "quit")
                finish();
        }
    });

    std::printf("listening port=%d\n", window.listener().listeningPort());
    std::fflush(stdout);
    const int exitCode = QApplication::exec();
    window.close();
    return exitCode;
}
