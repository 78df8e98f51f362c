#pragma once

#include <atomic>
#include <string>
#include <string_view>
#include <vector>

#include "RelaySettings.h"

// What a transfer came to: sent, or the reason it was not, with the server's reply when it gave one.
struct RelayResult {
    bool sent = false;
    std::string error;
};

// Sends a stored message, unchanged, to the relay in one SMTP transaction (libcurl's SMTP). Blocks
// for at most the settings' time-out; returns early once cancelled is set. Either every recipient
// is accepted and the whole message sent, or the transaction is abandoned before its final dot,
// so nothing is delivered half. Thread-safe: it shares nothing.
RelayResult relayMessage(const RelaySettings& settings, std::string_view sender,
                         const std::vector<std::string>& recipients, const std::string& body,
                         const std::atomic<bool>& cancelled);

// Sets libcurl up once for the process; call on the main thread before any transfer.
void initRelayTransfers();
