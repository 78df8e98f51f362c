#include "HeadlessHost.h"

#include <cstdio>

void HeadlessHost::LogLine(const std::string& line)
{
    std::fwrite(line.data(), 1, line.size(), stdout);
    std::fputc('\n', stdout);
    // A reader behind a pipe sees each line as it happens, not when a buffer fills.
    std::fflush(stdout);
}
