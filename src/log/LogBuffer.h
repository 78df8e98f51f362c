#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <string>
#include <string_view>

#include "CaptureLimits.h"

// The application log's lines within a fixed budget of lines and bytes: beyond it the oldest
// lines go, and one line on top, kept current, says how many went. A client that sends garbage
// is logged, so without the budget any client could grow the log without end.
class LogBuffer {
public:
    explicit LogBuffer(std::size_t maxLines = CaptureLimits::MaxLogLines,
                       std::size_t maxBytes = CaptureLimits::MaxLogBytes);

    // Appends one line at the end; returns how many of the oldest lines went to make room.
    std::size_t append(std::string_view line);
    // Removes every line and forgets the dropped ones.
    void Clear();

    // Lines on show: the kept ones, after the notice of dropped lines once there are any.
    std::size_t Count() const { return m_lines.size() + (m_dropped > 0 ? 1 : 0); }
    // A line's bytes, valid until the buffer next changes; throws for an index out of range.
    std::string_view line(std::size_t index) const;
    // Lines dropped since the last clearing.
    std::uint64_t dropped() const { return m_dropped; }
    // The kept lines' text and bookkeeping in bytes: what the byte budget bounds.
    std::size_t byteCount() const { return m_bytes; }
    // Advances with every change, so that a view can tell whether it is current.
    std::uint64_t revision() const { return m_revision; }

private:
    std::size_t m_maxLines;
    std::size_t m_maxBytes;
    std::deque<std::string> m_lines;
    std::size_t m_bytes = 0;
    std::uint64_t m_dropped = 0;
    std::uint64_t m_revision = 0;
    std::string m_notice;
};
