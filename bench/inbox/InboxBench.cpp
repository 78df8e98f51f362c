// The message window's list in CPU time of the window's thread, which other load on the machine
// hardly disturbs:
//  - arrivals: messages stored one by one, each followed by the event loop (the main window shows
//    it, the message window renders it), with the message window open, its list hidden and shown;
//  - 32,767 rows: the model made over a full store, sorted by each column (the first sort by a
//    column of the header reads every message's facts), filtered, and the C heap each listed
//    message keeps, without and with its facts;
//  - the facts of hostile mail: a subject of 1 MB, 250,000 addresses.
// Usage: bench_inbox [arrivals, default 10000] [list|nolist: only those arrivals, for a profiler]

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>

#include <malloc.h>
#include <time.h>

#include <QAction>
#include <QApplication>
#include <QElapsedTimer>

#include "CaptureService.h"
#include "InboxListModel.h"
#include "ListingFacts.h"
#include "clsEmailStorage.h"
#include "frmMain.h"
#include "frmMessage.h"

namespace {

double threadCpuMs()
{
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return double(now.tv_sec) * 1e3 + double(now.tv_nsec) / 1e6;
}

long long heapBytes()
{
    const struct mallinfo2 info = mallinfo2();
    return static_cast<long long>(info.uordblks + info.hblkhd);
}

// An ordinary notification mail of about 1.5 KiB: a quoted-printable text, senders and subjects varied.
std::string mail(int i)
{
    const std::string n = std::to_string(i);
    return "From: \"Shop " + std::to_string(i % 97) + "\" <noreply" + std::to_string(i % 89) + "@shop.example>\r\n"
        + "To: customer" + n + "@example.com\r\nSubject: =?UTF-8?Q?Your_order_" + n + "_has_shipped_=E2=9C=93?= order_"
        + std::to_string(i % 20) + "\r\nDate: Mon, 7 Dec 2026 10:00:00 +0100\r\nMessage-ID: <" + n
        + "@shop.example>\r\nMIME-Version: 1.0\r\nContent-Type: text/plain; charset=utf-8\r\n"
        + "Content-Transfer-Encoding: quoted-printable\r\n\r\n" + std::string(1200, 'x') + "\r\n";
}

void trigger(frmMain& window, const char* name)
{
    auto* action = window.findChild<QAction*>(QString::fromLatin1(name));
    if (!action) {
        std::fprintf(stderr, "no action %s\n", name);
        std::exit(1);
    }
    action->trigger();
}

// CPU ms per arrival with the message window open, its list shown or hidden.
double arrivals(int count, bool list)
{
    CaptureService service;
    frmMain window(service);
    window.show();
    if (!list)
        trigger(window, "mnuMessageList");
    trigger(window, "mnuMessageView");
    QApplication::processEvents();
    clsEmailStorage& store = window.emailStorage();
    const double start = threadCpuMs();
    for (int i = 0; i < count; ++i) {
        store.StoreEmail("<a@shop.example>", "<b@example.com>", mail(i));
        QApplication::processEvents();
    }
    return (threadCpuMs() - start) / count;
}

template <class Step> double timed(Step step)
{
    const double start = threadCpuMs();
    step();
    return threadCpuMs() - start;
}

void rows()
{
    clsEmailStorage store;
    while (store.Count() < 32767)
        store.StoreEmail("<a@shop.example>", "<b@example.com>", mail(store.Count()));
    const long long before = heapBytes();
    std::unique_ptr<InboxListModel> model;
    const double made = timed([&] { model = std::make_unique<InboxListModel>(store); });
    const long long bare = heapBytes();
    // The first sort by a column of the header waits for every header to be read, in slices.
    double longest = 0;
    int slices = 0;
    const double firstSort = timed([&] {
        model->sort(int(Inbox::Column::Sender), Qt::AscendingOrder);
        while (model->waiting()) {
            longest = std::max(longest, timed([] { QApplication::processEvents(); }));
            ++slices;
        }
    });
    const long long withFacts = heapBytes();
    std::printf("32,767 rows: model made %.1f ms; first sort by sender (reads every header) %.1f ms in %d turns of the "
                "event loop, the longest %.1f ms\n",
                made, firstSort, slices, longest);
    for (const auto& [column, name] : {std::pair{Inbox::Column::Subject, "subject"},
                                       {Inbox::Column::Sender, "sender"},
                                       {Inbox::Column::Size, "size"},
                                       {Inbox::Column::Attachment, "attachment"},
                                       {Inbox::Column::Received, "time"}})
        std::printf("  sort by %s: %.1f ms\n", name,
                    timed([&, column = column] { model->sort(int(column), Qt::AscendingOrder); }));
    std::printf("  direction reversed: %.2f ms\n",
                timed([&] { model->sort(int(Inbox::Column::Received), Qt::DescendingOrder); }));
    const double filtered = timed([&] { model->setFilter(QStringLiteral("subject:order_1")); });
    const int rowsFiltered = model->rowCount();
    const double cleared = timed([&] { model->setFilter(QString()); });
    std::printf("  filter subject:order_1: %.1f ms (%d rows); cleared: %.1f ms\n", filtered, rowsFiltered, cleared);
    std::printf("heap per listed message: %lld B as a row, %lld B with its facts read\n", (bare - before) / 32767,
                (withFacts - before) / 32767);
    // With the list in view the headers are read ahead once mail has stopped for a second; the
    // first sort by a header column then only compares.
    model.reset();
    InboxListModel ahead(store);
    ahead.setReadingAhead(true);
    QElapsedTimer clock;
    clock.start();
    while (!ahead.factsRead())
        QApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
    const auto readAfter = clock.elapsed();
    std::printf("read ahead: every header read %lld ms after the model was made (its quiet second included); the first "
                "sort by sender then %.1f ms\n",
                static_cast<long long>(readAfter),
                timed([&] { ahead.sort(int(Inbox::Column::Sender), Qt::AscendingOrder); }));
}

void hostile()
{
    std::string many = "To: a0@example.com";
    for (int i = 1; i < 250000; ++i)
        many += ", a" + std::to_string(i) + "@example.com";
    const std::string subject = "Subject: " + std::string(1 << 20, 'y');
    for (const auto& [header, name] : {std::pair{many, "250,000 addresses"}, {subject, "a 1 MB subject"}}) {
        const std::string raw = "From: a@b.c\r\n" + header + "\r\n\r\nbody\r\n";
        ListingFacts facts;
        const double ms = timed([&] { facts = listingFacts(raw, "<a@b.c>"); });
        std::printf("facts of %s: %.2f ms, %zu B kept\n", name, ms, facts.heapBytes());
    }
}

} // namespace

int main(int argc, char** argv)
{
    const int count = argc > 1 ? std::atoi(argv[1]) : 10000;
    QApplication app(argc, argv);
    if (argc > 2) {
        std::printf("%.3f ms each\n", arrivals(count, std::string(argv[2]) == "list"));
        return 0;
    }
    hostile();
    rows();
    const double hidden = arrivals(count, false);
    const double shown = arrivals(count, true);
    const double hiddenAgain = arrivals(count, false);
    std::printf("%d arrivals, message window open: list hidden %.3f / %.3f ms each, list shown %.3f ms each\n", count,
                hidden, hiddenAgain, shown);
    return 0;
}
