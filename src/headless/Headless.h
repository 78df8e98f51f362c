#pragma once

#include "CommandLine.h"

// Runs the capture server without a window until SIGTERM or SIGINT: the same listener, engine
// and store as the window's, listening at once. Returns the process's exit code.
int runHeadless(int& argc, char** argv, const CommandLineOptions& options);
