#include <fstream>
#include <map>

#include <QCryptographicHash>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTimer>

#include "TestKit.h"
#include "CaptureServer.h"

namespace {

constexpr std::size_t Budget = 8u << 20;
// Beyond the budget: the connections' buffers, a block per message in progress, the event loop's.
constexpr std::size_t Overhead = 64u << 20;

std::size_t residentBytes()
{
    std::ifstream status("/proc/self/status");
    for (std::string key; status >> key;) {
        std::size_t kilobytes = 0;
        if (key == "VmRSS:" && status >> kilobytes)
            return kilobytes * 1024;
    }
    return 0;
}

std::string sha256(const std::string& data)
{
    return QCryptographicHash::hash(QByteArrayView(data.data(), qsizetype(data.size())), QCryptographicHash::Sha256)
        .toHex()
        .toStdString();
}

// Runs the Python clients to completion while the listener serves them; the replies by marker.
struct Flood {
    Flood(int port, int clients, int messages, int size)
    {
        python.start(QStringLiteral("/usr/bin/python3"),
                     {QStringLiteral(QP_FLOOD_SCRIPT), QString::number(port), QString::number(clients),
                      QString::number(messages), QString::number(size)});
        finished = waitFor([&] { return python.state() == QProcess::NotRunning; }, 240000);
        while (python.canReadLine()) {
            const QJsonObject reply = QJsonDocument::fromJson(python.readLine()).object();
            const std::string marker = reply[QStringLiteral("marker")].toString().toStdString();
            codes[marker] = reply[QStringLiteral("code")].toInt();
            digests[marker] = reply[QStringLiteral("sha256")].toString().toStdString();
        }
    }

    QProcess python;
    bool finished = false;
    std::map<std::string, int> codes;
    std::map<std::string, std::string> digests;
};

using StoreBudget = CaptureServer<>;

} // namespace

TEST_F(StoreBudget, EveryMessageTakenIsKeptAndMemoryStaysWithinTheBudget)
{
    store.budget().setLimit(Budget);

    const std::size_t before = residentBytes();
    std::size_t peak = before;
    QTimer sampler;
    QObject::connect(&sampler, &QTimer::timeout, [&] { peak = std::max(peak, residentBytes()); });
    sampler.start(5);

    // Eight clients at once, each with four messages of 1.5 MiB: four times the budget.
    Flood flood(port, 8, 4, 3 << 19);
    ASSERT_TRUE(flood.finished);
    ASSERT_EQ(flood.codes.size(), 32u) << flood.python.readAllStandardError().toStdString();
    int kept = 0;
    for (const auto& [marker, code] : flood.codes) {
        SCOPED_TRACE(marker);
        if (code != 250) {
            EXPECT_TRUE(code == 421 || code == 452 || code == 552) << code;
            continue;
        }
        ++kept;
        bool found = false;
        for (std::int16_t i = 1; i <= store.Count() && !found; ++i)
            found = sha256(store.EmailBody(i)) == flood.digests[marker];
        EXPECT_TRUE(found) << "answered 250 but not stored byte for byte";
    }
    EXPECT_EQ(store.Count(), kept);
    EXPECT_GT(kept, 0);
    EXPECT_LT(kept, 32);
    EXPECT_LE(store.budget().peak(), Budget);
#if !defined(__SANITIZE_ADDRESS__)
    // The sanitizer keeps freed memory in quarantine, so resident memory is measured without it.
    EXPECT_LE(peak - before, Budget + Overhead);
#endif
    // One report of the refusals, not one per message.
    EXPECT_LE(boxes.texts().size(), 1u);

    // Deleting gives the room back at once.
    while (store.Count() > 0)
        store.RemoveEmail(1);
    EXPECT_EQ(store.budget().used(), 0u);
    EXPECT_EQ(deliver(*greeted(), std::string(3 << 19, 'x') + "\r\n"), "250 OK");
}

TEST_F(StoreBudget, RefusalsAtTheEdge)
{
    auto client = greeted();
    // Room for 20 bytes: the envelope takes its share as it arrives (a third path of 7 bytes does
    // not fit), and data that does not fit beside it is refused at the end.
    store.budget().setLimit(20);
    client->Send("MAIL FROM:<a@b.c>\r\nRCPT TO:<d@e.f>\r\nRCPT TO:<g@h.i>\r\nDATA\r\n0123456789\r\n.\r\n");
    for (const char* reply :
         {"250 OK", "250 OK", "452 Requested action not taken: insufficient system storage",
          "354 send the mail data, end with .", "552 Requested mail action aborted: exceeded storage allocation"})
        EXPECT_EQ(client->readLine(), reply);
    EXPECT_EQ(deliver(*client, "Hi\r\n"), "250 OK");
    EXPECT_EQ(store.Count(), 1);
    EXPECT_EQ(store.EmailTo(1), "<d@e.f>");
    EXPECT_EQ(store.budget().used(), 18u);
    EXPECT_TRUE(boxes.texts().empty());
}
