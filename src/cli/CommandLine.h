#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

// What the command line asks of the program. Without options the program behaves as it always has.
struct CommandLineOptions {
    std::optional<std::size_t> MaxMemory; // bytes; the default is the store's own
    // Text to print instead of running (--help, --version).
    std::optional<std::string> Output;
};

// Reads the program's arguments (the program's name first). Nothing when they are wrong, with
// the reason in error. Needs no application object, so --help works without a display.
std::optional<CommandLineOptions> parseCommandLine(const std::vector<std::string>& arguments, std::string& error);
