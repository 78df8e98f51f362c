#include "LogBuffer.h"

#include "AppError.h"

namespace {
constexpr const char* DroppedNotice = "Log full, oldest lines dropped: ";

std::size_t cost(std::string_view line)
{
    return sizeof(std::string) + line.size();
}
} // namespace

LogBuffer::LogBuffer(std::size_t maxLines, std::size_t maxBytes) : m_maxLines(maxLines), m_maxBytes(maxBytes)
{
}

std::size_t LogBuffer::append(std::string_view line)
{
    m_lines.emplace_back(line);
    m_bytes += cost(line);
    std::size_t gone = 0;
    // A line larger than the whole budget goes too: the bound holds whatever a writer sends.
    while (!m_lines.empty() && (m_lines.size() > m_maxLines || m_bytes > m_maxBytes)) {
        m_bytes -= cost(m_lines.front());
        m_lines.pop_front();
        ++gone;
    }
    if (gone > 0) {
        m_dropped += gone;
        m_notice.assign(DroppedNotice).append(std::to_string(m_dropped));
    }
    ++m_revision;
    return gone;
}

void LogBuffer::Clear()
{
    m_lines = {};
    m_bytes = 0;
    m_dropped = 0;
    m_notice.clear();
    ++m_revision;
}

std::string_view LogBuffer::line(std::size_t index) const
{
    if (index >= Count())
        throw subscriptOutOfRangeError();
    if (m_dropped == 0)
        return m_lines[index];
    return index == 0 ? std::string_view(m_notice) : std::string_view(m_lines[index - 1]);
}
