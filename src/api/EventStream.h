#pragma once

#include <cstdint>
#include <deque>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include <QElapsedTimer>
#include <QObject>
#include <QThreadPool>
#include <QTimer>

class EventClient;
class MessageCatalog;
class QTcpSocket;
class clsEmailStorage;

// The most events one batch takes, and how many bytes of its frames make it stop early (the rest
// go with the next batch): a batch is written to each client at once, well inside a client's
// bound on unread events.
inline constexpr std::size_t MaxBatchEvents = 256;
inline constexpr std::size_t MaxBatchFrameBytes = std::size_t{64} * 1024;
// How long the first event of a batch waits for others: a person sees no delay, and a burst of
// mail shares its batches (one wake-up of the worker and one write per client for many events)
// instead of paying both for every message on the capture's own thread.
inline constexpr int BatchGatherMilliseconds = 20;
// A brief batched client is sent events at most this often, and what comes meanwhile together:
// it reads the messages it shows when it shows them, and a browser pays for every message.
inline constexpr int BriefHoldMilliseconds = 250;
// Envelope recipients copied for one batch (the facts' Bcc needs them) before it stops early.
inline constexpr std::size_t MaxBatchCopiedBytes = std::size_t{1} << 20;

// The clients of the event stream and the events waiting for them. Describing an arrival reads
// the whole message and costs several times its capture, so arrivals are described on a worker
// thread, in batches, from a copy of what the store says of them (the body is shared and never
// changes): the capture's event loop only queues an id and, later, writes the finished frames.
// Batches go one at a time, in order; the facts read for a batch are kept in the catalog for the
// lists that follow. A message gone before its batch was taken is told neither as new nor as
// deleted.
//
// The queue holds 32 bytes an event and grows only as fast as mail is stored or removed, while
// the worker takes it in batches of up to MaxBatchEvents.
//
// What the event loop does for a follower is kept to taking the jobs (the message found where it
// was stored, unless removals moved it; its envelope copied in one piece), keeping the facts
// (whose map entries the worker made) and one write of frames the worker has already joined; the
// worker also frees the facts of a clearing, thousands of small objects.
class EventStream final : public QObject {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(EventStream)
public:
    EventStream(const clsEmailStorage& store, MessageCatalog& catalog, QObject* parent = nullptr);
    // Waits for the batch on the worker, if any.
    ~EventStream() override;

    std::size_t clients() const { return m_clients.size(); }
    // How a client takes its events. Batched, it gets the events of a batch in one message, as a
    // JSON array: a browser pays far more for each WebSocket message than for its bytes.
    // Otherwise one message an event, as peers of the API expect. Brief, a new message's event
    // names only its id: a client that reads the messages it shows when it shows them spares the
    // worker reading every arrival, most of the cost of following a burst.
    struct Form {
        bool batched;
        bool brief;
    };
    // A new client hears of what happens from now on, never of what happened before it came.
    void join(QTcpSocket* socket, Form form = {false, false});

    void stored(std::uint64_t id);
    void removed(std::uint64_t id);
    void cleared();
    // The message was read for the first time.
    void read(std::uint64_t id);
    // Frees what it holds on the worker, after the batch in hand.
    void dispose(std::shared_ptr<void> garbage);

private:
    enum class Kind { New, Delete, Truncate, Read };
    struct Pending {
        Kind kind;
        std::uint64_t id;
        std::uint64_t sequence; // the events' count when it was queued
        std::int16_t position;  // New: where it was stored; removals may have moved it since
    };
    struct Job;
    struct Batch;
    struct Member {
        EventClient* client;
        std::uint64_t joined; // the first event it hears of
        Form form;
    };

    void queue(Kind kind, std::uint64_t id, std::int16_t position = 0);
    std::int16_t positionNow(const Pending& event) const;
    void startBatch();
    void scheduleNext(bool full);
    static void describe(Batch& batch);
    static void writeEventText(Batch& batch, Job& job, bool brief);
    bool take(Job& job, bool full) const;
    void batchWritten(const std::shared_ptr<Batch>& batch);
    void sendToAll(const Batch& batch);
    void hold(EventClient* client, std::string_view texts);
    void sendHeld();

    const clsEmailStorage& m_store;
    MessageCatalog& m_catalog;
    std::vector<Member> m_clients;
    std::deque<Pending> m_pending;
    // Ids of the arrivals queued and not yet taken, ascending: a removal finds them by binary search.
    std::deque<std::uint64_t> m_unsentNew;
    std::uint64_t m_sequence = 0;
    bool m_busy = false;
    QTimer m_start;
    QElapsedTimer m_gathering; // since the oldest event not yet taken was queued
    // Removals and a clearing while a batch is on the worker: its facts of those are not kept.
    std::vector<std::uint64_t> m_removedInFlight;
    bool m_clearedInFlight = false;
    // The texts held for brief batched clients, joined by commas, until m_sendHeld fires.
    std::unordered_map<EventClient*, std::string> m_held;
    QTimer m_sendHeld;
    QElapsedTimer m_heldSent;
    QThreadPool m_worker;
};
