#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "SocketControl.h"

// Bounded waits for the loopback tests; generous, since they end as soon as the condition holds.
inline constexpr int WaitMs = 5000;

// One event as a control raised it, with the control's state at that moment.
struct RecordedEvent {
    std::string kind; // Request, Data, Close, Connect, Error, Progress, Complete
    int state;
};

// Records every event of a control; reads arriving data at once unless told not to.
class EventRecorder {
public:
    explicit EventRecorder(SocketControl& control, bool readOnArrival = true);

    int Count(std::string_view kind) const;
    std::vector<std::string> Kinds() const;

    std::vector<RecordedEvent> events;
    std::string received;
    std::vector<long> requests;
    int errorNumber = 0;
    std::string errorDescription;
    std::string errorSource;
    long bytesSent = 0;
    long lastRemaining = -1;
};

// A port on the loopback address on which nothing listens.
int ClosedLoopbackPort();
