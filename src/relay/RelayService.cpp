#include "RelayService.h"

#include <memory>

#include <openssl/crypto.h>

#include "Latin1Text.h"
#include "clsEmailStorage.h"

namespace {

constexpr const char* ReleaseText = "Release of message ";
constexpr const char* ToText = " to ";
constexpr const char* SentText = ": sent to ";
constexpr const char* FailedText = ": failed: ";
constexpr const char* RefusedText = ": refused: ";
constexpr const char* GoneText = "the message is no longer stored";
constexpr const char* BusyText = "too many releases under way; try again when one has ended";
constexpr std::size_t MaxLoggedRecipientBytes = 1024;

std::string joined(const std::vector<std::string>& recipients)
{
    std::string text;
    for (const std::string& recipient : recipients)
        text += (text.empty() ? "" : ", ") + recipient;
    return escapeControls(text, MaxLoggedRecipientBytes);
}

// The stored sender is the path as the client gave it; the relay is given its address.
std::string senderAddress(std::string path)
{
    if (path.size() >= 2 && path.front() == '<' && path.back() == '>')
        path = path.substr(1, path.size() - 2);
    return path;
}

} // namespace

RelayService::RelayService(RelaySettings settings, RelayAllowList allowed, Logger log, QObject* parent)
    : QObject(parent), m_settings(std::move(settings)), m_allowed(std::move(allowed)), m_log(std::move(log))
{
    initRelayTransfers();
    m_pool.setMaxThreadCount(MaxTransfers);
}

RelayService::~RelayService()
{
    m_cancelled = true;
    m_pool.waitForDone();
}

bool RelayService::release(const clsEmailStorage& store, std::uint64_t id, const std::vector<std::string>& recipients,
                           Done done, std::string& error)
{
    const std::string what = ReleaseText + std::to_string(id) + ToText + joined(recipients);
    const std::int16_t position = store.positionOfId(id);
    error = position < 1 ? GoneText : checkReleaseRecipients(recipients, m_allowed);
    if (error.empty() && m_running >= MaxTransfers)
        error = BusyText;
    if (!error.empty()) {
        m_log(what + RefusedText + error);
        return false;
    }
    // Taken now: the store may drop the message while the transfer runs; its body is shared, never changed.
    auto body = store.emailBodyShared(position);
    auto sender = senderAddress(store.EmailFrom(position));
    ++m_running;
    m_pool.start([this, what, body, sender, recipients, done = std::move(done)]() mutable {
        const RelayResult result = relayMessage(m_settings, sender, recipients, *body, m_cancelled);
        // The pool keeps its threads past the program's end: what TLS kept for this one (its error
        // queue after a refused certificate) is given back now, or it is never freed.
        OPENSSL_thread_stop();
        QMetaObject::invokeMethod(
            this, [this, what, result, done = std::move(done)] { finished(what, result, done); }, Qt::QueuedConnection);
    });
    return true;
}

void RelayService::finished(const std::string& what, const RelayResult& result, const Done& done)
{
    --m_running;
    m_log(result.sent ? what + SentText + m_settings.server() + "." : what + FailedText + result.error);
    if (done)
        done(result);
}
