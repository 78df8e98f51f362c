#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include <QObject>
#include <QThreadPool>

#include "RelaySettings.h"
#include "RelayTransfer.h"

class clsEmailStorage;

// Release: sends a captured message, chosen by its id, to the relay the command line names.
// Each transfer runs on a worker thread (libcurl blocks), so the event loop never waits for a
// server; its outcome comes back on the loop, is logged once, and is handed to whoever asked.
class RelayService final : public QObject {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(RelayService)
public:
    using Done = std::function<void(const RelayResult&)>;
    using Logger = std::function<void(const std::string&)>;
    // Transfers under way at once; a further release is refused until one ends.
    static constexpr int MaxTransfers = 8;

    RelayService(RelaySettings settings, RelayAllowList allowed, Logger log, QObject* parent = nullptr);
    // Cancels the transfers under way and waits for them: each stops within moments.
    ~RelayService() override;

    const RelaySettings& settings() const { return m_settings; }
    const RelayAllowList& allowList() const { return m_allowed; }

    // Starts sending the stored message with this id to the recipients, from its envelope's
    // sender. False, with the reason (also logged), when it is refused before any connection:
    // the message is gone, a recipient is malformed or not allowed, too many transfers run. Else
    // done is called once, on this object's thread, with the outcome.
    bool release(const clsEmailStorage& store, std::uint64_t id, const std::vector<std::string>& recipients, Done done,
                 std::string& error);

private:
    void finished(const std::string& what, const RelayResult& result, const Done& done);

    RelaySettings m_settings;
    RelayAllowList m_allowed;
    Logger m_log;
    QThreadPool m_pool;
    std::atomic<bool> m_cancelled{false};
    int m_running = 0;
};
