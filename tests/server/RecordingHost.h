#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "ListenerHost.h"

// Stands in for the main window: keeps the log lines, the counter shown and the messages shown.
class RecordingHost : public ListenerHost {
public:
    void LogLine(const std::string& line) override
    {
        lines.push_back(line);
        if (onLine)
            onLine(line);
    }
    bool DetailedLogging() const override { return detailed; }
    void ConnectionCountChanged(long count) override { shownCount = count; }
    void MessageStored(std::int16_t position) override { shown.push_back(position); }

    std::vector<std::string> lines;
    bool detailed = false;
    long shownCount = 0;
    std::vector<std::int16_t> shown;
    std::function<void(const std::string&)> onLine; // after each line: a test acts at that moment
};
