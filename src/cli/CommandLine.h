#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "ListenAddress.h"
#include "RelaySettings.h"

// What the command line asks of the program. Without options the program behaves as it always has.
struct CommandLineOptions {
    std::optional<std::size_t> maxMemory;     // bytes; the default is the store's own
    std::optional<ListenAddress> smtp;        // where Start listens; port 25 on every address by default
    std::optional<ListenAddress> http;        // where the HTTP API listens; no API by default
    std::vector<std::string> httpHosts;       // names the API answers for beyond loopback and its address
    std::vector<std::string> corsOrigins;     // web origins the API grants cross-origin use
    std::optional<std::string> httpUsersFile; // htpasswd file: the API asks every request to log in
    bool headless = false;                    // no window: listen at once, boxes go to stderr
    bool modernSmtp = false;                  // EHLO, STARTTLS and AUTH on from the start
    // The certificate TLS shows, from PEM files; both or neither. Without, one is generated.
    std::optional<std::string> tlsCertificateFile;
    std::optional<std::string> tlsKeyFile;
    std::optional<ListenAddress> smtps;    // where clients that speak TLS from the first byte connect
    std::optional<int> smtpTimeoutSeconds; // a client's idle time before it is closed; 300 by default
    std::optional<int> smtpMaxConnections; // clients at once; 1,000 by default
    // Failure replies on demand: switched on, with these triggers ("sender:451:50,...", already
    // checked) and this seed for their draws.
    bool chaos = false;
    std::optional<std::string> chaosTriggers;
    std::optional<std::uint64_t> chaosSeed;
    // Release: the relay (its login read from --relay-auth) and the addresses it may send to.
    std::optional<RelaySettings> relay;
    std::optional<RelayAllowList> relayAllow;
    // Text to print instead of running (--help, --version).
    std::optional<std::string> output;
};

// Reads the program's arguments (the program's name first). Nothing when they are wrong, with
// the reason in error. Needs no application object, so --help works without a display.
std::optional<CommandLineOptions> parseCommandLine(const std::vector<std::string>& arguments, std::string& error);
