// How long the main window is busy when it shows, measures and searches a very large message body,
// and what one step with ">" costs at the start and at the end of many stored messages; then the
// same for the message window: a 20 MiB message with attachments shown decoded, and steps with
// the message window open.
// Every figure is wall-clock time from the click until the window has painted again; for the
// steps, the CPU time of the window's thread as well, which other load on the machine hardly disturbs.
// Usage: bench_viewer [body MiB, default 20] [messages, default 10000]

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include <time.h>

#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

#include "BodyScrollBars.h"
#include "BodyTextMetrics.h"
#include "MessageBodyView.h"
#include "clsEmailStorage.h"
#include "frmMain.h"
#include "frmMessage.h"

namespace {

using Clock = std::chrono::steady_clock;

double msSince(Clock::time_point start)
{
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

double threadCpuMs()
{
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return double(now.tv_sec) * 1e3 + double(now.tv_nsec) / 1e6;
}

template <class Widget> Widget* control(const frmMain& window, const char* name)
{
    auto* widget = window.findChild<Widget*>(QString::fromLatin1(name));
    if (!widget) {
        std::fprintf(stderr, "no control %s\n", name);
        std::exit(1);
    }
    return widget;
}

// Runs one user action and lets the window paint; returns the milliseconds it took.
template <class Action> double timed(Action action)
{
    const auto start = Clock::now();
    action();
    QCoreApplication::processEvents();
    return msSince(start);
}

// Half of it in ordinary lines, half in lines of about a mebibyte; the marker closes it.
std::string largeBody(std::size_t bytes, char variant, const std::string& marker)
{
    std::string body;
    body.reserve(bytes + 1024);
    for (long i = 0; body.size() < bytes / 2; ++i)
        body += "Line " + std::to_string(i) + " of an ordinary message body, written in plain text (" + variant
            + ").\r\n";
    const std::string run = "lorem ipsum dolor sit amet, consectetur adipiscing elit\tsed do eiusmod tempor ";
    while (body.size() < bytes) {
        std::string line;
        while (line.size() < (1u << 20) && body.size() + line.size() < bytes)
            line += run;
        body += line + "\r\n";
    }
    body += marker + "\r\n";
    return body;
}

void search(frmMain& window, const char* button, const char* text, const char* category)
{
    control<QLineEdit>(window, "txtMessagesSearchFor")->setText(QString::fromLatin1(text));
    auto* categories = control<QComboBox>(window, "cboMessagesSearchFor");
    categories->setCurrentIndex(categories->findText(QString::fromLatin1(category)));
    control<QPushButton>(window, button)->click();
}

void largeBodies(std::size_t mebibytes)
{
    CaptureService service;
    frmMain window(service);
    window.show();
    QCoreApplication::processEvents();
    clsEmailStorage& store = window.emailStorage();
    const std::size_t bytes = mebibytes << 20;
    store.StoreEmail("<first@example.com>", "<to@example.com>", largeBody(bytes, 'a', "needle at the end"));
    store.StoreEmail("<second@example.com>", "<to@example.com>", largeBody(bytes, 'b', "another end"));
    const std::string& body = store.EmailBody(1);
    auto* view = control<MessageBodyView>(window, "txtMessageBody");

    std::size_t lines = 1;
    std::size_t longest = 0;
    for (std::size_t start = 0, end; (end = body.find('\n', start)) != std::string::npos; start = end + 1, ++lines)
        longest = std::max(longest, end - start);
    std::printf("Body of %.1f MiB in %zu lines, the longest of %zu bytes\n", double(body.size()) / (1 << 20), lines,
                longest);
    const double show = timed([&] { search(window, "cmdMessagesFind", "first", "From:"); });
    std::printf("  Find in \"From:\", showing it             %8.1f ms\n", show);

    const Latin1Metrics metrics = metricsForFont(view->font());
    auto start = Clock::now();
    const TextExtent extent = measureText(body, metrics);
    const BodyScrollBarNeeds needs = decideBodyScrollBars(5775, 2775, float(extent.widest) / 64 * 15,
                                                          float(extent.lines * metrics.lineHeight * 15));
    std::printf("    of which measuring for the scroll bars %8.1f ms (bars: %s%s)\n", msSince(start),
                needs.vertical ? "vertical " : "", needs.horizontal ? "horizontal" : "");
    start = Clock::now();
    store.FindFirstEmailBodyWith("needle at the end");
    std::printf("    a store search through the body       %8.1f ms\n", msSince(start));

    std::printf("  Find in \"Body\" for the last line        %8.1f ms\n",
                timed([&] { search(window, "cmdMessagesFind", "NEEDLE AT THE END", "Body"); }));
    std::printf("    selected \"%s\", top line %zu of %zu\n", view->selectedText().c_str(), view->topLine(),
                view->lineCount());
    std::printf("  \">\" to the other large message          %8.1f ms\n",
                timed([&] { control<QPushButton>(window, "cmdMessageNext")->click(); }));
    std::printf("  \"<\" back                               %8.1f ms\n",
                timed([&] { control<QPushButton>(window, "cmdMessagePrev")->click(); }));
    std::printf("  half a MiB into a long line, painted    %8.1f ms\n", timed([&] {
                    view->setSelection(body.size() / 2 + (1u << 19), 1);
                    view->viewport()->repaint();
                }));
    // The body view's own paint, the selection in view half a MiB into a line: the mean of many.
    constexpr int repaints = 200;
    start = Clock::now();
    for (int i = 0; i < repaints; ++i)
        view->viewport()->repaint();
    std::printf("    one repaint of the body there           %8.3f ms\n", msSince(start) / repaints);
    std::printf("  \"x\" deleting it                         %8.1f ms\n",
                timed([&] { control<QPushButton>(window, "cmdMessageDelete")->click(); }));
}

struct Steps {
    double mean = 0;
    double median = 0;
    double worst = 0;
};

Steps summary(std::vector<double> steps)
{
    Steps s;
    for (double step : steps)
        s.mean += step / double(steps.size());
    std::sort(steps.begin(), steps.end());
    s.median = steps[steps.size() / 2];
    s.worst = steps.back();
    return s;
}

void report(const char* what, const std::vector<double>& steps, std::size_t from, std::size_t to)
{
    const Steps s = summary({steps.begin() + std::ptrdiff_t(from), steps.begin() + std::ptrdiff_t(to)});
    std::printf("  %-32s mean %.3f ms, median %.3f ms, worst %.3f ms\n", what, s.mean, s.median, s.worst);
}

void manyMessages(int messages)
{
    CaptureService service;
    frmMain window(service);
    window.show();
    QCoreApplication::processEvents();
    clsEmailStorage& store = window.emailStorage();
    std::string body;
    for (int line = 0; line < 60; ++line)
        body += "An ordinary line of a captured message, line " + std::to_string(line) + ".\r\n";
    store.StoreEmail("<first@example.com>", "<to@example.com>", body);
    for (int i = 2; i <= messages; ++i)
        store.StoreEmail("<sender" + std::to_string(i) + "@example.com>", "<to@example.com>", body + std::to_string(i));
    search(window, "cmdMessagesFind", "first", "From:");

    auto* next = control<QPushButton>(window, "cmdMessageNext");
    std::vector<double> wall;
    std::vector<double> cpu;
    const auto start = Clock::now();
    while (next->isEnabled()) {
        const double cpuStart = threadCpuMs();
        wall.push_back(timed([&] { next->click(); }));
        cpu.push_back(threadCpuMs() - cpuStart);
    }
    const std::size_t steps = wall.size();
    const std::size_t sample = std::min<std::size_t>(1000, steps);
    std::printf("%d messages of %zu bytes, %zu steps with \">\" in %.0f ms, now at %s\n", messages, body.size(), steps,
                msSince(start), qPrintable(control<QLabel>(window, "lblMessage")->text()));
    report("first 1,000 steps, wall clock:", wall, 0, sample);
    report("last 1,000 steps, wall clock:", wall, steps - sample, steps);
    report("first 1,000 steps, CPU:", cpu, 0, sample);
    report("last 1,000 steps, CPU:", cpu, steps - sample, steps);
}

// A mail as applications send it: text and HTML alternatives, an inline logo; and attachments of
// the given size in all, Base64 in lines of 76.
std::string mimeMail(int number, std::size_t attachmentBytes)
{
    std::string mail = "From: Shop <shop@example.com>\r\nTo: ann@example.com\r\nSubject: Order "
        + std::to_string(number)
        + "\r\nDate: Sun, 6 Dec 2026 22:00:00 +0000\r\nMIME-Version: 1.0\r\n"
          "Content-Type: multipart/mixed; boundary=\"m\"\r\n\r\n--m\r\n"
          "Content-Type: multipart/related; boundary=\"r\"\r\n\r\n--r\r\n"
          "Content-Type: multipart/alternative; boundary=\"a\"\r\n\r\n--a\r\n"
          "Content-Type: text/plain; charset=utf-8\r\nContent-Transfer-Encoding: quoted-printable\r\n\r\n";
    for (int line = 0; line < 30; ++line)
        mail += "Gr=C3=BC=C3=9Fe, your order " + std::to_string(number) + " line " + std::to_string(line) + "\r\n";
    mail += "--a\r\nContent-Type: text/html; charset=utf-8\r\n\r\n<table width=600><tr><td><img src=\"cid:logo\">"
            "</td></tr>";
    for (int row = 0; row < 30; ++row)
        mail += "<tr><td style=\"color:#333;padding:4px\">Item " + std::to_string(row) + "</td><td>9.99</td></tr>\r\n";
    mail += "</table>\r\n--a--\r\n--r\r\nContent-Type: image/gif\r\nContent-Transfer-Encoding: base64\r\n"
            "Content-ID: <logo>\r\n\r\nR0lGODlhAQABAIAAAAAAAP///yH5BAEAAAAALAAAAAABAAEAAAIBRAA7\r\n--r--\r\n";
    const std::size_t parts = attachmentBytes >= (4u << 20) ? 4 : (attachmentBytes > 0 ? 1 : 0);
    for (std::size_t part = 0; part < parts; ++part) {
        mail += "--m\r\nContent-Type: application/octet-stream\r\nContent-Transfer-Encoding: base64\r\n"
                "Content-Disposition: attachment; filename=\"data"
            + std::to_string(part) + ".bin\"\r\n\r\n";
        const std::string line(76, 'A');
        for (std::size_t written = 0; written < attachmentBytes / parts / 3 * 4; written += 76)
            mail += line + "\r\n";
    }
    return mail + "--m--\r\n";
}

void messageWindow(int messages)
{
    CaptureService service;
    frmMain window(service);
    window.show();
    QCoreApplication::processEvents();
    clsEmailStorage& store = window.emailStorage();
    store.StoreEmail("<shop@example.com>", "<ann@example.com>", mimeMail(0, 15u << 20));
    for (int i = 1; i < messages; ++i)
        store.StoreEmail("<shop@example.com>", "<ann@example.com>", mimeMail(i, 0));
    search(window, "cmdMessagesFind", "shop", "From:");
    std::printf("Message window: a message of %.1f MiB with 4 attachments, %d messages of %zu bytes\n",
                double(store.EmailBody(1).size()) / (1 << 20), messages - 1, store.EmailBody(2).size());
    auto* open = window.findChild<QAction*>(QStringLiteral("mnuMessageView"));
    const double shown = timed([&] { open->trigger(); });
    std::printf("  Ctrl+M on the large one, shown decoded   %8.1f ms (%zu attachments)\n", shown,
                window.messageWindow()->message()->attachments.size());
    auto* next = control<QPushButton>(window, "cmdMessageNext");
    auto* prev = control<QPushButton>(window, "cmdMessagePrev");
    std::printf("  \">\" away from it                        %8.1f ms\n", timed([&] { next->click(); }));
    std::printf("  \"<\" back to it                          %8.1f ms\n", timed([&] { prev->click(); }));
    next->click();
    std::vector<double> wall;
    std::vector<double> cpu;
    while (next->isEnabled()) {
        const double cpuStart = threadCpuMs();
        wall.push_back(timed([&] { next->click(); }));
        cpu.push_back(threadCpuMs() - cpuStart);
    }
    report("\">\", message window open, wall:", wall, 0, wall.size());
    report("\">\", message window open, CPU:", cpu, 0, cpu.size());
}

} // namespace

void mimeParse(std::size_t mebibytes); // MimeParseBench.cpp

int main(int argc, char** argv)
{
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const std::size_t mebibytes = argc > 1 ? std::size_t(std::max(1, std::atoi(argv[1]))) : 20;
    const int messages = argc > 2 ? std::clamp(std::atoi(argv[2]), 2, 32767) : 10000;
    largeBodies(mebibytes);
    manyMessages(messages);
    mimeParse(mebibytes);
    messageWindow(std::min(messages, 1000));
    return 0;
}
