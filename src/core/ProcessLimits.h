#pragma once

// Lets the process open as many descriptors as its hard limit allows: each client connection
// takes one, and bursts of hundreds of clients are normal for a capture server.
void raiseOpenFileLimit();

// Lowers the calling thread's scheduling priority by BackgroundNiceness (at most to the lowest):
// a thread doing work that can wait, such as describing arrivals for followers, then leaves the
// core to the thread that answers SMTP clients whenever both want it, and still has any core
// nobody else wants.
inline constexpr int BackgroundNiceness = 10;
void runInBackground();
