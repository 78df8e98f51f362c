#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <utility>
#include <vector>

// What the command line asks of the program. Without options the program behaves as it always has.
struct CommandLineOptions {
    std::optional<std::size_t> MaxMemory; // bytes; the default is the store's own
    bool ModernSmtp = false;              // EHLO, STARTTLS and AUTH on from the start
    // The certificate TLS shows, from PEM files; both or neither. Without, one is generated.
    std::optional<std::string> TlsCertificateFile;
    std::optional<std::string> TlsKeyFile;
    std::optional<std::pair<std::string, int>> SmtpsAddress; // address and port of the implicit-TLS port
    // Text to print instead of running (--help, --version).
    std::optional<std::string> Output;
};

// Reads the program's arguments (the program's name first). Nothing when they are wrong, with
// the reason in error. Needs no application object, so --help works without a display.
std::optional<CommandLineOptions> parseCommandLine(const std::vector<std::string>& arguments, std::string& error);
