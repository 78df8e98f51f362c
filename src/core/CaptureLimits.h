#pragma once

#include <cstddef>
#include <cstdint>
#include <limits>

// Memory is the capture server's only unbounded resource; these bound it without losing
// anything a client was told had been kept.
namespace CaptureLimits {
// A command line longer than this is answered "500" and skipped.
inline constexpr std::size_t MaxCommandLineBytes = 4096;
// A message larger than this is answered "552" at its end and not kept.
inline constexpr std::size_t MaxMessageBytes = std::size_t{64} * 1024 * 1024;
// A transaction takes at most this many recipients (RFC 5321 asks for at least 100); each further
// RCPT is answered "452 4.5.3".
inline constexpr std::size_t MaxRecipients = 1000;
// While this much of a connection's output waits to be sent, the connection's input is not read:
// a client that sends without reading stops when TCP's buffers are full, not our memory.
inline constexpr std::size_t MaxUnsentBytes = std::size_t{128} * 1024;
// Client connections at once, at most (fewer when the process may open fewer descriptors); a
// further client makes room by pushing out the one idle longest.
inline constexpr int MaxConnections = 1000;
// What a client wrote is cut to this many bytes in a log line.
inline constexpr std::size_t MaxLoggedClientBytes = 256;
// Positions and counts of messages are signed 16-bit numbers.
inline constexpr int MaxStoredMessages = std::numeric_limits<std::int16_t>::max();
// The application log keeps at most this many of its newest lines, and at most this many bytes
// of them; each unknown command a client sends is logged.
inline constexpr std::size_t MaxLogLines = 100000;
inline constexpr std::size_t MaxLogBytes = std::size_t{64} * 1024 * 1024;
} // namespace CaptureLimits
