#pragma once

#include <cstdint>
#include <string>

#include <unistd.h>

#include "ListenerHost.h"
#include "LogOutput.h"

// The listener's host when there is no window: log lines go to standard output, one a line,
// so that a test fixture's output can be read or thrown away as a whole.
class HeadlessHost : public ListenerHost {
public:
    void LogLine(const std::string& line) override { m_output.write(line); }
    bool DetailedLogging() const override { return false; }
    void ConnectionCountChanged(long) override { }
    void MessageStored(std::int16_t) override { }

private:
    LogOutput m_output{STDOUT_FILENO};
};
