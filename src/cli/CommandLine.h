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
    std::optional<std::size_t> MaxMemory;     // bytes; the default is the store's own
    std::optional<ListenAddress> Smtp;        // where Start listens; port 25 on every address by default
    std::optional<ListenAddress> Http;        // where the HTTP API listens; no API by default
    std::vector<std::string> HttpHosts;       // names the API answers for beyond loopback and its address
    std::vector<std::string> CorsOrigins;     // web origins the API grants cross-origin use
    std::optional<std::string> HttpUsersFile; // htpasswd file: the API asks every request to log in
    bool Headless = false;                    // no window: listen at once, boxes go to stderr
    bool ModernSmtp = false;                  // EHLO, STARTTLS and AUTH on from the start
    // The certificate TLS shows, from PEM files; both or neither. Without, one is generated.
    std::optional<std::string> TlsCertificateFile;
    std::optional<std::string> TlsKeyFile;
    std::optional<ListenAddress> Smtps;    // where clients that speak TLS from the first byte connect
    std::optional<int> SmtpTimeoutSeconds; // a client's idle time before it is closed; 300 by default
    std::optional<int> SmtpMaxConnections; // clients at once; 1,000 by default
    // Failure replies on demand: switched on, with these triggers ("sender:451:50,...", already
    // checked) and this seed for their draws.
    bool Chaos = false;
    std::optional<std::string> ChaosSpec;
    std::optional<std::uint64_t> ChaosSeed;
    // Release: the relay (its login read from --relay-auth) and the addresses it may send to.
    std::optional<RelaySettings> Relay;
    std::optional<RelayAllowList> RelayAllow;
    // Text to print instead of running (--help, --version).
    std::optional<std::string> Output;
};

// Reads the program's arguments (the program's name first). Nothing when they are wrong, with
// the reason in error. Needs no application object, so --help works without a display.
std::optional<CommandLineOptions> parseCommandLine(const std::vector<std::string>& arguments, std::string& error);
