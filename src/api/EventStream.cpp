#include "EventStream.h"

#include <algorithm>
#include <array>
#include <chrono>
#include <functional>
#include <utility>

#include <QTcpSocket>

#include "ApiJson.h"
#include "EventClient.h"
#include "JsonText.h"
#include "MessageCatalog.h"
#include "MimeDocument.h"
#include "ProcessLimits.h"
#include "WebSocketFrames.h"
#include "clsEmailStorage.h"

// One event of a batch: what the worker needs, taken on the event loop, and where its frame went.
struct EventStream::Job {
    Pending event{};
    // New only: what the store says of the message. The envelope's sender, recipients and login
    // name are copied in one piece: one allocation on the loop, not three.
    bool read = false;
    std::chrono::system_clock::time_point received;
    std::shared_ptr<const std::string> body;
    std::string envelope;
    std::size_t fromBytes = 0, toBytes = 0;
    std::shared_ptr<const MessageFacts> facts; // kept ones, or read by the worker
    std::array<std::size_t, 4> at{};           // where its frame or text starts in each output
};

// What the worker makes of a batch, one output for each form clients take: frames joined for
// clients that take one message an event, texts joined by commas for batched ones; full or brief.
struct EventStream::Batch {
    std::vector<Job> jobs;
    std::size_t written = 0; // jobs the worker described; the rest go back to the queue
    std::array<std::string, 4> outputs;
    std::array<bool, 4> wanted{};
    MessageCatalog::KeptFacts read; // facts the worker read, for the catalog to keep
    std::string scratch;            // the worker's text of one event at a time

    static std::size_t outputOf(Form form) { return (form.brief ? 2 : 0) | (form.batched ? 1 : 0); }
    static bool batched(std::size_t output) { return (output & 1) != 0; }
    std::size_t largest() const
    {
        return std::max_element(outputs.begin(), outputs.end(),
                                [](const std::string& a, const std::string& b) { return a.size() < b.size(); })
            ->size();
    }
    // The scratch's event into an output clients want: a frame of its own, or for batched
    // clients after a comma.
    void appendScratch(std::size_t output)
    {
        if (!wanted[output])
            return;
        std::string& into = outputs[output];
        if (batched(output))
            into.append(into.empty() ? "" : ",").append(scratch);
        else
            WebSocketFrames::appendFrame(into, WebSocketFrames::Text, scratch);
    }
    bool fullWanted() const { return wanted[0] || wanted[1]; }
    bool briefWanted() const { return wanted[2] || wanted[3]; }
};

namespace {

// {"Data":…,"Type":…}, as QJsonDocument writes an event (keys sorted): the text in `scratch`.
// One text buffer serves a whole batch: a new one for every event cost the worker more in
// allocation than in writing.
void writeEvent(std::string& scratch, std::string_view type, const std::function<void(std::string&)>& data)
{
    scratch.assign("{\"Data\":");
    data(scratch);
    scratch += ",\"Type\":";
    JsonText::appendString(scratch, type);
    scratch += '}';
}

// One WebSocket message holding a batched client's events: their texts, joined by commas, as a
// JSON array.
std::string arrayFrame(std::string_view texts)
{
    std::string array;
    array.reserve(texts.size() + 2);
    array.append("[").append(texts).append("]");
    std::string frame;
    WebSocketFrames::appendFrame(frame, WebSocketFrames::Text, array);
    return frame;
}

void appendIdData(std::string& data, std::uint64_t id, bool read)
{
    data += "{\"ID\":";
    JsonText::appendString(data, MessageCatalog::idText(id));
    data += read ? ",\"Read\":true}" : "}";
}

// Describing arrivals can wait; answering clients cannot. The pool's thread is lowered once.
void inBackground()
{
    thread_local bool lowered = false;
    if (!std::exchange(lowered, true))
        runInBackground();
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
    m_sendHeld.setSingleShot(true);
    connect(&m_sendHeld, &QTimer::timeout, this, &EventStream::sendHeld);
}

EventStream::~EventStream()
{
    m_worker.waitForDone();
    for (const Member& member : m_clients) {
        member.client->disconnect(this);
        delete member.client;
    }
}

void EventStream::join(QTcpSocket* socket, Form form)
{
    auto* client = new EventClient(socket, this);
    m_clients.push_back({client, m_sequence, form});
    connect(client, &EventClient::closed, this, [this, client] {
        std::erase_if(m_clients, [client](const Member& member) { return member.client == client; });
        m_held.erase(client);
        client->deleteLater();
    });
}

void EventStream::stored(std::uint64_t id)
{
    if (m_clients.empty())
        return;
    m_unsentNew.push_back(id);
    // Told from inside the store's append: the newest message is the last.
    queue(Kind::New, id, m_store.Count());
}

void EventStream::removed(std::uint64_t id)
{
    if (m_busy)
        m_removedInFlight.push_back(id);
    if (m_clients.empty())
        return;
    // Taken back before it was told: nothing to tell.
    if (const auto found = std::lower_bound(m_unsentNew.begin(), m_unsentNew.end(), id);
        found != m_unsentNew.end() && *found == id) {
        m_unsentNew.erase(found);
        return;
    }
    queue(Kind::Delete, id);
}

void EventStream::cleared()
{
    m_clearedInFlight = m_busy;
    m_removedInFlight.clear();
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

void EventStream::dispose(std::shared_ptr<void> garbage)
{
    if (garbage)
        m_worker.start([garbage = std::move(garbage)]() mutable {
            inBackground();
            garbage.reset();
        });
}

void EventStream::queue(Kind kind, std::uint64_t id, std::int16_t position)
{
    if (m_pending.empty())
        m_gathering.start();
    m_pending.push_back({kind, id, m_sequence++, position});
    // Never at once: the reply that caused the event goes first, and what follows it joins.
    if (!m_busy && !m_start.isActive())
        m_start.start(BatchGatherMilliseconds);
}

// Where the message of an event is now, 0 when it is gone: where it was stored unless removals
// have moved it.
std::int16_t EventStream::positionNow(const Pending& event) const
{
    if (event.position != 0 && m_store.emailId(event.position) == event.id)
        return event.position;
    return m_store.positionOfId(event.id);
}

// On the worker: the batch's events in every output some client wants, up to
// MaxBatchFrameBytes; the rest go back.
void EventStream::describe(Batch& batch)
{
    for (std::size_t o = 0; o < batch.outputs.size(); ++o)
        if (batch.wanted[o])
            batch.outputs[o].reserve(MaxBatchFrameBytes + MaxBatchFrameBytes / 4);
    for (std::size_t i = 0; i < batch.jobs.size() && batch.largest() < MaxBatchFrameBytes; ++i) {
        Job& job = batch.jobs[i];
        std::array<std::size_t, 4> before{};
        for (std::size_t o = 0; o < batch.outputs.size(); ++o) {
            before[o] = batch.outputs[o].size();
            // A batched client's share starts at its first job's text, after the comma before it.
            job.at[o] = before[o] + (Batch::batched(o) && before[o] > 0 ? 1 : 0);
        }
        // Nothing may escape the worker; an event that cannot be described is left out.
        try {
            for (const bool brief : {false, true}) {
                if (brief ? batch.briefWanted() : batch.fullWanted()) {
                    writeEventText(batch, job, brief);
                    batch.appendScratch(Batch::outputOf({false, brief}));
                    batch.appendScratch(Batch::outputOf({true, brief}));
                }
            }
        } catch (...) {
            for (std::size_t o = 0; o < batch.outputs.size(); ++o)
                batch.outputs[o].resize(before[o]);
        }
        ++batch.written;
    }
}

// An event's text, in the batch's scratch; a new message's facts are read here unless they were
// kept or the text is brief.
void EventStream::writeEventText(Batch& batch, Job& job, bool brief)
{
    switch (job.event.kind) {
    case Kind::New: {
        if (brief)
            return writeEvent(batch.scratch, "new",
                              [&](std::string& data) { appendIdData(data, job.event.id, false); });
        const std::string_view envelope = job.envelope;
        if (!job.facts) {
            job.facts = std::make_shared<const MessageFacts>(
                factsOf(Mime::Document(job.body).message(), envelope.substr(job.fromBytes, job.toBytes)));
            batch.read.try_emplace(job.event.id, MessageCatalog::Kept{job.facts, job.facts->footprint()});
        }
        const ApiJson::ListingEntry entry{job.event.id,
                                          job.read,
                                          std::string(envelope.substr(0, job.fromBytes)),
                                          std::string(envelope.substr(job.fromBytes + job.toBytes)),
                                          job.received,
                                          job.body};
        return writeEvent(batch.scratch, "new",
                          [&](std::string& data) { ApiJson::appendListItem(data, entry, *job.facts); });
    }
    case Kind::Delete:
        return writeEvent(batch.scratch, "delete", [&](std::string& data) { appendIdData(data, job.event.id, false); });
    case Kind::Read:
        return writeEvent(batch.scratch, "update", [&](std::string& data) { appendIdData(data, job.event.id, true); });
    case Kind::Truncate:
        break;
    }
    writeEvent(batch.scratch, "truncate", [](std::string& data) { data += "null"; });
}

// What the worker needs of an arrival, if it is still stored; a brief event needs nothing.
bool EventStream::take(Job& job, bool full) const
{
    job.event.position = positionNow(job.event);
    if (job.event.position == 0)
        return false;
    if (!full)
        return true;
    const std::int16_t at = job.event.position;
    const std::string& from = m_store.EmailFrom(at);
    const std::string& to = m_store.EmailTo(at);
    const std::string& authUser = m_store.emailAuthUser(at);
    job.envelope.reserve(from.size() + to.size() + authUser.size());
    job.envelope.append(from).append(to).append(authUser);
    job.fromBytes = from.size();
    job.toBytes = to.size();
    job.read = m_store.emailRead(at);
    job.received = m_store.emailReceived(at);
    job.body = m_store.emailBodyShared(at);
    job.facts = m_catalog.kept(job.event.id);
    return true;
}

void EventStream::startBatch()
{
    if (m_busy || m_pending.empty())
        return;
    auto batch = std::make_shared<Batch>();
    for (const Member& member : m_clients)
        batch->wanted[Batch::outputOf(member.form)] = true;
    batch->jobs.reserve(std::min(m_pending.size(), MaxBatchEvents));
    std::size_t copied = 0;
    while (!m_pending.empty() && batch->jobs.size() < MaxBatchEvents && copied < MaxBatchCopiedBytes) {
        Job job;
        job.event = m_pending.front();
        m_pending.pop_front();
        if (job.event.kind == Kind::New) {
            // Arrivals are taken in the order they were queued: one missing from the front of
            // the untold was taken back.
            if (m_unsentNew.empty() || m_unsentNew.front() != job.event.id)
                continue;
            m_unsentNew.pop_front();
            if (!take(job, batch->fullWanted()))
                continue;
            copied += job.envelope.size();
        }
        batch->jobs.push_back(std::move(job));
    }
    if (!m_pending.empty())
        m_gathering.start();
    if (batch->jobs.empty())
        return;
    m_busy = true;
    m_worker.start([this, batch] {
        inBackground();
        describe(*batch);
        QMetaObject::invokeMethod(
            this, [this, batch] { batchWritten(batch); }, Qt::QueuedConnection);
    });
}

void EventStream::batchWritten(const std::shared_ptr<Batch>& batch)
{
    m_busy = false;
    // The facts of messages removed while the batch was out are not kept.
    if (!m_clearedInFlight) {
        for (const std::uint64_t id : m_removedInFlight)
            batch->read.erase(id);
        m_catalog.keep(batch->read);
    }
    m_removedInFlight.clear();
    m_clearedInFlight = false;
    // What the worker left for the next batch goes back to the front, in order; a clearing
    // queued meanwhile has made it moot.
    const bool clearedSince
        = std::any_of(m_pending.begin(), m_pending.end(), [](const Pending& p) { return p.kind == Kind::Truncate; });
    const bool full = batch->written < batch->jobs.size();
    for (std::size_t i = batch->jobs.size(); i-- > batch->written;) {
        if (clearedSince)
            break;
        const Pending& event = batch->jobs[i].event;
        if (event.kind == Kind::New)
            m_unsentNew.push_front(event.id);
        m_pending.push_front(event);
    }
    batch->jobs.resize(batch->written);
    sendToAll(*batch);
    scheduleNext(full || m_pending.size() >= MaxBatchEvents);
}

// The next batch: at once when there is a batch's worth, else when the oldest waiting event has
// gathered others as the first of a batch does; under a burst the batches stay large and the
// loop's cost of each is shared by many messages.
void EventStream::scheduleNext(bool full)
{
    if (m_pending.empty())
        return;
    const qint64 left = full ? 0 : BatchGatherMilliseconds - m_gathering.elapsed();
    m_start.start(int(std::max<qint64>(left, 0)));
}

void EventStream::sendToAll(const Batch& batch)
{
    std::string joined; // a batched client's message, made once for those that share a start
    std::size_t joinedOutput = batch.outputs.size();
    std::size_t joinedFrom = std::string::npos;
    // A copy: a client that has fallen behind is closed, and leaves the list, while it is walked.
    const std::vector<Member> members = m_clients;
    for (const Member& member : members) {
        // Events are in the order they were queued: a later joiner's share is the batch's tail.
        const auto first = std::find_if(batch.jobs.begin(), batch.jobs.end(),
                                        [&member](const Job& job) { return job.event.sequence >= member.joined; });
        if (first == batch.jobs.end())
            continue;
        const std::size_t o = Batch::outputOf(member.form);
        const std::string& output = batch.outputs[o];
        const std::size_t from = first->at[o];
        if (from >= output.size())
            continue;
        if (!member.form.batched) {
            member.client->send(std::string_view(output).substr(from));
            continue;
        }
        if (member.form.brief) {
            hold(member.client, std::string_view(output).substr(from));
            continue;
        }
        if (joinedOutput != o || joinedFrom != from) {
            joinedOutput = o;
            joinedFrom = from;
            joined = arrayFrame(std::string_view(output).substr(from));
        }
        member.client->send(joined);
    }
}

// A brief batched client's share of a batch waits with those before it: sent at once when nothing
// was sent to such clients for BriefHoldMilliseconds, else when that time is up, or when it holds
// a batch's worth.
void EventStream::hold(EventClient* client, std::string_view texts)
{
    std::string& held = m_held[client];
    held.append(held.empty() ? "" : ",").append(texts);
    if (held.size() >= MaxBatchFrameBytes) {
        client->send(arrayFrame(std::exchange(held, {})));
        return;
    }
    if (!m_sendHeld.isActive()) {
        const qint64 since = m_heldSent.isValid() ? m_heldSent.elapsed() : BriefHoldMilliseconds;
        m_sendHeld.start(int(std::max<qint64>(BriefHoldMilliseconds - since, 0)));
    }
}

void EventStream::sendHeld()
{
    m_heldSent.start();
    // Taken out first: a client that has fallen behind is closed, and leaves, while it is sent to.
    const auto held = std::exchange(m_held, {});
    for (const auto& [client, texts] : held) {
        const bool member = std::any_of(m_clients.begin(), m_clients.end(),
                                        [client = client](const Member& m) { return m.client == client; });
        if (member && !texts.empty())
            client->send(arrayFrame(texts));
    }
}
