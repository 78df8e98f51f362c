#pragma once

#include <chrono>

// Lets the events that are already pending run, as a handler may do mid-way.
void LetPendingEventsRun();

// Runs the event loop for about the given time, so that events arriving meanwhile are handled.
void LetEventsRunFor(std::chrono::milliseconds duration);
