#pragma once

#include <string>
#include <vector>

#include "CommandLine.h"

class CaptureService;

// What setting the engine up from the command line came to.
struct CaptureSetup {
    bool done = true;
    int exitCode = 0;                  // the program's exit code when it was not done
    std::string error;                 // why not, for standard error
    std::vector<std::string> warnings; // for standard error, though it was done
};

// Sets the engine up as the command line asks: the byte budget, where to listen (for a headless
// run every IPv4 address by default), the TLS certificate, the implicit-TLS port, the time-out,
// the connection cap, the modern dialogue and the HTTP API, listening at once. Prints nothing.
// A face attaches to the service first, so that it sees the lines this logs.
CaptureSetup setUpCapture(CaptureService& service, const CommandLineOptions& options);

// Writes the warnings, or the error, to standard error; false when the setup was not done.
bool reportCaptureSetup(const CaptureSetup& setup);
