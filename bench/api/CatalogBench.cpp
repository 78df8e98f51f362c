// What the API's work costs in CPU time, apart from HTTP: a summary of mails of very many parts,
// listing and searching 10,000 messages, and the memory the listing facts keep.
//
//   bench_api [messages] [addresses] [summaries] [list]    (all three when none is named)
//
// CPU time of this thread, so that other load on the machine hardly disturbs the figures.

#include <malloc.h>
#include <time.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <string_view>

#include <QJsonArray>
#include <QJsonDocument>

#include "ApiJson.h"
#include "MessageCatalog.h"
#include "SearchQuery.h"
#include "clsEmailStorage.h"

namespace {

double cpuMs()
{
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return double(now.tv_sec) * 1e3 + double(now.tv_nsec) / 1e6;
}

// The best of some runs; one run when that takes more than a second.
template <class Action> double bestCpuMs(int runs, Action action)
{
    double best = 1e300;
    for (int i = 0; i < runs && (i == 0 || best < 1000); ++i) {
        const double start = cpuMs();
        action();
        best = std::min(best, cpuMs() - start);
    }
    return best;
}

// Peak resident set (VmHWM) in MiB.
double peakRssMiB()
{
    std::ifstream status("/proc/self/status");
    for (std::string line; std::getline(status, line);)
        if (line.starts_with("VmHWM:"))
            return double(std::atol(line.c_str() + 6)) / 1024;
    return 0;
}

std::size_t heapInUse()
{
    return mallinfo2().uordblks;
}

// Parts of a few bytes each, as the attack mails hold them.
std::string manyParts(int count, bool attachments)
{
    std::string body;
    for (int i = 0; i < count; ++i)
        body += attachments ? "--b\r\nContent-Type: application/octet-stream\r\nContent-Disposition: attachment; "
                              "filename=f"
                + std::to_string(i) + ".bin\r\nContent-Transfer-Encoding: base64\r\n\r\nAAEC\r\n"
                            : "--b\r\nContent-Type: text/plain\r\n\r\n" + std::to_string(i) + "\r\n";
    return "From: a@example.com\r\nTo: b@example.com\r\nSubject: many\r\nMIME-Version: 1.0\r\n"
           "Content-Type: multipart/mixed; boundary=b\r\n\r\n"
        + body + "--b--\r\n";
}

// An ordinary message; every tenth has its text quoted-printable, with a word only decoding shows.
std::string ordinary(int i)
{
    const bool encoded = i % 10 == 0;
    std::string text;
    for (int line = 0; line < 12; ++line)
        text += "line " + std::to_string(line) + " of a message body that is a little longer than one word\r\n";
    return "From: Sender " + std::to_string(i) + " <s" + std::to_string(i) + "@example.com>\r\nTo: r"
        + std::to_string(i) + "@example.org\r\nSubject: message " + std::to_string(i)
        + "\r\nContent-Type: text/plain; charset=utf-8\r\n"
        + (encoded ? "Content-Transfer-Encoding: quoted-printable\r\n\r\ncaf=C3=A9 au lait\r\n" : "\r\n") + text;
}

void summaries()
{
    for (const auto& [count, attachments] : {std::pair{1500, true}, std::pair{5000, false}}) {
        clsEmailStorage store;
        MessageCatalog catalog(store);
        store.StoreEmail("<a@example.com>", "<b@example.com>", manyParts(count, attachments));
        QJsonObject summary;
        const double ms = bestCpuMs(3, [&] { summary = ApiJson::summary(store, 1); });
        std::printf("summary of a %zu KiB mail of %d parts: %.1f ms CPU (best of 3), %lld listed\n",
                    store.EmailBody(1).size() >> 10, count, ms,
                    static_cast<long long>(summary.value(QStringLiteral("Attachments")).toArray().size()));
    }
}

void listAndSearch(int messages)
{
    clsEmailStorage store;
    MessageCatalog catalog(store);
    for (int i = 0; i < messages; ++i)
        store.StoreEmail("<s@example.com>", "<r@example.org>", ordinary(i));
    const std::size_t budgetBefore = store.budget().used();
    const std::size_t heapBefore = heapInUse();
    const double firstListing = bestCpuMs(1, [&] {
        for (int start = 0; start < messages; start += 50)
            QJsonDocument(ApiJson::listPage(store, catalog, std::size_t(start), 50)).toJson(QJsonDocument::Compact);
    });
    const double heapPerMessage = double(heapInUse() - heapBefore) / messages;
    const double chargedPerMessage = double(store.budget().used() - budgetBefore) / messages;
    const double listing = bestCpuMs(3, [&] {
        for (int start = 0; start < messages; start += 50)
            QJsonDocument(ApiJson::listPage(store, catalog, std::size_t(start), 50)).toJson(QJsonDocument::Compact);
    });
    std::size_t found = 0;
    const std::vector<Search::Term> terms
        = Search::parseQuery("café", [](const Search::CivilTime& t) { return Search::toEpochMs(t); }).terms;
    const double search = bestCpuMs(3, [&] { found = catalog.search(terms).size(); });
    std::printf("%d messages listed 50 a page: first %.0f ms CPU, again %.0f ms (best of 3)\n", messages, firstListing,
                listing);
    std::printf("  searched for a word of the decoded text: %.0f ms CPU (best of 3), %zu found\n", search, found);
    std::printf("  kept per message after listing: %.0f B of C heap, %.0f B charged to the budget\n", heapPerMessage,
                chargedPerMessage);
    const double summaries = bestCpuMs(3, [&] {
        for (int position = 1; position <= messages; ++position)
            QJsonDocument(ApiJson::summary(store, std::int16_t(position))).toJson(QJsonDocument::Compact);
    });
    std::printf("  the summary of each: %.1f us CPU a message (best of 3)\n", summaries * 1000 / messages);
}

void manyAddresses()
{
    std::string to = "To: ";
    for (int i = 0; i < 250000; ++i)
        to += i ? ",a@b" : "a@b";
    clsEmailStorage store;
    store.budget().setLimit(64 << 20);
    MessageCatalog catalog(store);
    for (int i = 0; i < 3; ++i)
        store.StoreEmail("<a@b>", "<a@b>", "From: a@b\r\n" + to + "\r\nSubject: many\r\n\r\nbody\r\n");
    const double rssBefore = peakRssMiB();
    const std::size_t heapBefore = heapInUse();
    const std::size_t budgetBefore = store.budget().used();
    const double ms
        = bestCpuMs(1, [&] { QJsonDocument(ApiJson::listPage(store, catalog, 0, 50)).toJson(QJsonDocument::Compact); });
    std::printf("3 mails of %zu KiB with 250,000 addresses in To, listed: %.0f ms CPU; peak RSS +%.0f MiB; "
                "kept %.1f MiB of C heap, %.1f MiB charged to the budget\n",
                store.EmailBody(1).size() >> 10, ms, peakRssMiB() - rssBefore,
                double(heapInUse() - heapBefore) / (1 << 20), double(store.budget().used() - budgetBefore) / (1 << 20));
}

} // namespace

int main(int argc, char** argv)
{
    const int messages = argc > 1 ? std::clamp(std::atoi(argv[1]), 10, 32767) : 10000;
    const auto wanted = [&](std::string_view section) {
        return argc <= 2 || std::find(argv + 2, argv + argc, section) != argv + argc;
    };
    if (wanted("addresses"))
        manyAddresses(); // first, so that its peak is its own
    if (wanted("summaries"))
        summaries();
    if (wanted("list"))
        listAndSearch(messages);
    return 0;
}
