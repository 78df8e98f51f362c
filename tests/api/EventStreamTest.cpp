#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>

#include "EventStream.h"
#include "clsEmailStorage.h"
#include "MessageCatalog.h"
#include "TestKit.h"

namespace {

// A follower on loopback: the stream's side of its connection, and what it has read so far.
struct Follower {
    QTcpServer server;
    QTcpSocket client;
    QTcpSocket* accepted = nullptr;
    QByteArray bytes;

    Follower()
    {
        server.listen(QHostAddress::LocalHost, 0);
        client.connectToHost(QHostAddress::LocalHost, server.serverPort());
        EXPECT_TRUE(QTest::qWaitFor([this] { return server.hasPendingConnections(); }, 5000));
        accepted = server.nextPendingConnection();
    }

    // The events read until `count` have come, as "type id" (unmasked server frames).
    Texts events(std::size_t count)
    {
        Texts seen;
        (void)QTest::qWaitFor(
            [&] {
                bytes += client.readAll();
                seen = decode();
                return seen.size() >= count;
            },
            5000);
        return seen;
    }

    // The events of the frames read so far; a batched client's frame holds an array of them.
    Texts decode()
    {
        Texts seen;
        messages = 0;
        data.clear();
        for (qsizetype at = 0; at + 2 <= bytes.size(); ++messages) {
            qsizetype length = quint8(bytes[at + 1]) & 0x7f, header = 2;
            if (length >= 126) {
                header = length == 126 ? 4 : 10;
                length = 0;
                for (qsizetype k = 2; k < header && at + k < bytes.size(); ++k)
                    length = (length << 8) | quint8(bytes[at + k]);
            }
            if (at + header + length > bytes.size())
                break;
            const QJsonDocument document = QJsonDocument::fromJson(bytes.mid(at + header, length));
            const QJsonArray events = document.isArray() ? document.array() : QJsonArray{document.object()};
            for (const auto& value : events) {
                const QJsonObject event = value.toObject();
                data.push_back(event["Data"].toObject());
                seen.push_back(
                    (event["Type"].toString() + ' ' + event["Data"].toObject()["ID"].toString()).toStdString());
            }
            at += header + length;
        }
        return seen;
    }
    std::size_t messages = 0;      // WebSocket messages decoded
    std::vector<QJsonObject> data; // each event's data
};

// A store with its catalog and stream, and messages stored as the capture stores them.
struct Stream {
    clsEmailStorage store;
    MessageCatalog catalog{store};
    EventStream stream{store, catalog};

    std::uint64_t arrive(const std::string& subject)
    {
        const std::int16_t position = store.StoreEmail("<s@x>", "<r@x>", "Subject: " + subject + "\r\n\r\nHello\r\n");
        const std::uint64_t id = store.emailId(position);
        stream.stored(id);
        return id;
    }
    void remove(std::uint64_t id)
    {
        store.RemoveEmail(store.positionOfId(id));
        catalog.forget(id);
        stream.removed(id);
    }
};

std::string newOf(std::uint64_t id)
{
    return "new " + MessageCatalog::idText(id);
}
std::string deleteOf(std::uint64_t id)
{
    return "delete " + MessageCatalog::idText(id);
}

} // namespace

// Arrivals are described away from the event loop, and their facts kept for the lists that
// follow; what is gone before its batch was taken is told neither as new nor as deleted.
TEST(EventStream, DescribesArrivalsOffTheEventLoopAndDropsWhatWentBeforeItsBatch)
{
    Stream s;
    Follower follower;
    s.stream.join(follower.accepted);
    const std::uint64_t first = s.arrive("one"), second = s.arrive("two"), third = s.arrive("three");
    EXPECT_EQ(s.catalog.kept(first), nullptr); // not read while the capture waits
    s.remove(second);
    EXPECT_EQ(follower.events(2), (Texts{newOf(first), newOf(third)}));
    ASSERT_NE(s.catalog.kept(third), nullptr);
    EXPECT_EQ(s.catalog.kept(third)->subject, "three");

    s.remove(first); // told before: taken back
    const std::uint64_t fourth = s.arrive("four");
    EXPECT_EQ(follower.events(4), (Texts{newOf(first), newOf(third), deleteOf(first), newOf(fourth)}));

    s.arrive("five"); // cleared away before it was told
    s.remove(fourth); // told as new: its deletion still goes before the clearing
    s.store.Clear();
    s.catalog.clear();
    s.stream.cleared();
    const std::uint64_t sixth = s.arrive("six");
    EXPECT_EQ(follower.events(7),
              (Texts{newOf(first), newOf(third), deleteOf(first), newOf(fourth), deleteOf(fourth), "truncate ",
                     newOf(sixth)}));
}

// A client that joins hears nothing of what happened before it came; the others still do,
// batched or not.
TEST(EventStream, ANewClientHearsOnlyWhatHappensAfterItJoins)
{
    Stream s;
    Follower early, late, lateBatched;
    s.stream.join(early.accepted);
    const std::uint64_t first = s.arrive("one");
    s.stream.join(late.accepted);
    s.stream.join(lateBatched.accepted, {.batched = true, .brief = false});
    const std::uint64_t second = s.arrive("two");
    EXPECT_EQ(early.events(2), (Texts{newOf(first), newOf(second)}));
    EXPECT_EQ(late.events(1), (Texts{newOf(second)}));
    EXPECT_EQ(lateBatched.events(1), (Texts{newOf(second)}));
}

// A burst larger than a batch arrives whole and in order: one message an event, or, batched, the
// events of a batch in one message, or, brief, those of batches that come close together.
TEST(EventStream, ABurstGoesOutWholeAndInOrder)
{
    Stream s;
    Follower follower, batched, brief;
    s.stream.join(follower.accepted);
    s.stream.join(batched.accepted, {.batched = true, .brief = false});
    s.stream.join(brief.accepted, {.batched = true, .brief = true});
    Texts expected;
    for (int i = 0; i < 600; ++i)
        expected.push_back(newOf(s.arrive("burst " + std::to_string(i))));
    s.remove(s.arrive("removed before it was told")); // told to neither
    EXPECT_EQ(follower.events(expected.size()), expected);
    EXPECT_EQ(follower.messages, expected.size());
    EXPECT_EQ(batched.events(expected.size()), expected);
    EXPECT_LT(batched.messages, expected.size() / 10);
    // Held back between batches, in order.
    EXPECT_EQ(brief.events(expected.size()), expected);
    EXPECT_LE(brief.messages, batched.messages);
}

// A brief client hears a new message by its id alone, batched or not, beside a full one that
// hears it described; with only brief clients following, nobody reads the arrivals.
TEST(EventStream, ABriefClientHearsOnlyTheIdAndSparesTheReading)
{
    Stream s;
    Follower full, brief, briefBatched;
    s.stream.join(brief.accepted, {.batched = false, .brief = true});
    s.stream.join(briefBatched.accepted, {.batched = true, .brief = true});
    const std::uint64_t alone = s.arrive("told briefly");
    EXPECT_EQ(brief.events(1), (Texts{newOf(alone)}));
    EXPECT_EQ(briefBatched.events(1), (Texts{newOf(alone)}));
    EXPECT_EQ(brief.data.at(0), (QJsonObject{{"ID", QString::fromStdString(MessageCatalog::idText(alone))}}));
    EXPECT_EQ(s.catalog.kept(alone), nullptr);

    s.stream.join(full.accepted);
    const std::uint64_t both = s.arrive("told in full");
    s.remove(alone);
    EXPECT_EQ(full.events(2), (Texts{newOf(both), deleteOf(alone)}));
    EXPECT_EQ(full.data.at(0)["Subject"].toString(), "told in full");
    EXPECT_EQ(briefBatched.events(3), (Texts{newOf(alone), newOf(both), deleteOf(alone)}));
    EXPECT_EQ(briefBatched.data.at(1).keys(), QStringList{"ID"});
    EXPECT_EQ(brief.events(3), briefBatched.events(3));
    EXPECT_NE(s.catalog.kept(both), nullptr);
}
