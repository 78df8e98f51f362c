#pragma once

#include "CommandLine.h"

// Runs the program with its window over the capture service, set up as the command line asks,
// until the window closes. Returns the process's exit code.
int runWindow(int& argc, char** argv, const CommandLineOptions& options);
