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
} // namespace CaptureLimits
