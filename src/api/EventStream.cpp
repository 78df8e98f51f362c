#include "EventStream.h"

#include <algorithm>

#include <QJsonDocument>
#include <QTcpSocket>

#include "ApiJson.h"
#include "EventClient.h"
#include "MessageCatalog.h"
#include "MimeDocument.h"
#include "WebSocketFrames.h"
#include "clsEmailStorage.h"

// One batch: what the worker needs of each event, taken on the event loop, and what it makes.
struct EventStream::Batch {
    struct Job {
        Pending event;
        ApiJson::ListingEntry entry;               // New only
        std::shared_ptr<const MessageFacts> facts; // New: kept ones, or read by the worker
        std::string recipients;                    // New without kept facts: the envelope's
        std::string frame;                         // made by the worker; empty for none
    };
    std::vector<Job> jobs;
    std::size_t written = 0; // jobs the worker made frames for; the rest go back to the queue
};

namespace {

QJsonObject eventOf(const char* type, QJsonValue data)
{
    return QJsonObject{{QStringLiteral("Type"), QString::fromLatin1(type)}, {QStringLiteral("Data"), std::move(data)}};
}

QString idOf(std::uint64_t id)
{
    return QString::fromStdString(MessageCatalog::idText(id));
}

std::string frameOf(const QJsonObject& event)
{
    return WebSocketFrames::frame(WebSocketFrames::Text,
                                  QJsonDocument(event).toJson(QJsonDocument::Compact).toStdString());
}

} // namespace

EventStream::EventStream(const clsEmailStorage& store, MessageCatalog& catalog, QObject* parent)
    : QObject(parent), m_store(store), m_catalog(catalog)
{
    // One thread: batches are made in the order they were taken.
    m_worker.setMaxThreadCount(1);
    m_start.setSingleShot(true);
    m_start.setTimerType(Qt::PreciseTimer);
    connect(&m_start, &QTimer::timeout, this, &EventStream::startBatch);
}

EventStream::~EventStream()
{
    m_worker.waitForDone();
    for (const Member& member : m_clients) {
        member.client->disconnect(this);
        delete member.client;
    }
}

void EventStream::join(QTcpSocket* socket)
{
    auto* client = new EventClient(socket, this);
    m_clients.push_back({client, m_sequence});
    connect(client, &EventClient::closed, this, [this, client] {
        std::erase_if(m_clients, [client](const Member& member) { return member.client == client; });
        client->deleteLater();
    });
}

void EventStream::stored(std::uint64_t id)
{
    if (m_clients.empty())
        return;
    m_unsentNew.insert(id);
    queue(Kind::New, id);
}

void EventStream::removed(std::uint64_t id)
{
    // Taken back before it was told: nothing to tell.
    if (m_clients.empty() || m_unsentNew.erase(id) > 0)
        return;
    queue(Kind::Delete, id);
}

void EventStream::cleared()
{
    if (m_clients.empty())
        return;
    // Arrivals and reads waiting to be told are moot after the clearing; deletions of what
    // clients were told of still go first, in order.
    std::erase_if(m_pending, [](const Pending& p) { return p.kind == Kind::New || p.kind == Kind::Read; });
    m_unsentNew.clear();
    queue(Kind::Truncate, 0);
}

void EventStream::read(std::uint64_t id)
{
    if (!m_clients.empty())
        queue(Kind::Read, id);
}

void EventStream::queue(Kind kind, std::uint64_t id)
{
    m_pending.push_back({kind, id, m_sequence++});
    // Never at once: the reply that caused the event goes first, and what follows it joins.
    if (!m_busy && !m_start.isActive())
        m_start.start(BatchGatherMilliseconds);
}

// On the worker: the frames of the batch's events, up to MaxBatchFrameBytes; the rest go back.
void EventStream::describe(Batch& batch)
{
    std::size_t bytes = 0;
    for (std::size_t i = 0; i < batch.jobs.size(); ++i) {
        if (bytes >= MaxBatchFrameBytes)
            break;
        Batch::Job& job = batch.jobs[i];
        // Nothing may escape the worker; an event that cannot be described is left out.
        try {
            job.frame = eventFrame(batch, i);
        } catch (...) {
            job.frame.clear();
        }
        bytes += job.frame.size();
        ++batch.written;
    }
}

// An event's frame; a new message's facts are read here unless they were kept.
std::string EventStream::eventFrame(Batch& batch, std::size_t index)
{
    Batch::Job& job = batch.jobs[index];
    switch (job.event.kind) {
    case Kind::New:
        if (!job.facts)
            job.facts = std::make_shared<const MessageFacts>(
                factsOf(Mime::Document(job.entry.body).message(), job.recipients));
        return frameOf(eventOf("new", ApiJson::listItem(job.entry, *job.facts)));
    case Kind::Delete:
        return frameOf(eventOf("delete", QJsonObject{{QStringLiteral("ID"), idOf(job.event.id)}}));
    case Kind::Read:
        return frameOf(
            eventOf("update", QJsonObject{{QStringLiteral("ID"), idOf(job.event.id)}, {QStringLiteral("Read"), true}}));
    case Kind::Truncate:
        break;
    }
    return frameOf(eventOf("truncate", QJsonValue()));
}

void EventStream::startBatch()
{
    if (m_busy || m_pending.empty())
        return;
    auto batch = std::make_shared<Batch>();
    std::size_t copied = 0;
    while (!m_pending.empty() && batch->jobs.size() < MaxBatchEvents && copied < MaxBatchCopiedBytes) {
        Batch::Job job{m_pending.front(), {}, {}, {}, {}};
        m_pending.pop_front();
        if (job.event.kind == Kind::New) {
            const std::int16_t position = m_store.positionOfId(job.event.id);
            if (m_unsentNew.erase(job.event.id) == 0 || position == 0)
                continue;
            job.entry = ApiJson::entryOf(m_store, position);
            job.facts = m_catalog.kept(job.event.id);
            if (!job.facts)
                job.recipients = m_store.EmailTo(position);
            copied += job.recipients.size();
        }
        batch->jobs.push_back(std::move(job));
    }
    if (batch->jobs.empty())
        return;
    m_busy = true;
    m_worker.start([this, batch] {
        describe(*batch);
        QMetaObject::invokeMethod(
            this, [this, batch] { batchWritten(batch); }, Qt::QueuedConnection);
    });
}

void EventStream::batchWritten(const std::shared_ptr<Batch>& batch)
{
    m_busy = false;
    for (std::size_t i = 0; i < batch->written; ++i)
        if (batch->jobs[i].event.kind == Kind::New)
            m_catalog.keep(batch->jobs[i].event.id, batch->jobs[i].facts);
    // What the worker left for the next batch goes back to the front, in order; a clearing
    // queued meanwhile has made it moot.
    const bool clearedSince
        = std::any_of(m_pending.begin(), m_pending.end(), [](const Pending& p) { return p.kind == Kind::Truncate; });
    for (std::size_t i = batch->jobs.size(); i-- > batch->written;) {
        if (clearedSince)
            break;
        const Pending& event = batch->jobs[i].event;
        if (event.kind == Kind::New)
            m_unsentNew.insert(event.id);
        m_pending.push_front(event);
    }
    batch->jobs.resize(batch->written);
    sendToAll(*batch);
    if (!m_pending.empty())
        m_start.start(0);
}

void EventStream::sendToAll(const Batch& batch)
{
    if (batch.jobs.empty())
        return;
    std::string all;
    for (const Batch::Job& job : batch.jobs)
        all += job.frame;
    // A copy: a client that has fallen behind is closed, and leaves the list, while it is walked.
    const std::vector<Member> members = m_clients;
    for (const Member& member : members) {
        if (member.joined <= batch.jobs.front().event.sequence) {
            member.client->send(all);
            continue;
        }
        std::string since;
        for (const Batch::Job& job : batch.jobs)
            if (job.event.sequence >= member.joined)
                since += job.frame;
        if (!since.empty())
            member.client->send(since);
    }
}
