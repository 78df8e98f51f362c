#include "LogOutput.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>

#include <QSocketNotifier>

namespace {

constexpr const char* DroppedFormat = "Log output: %1 lines dropped while standard output was not read.";
// On the way out, a reader that is still reading gets this long to take the last lines.
constexpr std::chrono::milliseconds FinalFlushTime{1000};

std::string droppedLine(std::uint64_t count)
{
    std::string line(DroppedFormat);
    line.replace(line.find("%1"), 2, std::to_string(count));
    return line;
}

} // namespace

LogOutput::LogOutput(int descriptor, std::size_t maxQueued) : m_descriptor(descriptor), m_maxQueued(maxQueued)
{
    struct stat status { };
    if (::fstat(descriptor, &status) != 0 || !(S_ISFIFO(status.st_mode) || S_ISSOCK(status.st_mode)))
        return;
    // A terminal is left alone: its flags are the shell's too, and outlive a killed program.
    const int flags = ::fcntl(descriptor, F_GETFL);
    if (flags < 0 || ::fcntl(descriptor, F_SETFL, flags | O_NONBLOCK) != 0)
        return;
    m_savedFlags = flags;
    m_writable = std::make_unique<QSocketNotifier>(descriptor, QSocketNotifier::Write);
    m_writable->setEnabled(false);
    connect(m_writable.get(), &QSocketNotifier::activated, this, &LogOutput::flush);
}

LogOutput::~LogOutput()
{
    using Clock = std::chrono::steady_clock;
    const Clock::time_point deadline = Clock::now() + FinalFlushTime;
    flush();
    while (m_written < m_queue.size() && Clock::now() < deadline) {
        pollfd writable{m_descriptor, POLLOUT, 0};
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
        if (::poll(&writable, 1, int(left.count()) + 1) <= 0)
            break;
        flush();
    }
    m_writable.reset();
    if (m_savedFlags >= 0)
        ::fcntl(m_descriptor, F_SETFL, m_savedFlags);
}

void LogOutput::write(std::string_view line)
{
    const std::size_t waiting = m_queue.size() - m_written;
    if (waiting + line.size() + 1 > m_maxQueued) {
        ++m_droppedSinceNotice;
        ++m_droppedInAll;
        return;
    }
    if (m_droppedSinceNotice > 0) {
        m_queue += droppedLine(m_droppedSinceNotice);
        m_queue += '\n';
        m_droppedSinceNotice = 0;
    }
    m_queue += line;
    m_queue += '\n';
    if (!m_writable || !m_writable->isEnabled())
        flush();
}

void LogOutput::flush()
{
    while (m_written < m_queue.size()) {
        const ssize_t n = ::write(m_descriptor, m_queue.data() + m_written, m_queue.size() - m_written);
        if (n > 0) {
            m_written += std::size_t(n);
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK) && m_writable) {
            // The rest goes when the reader has made room.
            m_queue.erase(0, m_written);
            m_written = 0;
            m_writable->setEnabled(true);
            return;
        }
        break; // the reader is gone: nobody will read the rest
    }
    m_queue.clear();
    m_written = 0;
    if (m_writable)
        m_writable->setEnabled(false);
}
