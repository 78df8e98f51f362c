#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "ListenerHost.h"

// Stands in for the main window: keeps the log lines, the counter shown and the messages shown.
class RecordingHost : public ListenerHost {
public:
    void appendLogLine(const std::string& line) override
    {
        lines.push_back(line);
        if (onLine)
            onLine(line);
    }
    bool wantsDetailedLog() const override { return detailed; }
    void connectionsChanged(long count) override { shownCount = count; }

    std::vector<std::string> lines;
    bool detailed = false;
    long shownCount = 0;
    std::function<void(const std::string&)> onLine; // after each line: a test acts at that moment
};
