#pragma once

#include <cstdint>
#include <string>

// What the listener needs of the engine that owns it. Stored messages are the store's news.
class ListenerHost {
public:
    virtual ~ListenerHost() = default;
    // Appends one line to the application log.
    virtual void appendLogLine(const std::string& line) = 0;
    // Whether detailed logging is on at this moment.
    virtual bool wantsDetailedLog() const = 0;
    // The number of connection sockets in the pool changed.
    virtual void connectionsChanged(long count) = 0;
};
