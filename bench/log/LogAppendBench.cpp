// Cost of one log append at the start of the log and after a million lines, with the log
// window on screen and the event loop painting between batches, as under a busy server. Past
// the log's line budget every append also drops the oldest line.
// Usage: bench_log [lines] [--qlistwidget]   (--qlistwidget: the same load on a QListWidget)

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include <time.h>

#include <QApplication>
#include <QListWidget>

#include "LogListBox.h"
#include "frmLog.h"
#include "mdlListBoxMod.h"

namespace {

using Clock = std::chrono::steady_clock;

// CPU time of this thread: other processes on the machine hardly disturb it.
double threadCpuNs()
{
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return double(now.tv_sec) * 1e9 + double(now.tv_nsec);
}

constexpr long BatchSize = 1000;
constexpr long SampleSize = 10000;

std::string lineFor(long i)
{
    // Mostly short server lines; now and then a wider one, so the extent grows a few times.
    std::string line = "SMTPServer::DataArrival, index " + std::to_string(i % 97) + ": Receiving "
        + std::to_string(100 + i % 4000) + " bytes.";
    if (i % 100000 == 99999)
        line += " " + std::string(std::size_t(20 + i / 20000), 'x');
    return line;
}

long residentKiB()
{
    std::ifstream status("/proc/self/status");
    std::string key;
    while (status >> key) {
        if (key == "VmRSS:") {
            long kib = 0;
            status >> kib;
            return kib;
        }
    }
    return -1;
}

// Per batch: time inside the append calls, and time in the event loop that follows.
struct Batch {
    double appendNs = 0;
    double loopNs = 0;
};

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values.empty() ? 0.0 : values[values.size() / 2];
}

// Mean and median cost per append over batches [from, to): the median shrugs off other load.
void report(const char* what, const std::vector<Batch>& batches, std::size_t from, std::size_t to)
{
    std::vector<double> inCall, withLoop;
    double sumCall = 0, sumLoop = 0;
    for (std::size_t i = from; i < to; ++i) {
        inCall.push_back(batches[i].appendNs / BatchSize / 1000.0);
        withLoop.push_back((batches[i].appendNs + batches[i].loopNs) / BatchSize / 1000.0);
        sumCall += inCall.back();
        sumLoop += withLoop.back();
    }
    const double n = double(to - from);
    std::printf("%-26s in the call %7.2f us (median %7.2f), with the event loop %7.2f us (median %7.2f)\n", what,
                sumCall / n, median(inCall), sumLoop / n, median(withLoop));
}

template <class Append> void run(long lines, Append append)
{
    std::vector<Batch> batches;
    const auto begin = Clock::now();
    for (long start = 0; start < lines; start += BatchSize) {
        const long end = std::min(lines, start + BatchSize);
        const double t0 = threadCpuNs();
        for (long i = start; i < end; ++i)
            append(lineFor(i));
        const double t1 = threadCpuNs();
        QCoreApplication::processEvents();
        const double t2 = threadCpuNs();
        batches.push_back({t1 - t0, t2 - t1});
    }
    const double seconds = std::chrono::duration<double>(Clock::now() - begin).count();

    const std::size_t sample = std::size_t(SampleSize / BatchSize);
    const std::size_t count = batches.size();
    std::printf("CPU time per append:\n");
    report("first 10,000 lines:", batches, 0, std::min(sample, count));
    // The same window of 10,000 lines at every tenth of the run, to show any trend.
    for (int tenth = 1; tenth <= 10; ++tenth) {
        const std::size_t to = count * std::size_t(tenth) / 10;
        if (to < 2 * sample)
            continue;
        const std::string what = "lines to " + std::to_string(to * BatchSize) + ":";
        report(what.c_str(), batches, to - sample, to);
    }
    report("all lines:", batches, 0, count);
    std::printf("total %.2f s wall clock, resident memory %ld MiB\n", seconds, residentKiB() / 1024);
}

} // namespace

int main(int argc, char** argv)
{
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);

    long lines = 1000000;
    bool listWidget = false;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--qlistwidget") == 0)
            listWidget = true;
        else
            lines = std::max(1L, std::atol(argv[i]));
    }

    LogBuffer logLines;
    frmLog window(logLines);
    window.show();
    QCoreApplication::processEvents();
    std::printf("%ld lines, batches of %ld, %s\n", lines, BatchSize,
                listWidget ? "QListWidget" : "LogListBox via LBM_AddItem");

    if (listWidget) {
        // The stock list in place of the log's own, with uniform item sizes as its best case.
        auto* list = new QListWidget(window.lstLog()->parentWidget());
        list->setGeometry(window.lstLog()->geometry());
        list->setUniformItemSizes(true);
        window.lstLog()->hide();
        list->show();
        run(lines, [list](const std::string& text) {
            list->addItem(QString::fromLatin1(text.data(), qsizetype(text.size())));
            list->scrollToBottom();
        });
        return 0;
    }

    mdlListBoxMod::LBM_Init(mdlListBoxMod::LogSlot, window.lstLog());
    run(lines, [](const std::string& text) { mdlListBoxMod::LBM_AddItem(mdlListBoxMod::LogSlot, text); });
    return 0;
}
