#pragma once

// Lets the process open as many descriptors as its hard limit allows: each client connection
// takes one, and bursts of hundreds of clients are normal for a capture server.
void raiseOpenFileLimit();
