#pragma once

#include <cstdint>
#include <deque>
#include <memory>
#include <string>
#include <unordered_set>
#include <vector>

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
// The queue holds 16 bytes an event and grows only as fast as mail is stored or removed, while
// the worker takes it in batches of up to MaxBatchEvents.
class EventStream final : public QObject {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(EventStream)
public:
    EventStream(const clsEmailStorage& store, MessageCatalog& catalog, QObject* parent = nullptr);
    // Waits for the batch on the worker, if any.
    ~EventStream() override;

    std::size_t clients() const { return m_clients.size(); }
    // A new client hears of what happens from now on, never of what happened before it came.
    void join(QTcpSocket* socket);

    void stored(std::uint64_t id);
    void removed(std::uint64_t id);
    void cleared();
    // The message was read for the first time.
    void read(std::uint64_t id);

private:
    enum class Kind { New, Delete, Truncate, Read };
    struct Pending {
        Kind kind;
        std::uint64_t id;
        std::uint64_t sequence; // the events' count when it was queued
    };
    struct Batch;
    struct Member {
        EventClient* client;
        std::uint64_t joined; // the first event it hears of
    };

    void queue(Kind kind, std::uint64_t id);
    void startBatch();
    static void describe(Batch& batch);
    static std::string eventFrame(Batch& batch, std::size_t index);
    void batchWritten(const std::shared_ptr<Batch>& batch);
    void sendToAll(const Batch& batch);

    const clsEmailStorage& m_store;
    MessageCatalog& m_catalog;
    std::vector<Member> m_clients;
    std::deque<Pending> m_pending;
    std::unordered_set<std::uint64_t> m_unsentNew;
    std::uint64_t m_sequence = 0;
    bool m_busy = false;
    QTimer m_start;
    QThreadPool m_worker;
};
