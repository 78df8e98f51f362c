#include <cstdio>

#include "CommandLine.h"
#include "Headless.h"
#include "ProcessLimits.h"
#include "WindowFace.h"

// Chooses the face: the window, or headless. Each sets up the capture service the same way.
int main(int argc, char** argv)
{
    raiseOpenFileLimit();
    std::string error;
    const std::optional<CommandLineOptions> options = parseCommandLine({argv, argv + argc}, error);
    if (!options) {
        std::fprintf(stderr, "quellpost: %s\n", error.c_str());
        return 2;
    }
    if (options->output) {
        std::fputs(options->output->c_str(), stdout);
        return 0;
    }
    return options->headless ? runHeadless(argc, argv, *options) : runWindow(argc, argv, *options);
}
