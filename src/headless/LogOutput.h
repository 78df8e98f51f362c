#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include <QObject>

class QSocketNotifier;

// The headless log's way to standard output, which never makes the event loop wait: a fixture
// that reads the first lines (to learn a port) and then stops reading must not stop the capture.
// Lines wait in a bounded queue while the reader lags; past the bound they are dropped and
// counted, and once the reader catches up a line says how many went.
class LogOutput final : public QObject {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(LogOutput)
public:
    static constexpr std::size_t DefaultMaxQueued = std::size_t{1} << 20;

    // A pipe or socket is written without blocking; a terminal or file, as always.
    explicit LogOutput(int descriptor, std::size_t maxQueued = DefaultMaxQueued);
    // Hands over what is still queued if the reader takes it within a moment.
    ~LogOutput() override;

    // One line; a newline is added.
    void write(std::string_view line);
    // Lines dropped in all.
    std::uint64_t dropped() const { return m_droppedInAll; }

private:
    void flush();

    int m_descriptor;
    std::size_t m_maxQueued;
    int m_savedFlags = -1; // the descriptor's flags before, when they were changed
    std::string m_queue;
    std::size_t m_written = 0; // bytes of the queue already out
    std::uint64_t m_droppedSinceNotice = 0;
    std::uint64_t m_droppedInAll = 0;
    std::unique_ptr<QSocketNotifier> m_writable;
};
