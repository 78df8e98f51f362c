#pragma once

#include <chrono>

// Lets the events that are already pending run, as a handler may do mid-way.
void letPendingEventsRun();

// Runs the event loop for about the given time, so that events arriving meanwhile are handled.
void letEventsRunFor(std::chrono::milliseconds duration);
