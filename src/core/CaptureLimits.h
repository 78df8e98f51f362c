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
// Positions and counts of messages are signed 16-bit numbers.
inline constexpr int MaxStoredMessages = std::numeric_limits<std::int16_t>::max();
// The application log keeps at most this many of its newest lines, and at most this many bytes
// of them; each unknown command a client sends is logged.
inline constexpr std::size_t MaxLogLines = 100000;
inline constexpr std::size_t MaxLogBytes = 64u * 1024u * 1024u;
} // namespace CaptureLimits
