#include "SmtpSession.h"

#include <algorithm>
#include <utility>

#include "CaptureLimits.h"
#include "Latin1Text.h"
#include "ScopeExit.h"

namespace {
constexpr std::size_t LargeBuffer = std::size_t{1024} * 1024;
constexpr std::string_view DotLineStart = "\r\n.";
} // namespace

SmtpSession::SmtpSession(SmtpConnection& connection, UnknownLineHandler onUnknownLine, ByteBudget* budget)
    : m_connection(connection), m_onUnknownLine(std::move(onUnknownLine))
{
    m_dialogue.dataCharge.setBudget(budget);
    m_dialogue.envelopeCharge.setBudget(budget);
}

void SmtpSession::receive(std::string block)
{
    if (m_dropped)
        return;
    if (m_busy || m_held) {
        m_arrivedWhileBusy.append(block);
        return;
    }
    // Only the new text can complete a line, apart from a CR left at the end of the old.
    run(std::move(block), m_received.empty() ? 0 : m_received.size() - 1);
}

void SmtpSession::resume()
{
    if (m_dropped || m_busy || !m_held)
        return;
    m_held = false;
    // What waited are whole lines, then perhaps an unfinished one.
    run({}, 0);
}

void SmtpSession::run(std::string waiting, std::size_t scanFrom)
{
    m_busy = true;
    const ScopeExit idle([this] { m_busy = false; });
    do {
        m_received.append(waiting);
        waiting.clear();
        handleLines(scanFrom);
        if (m_held)
            return;
        waiting.swap(m_arrivedWhileBusy);
        scanFrom = m_received.empty() ? 0 : m_received.size() - 1;
    } while (!waiting.empty() && !m_dropped);
}

// Splits the text at CR LF and hands each complete line to the engine. The text after the last
// CR LF is kept for the next block: TCP cuts lines anywhere.
void SmtpSession::handleLines(std::size_t scanFrom)
{
    std::size_t start = 0;
    for (std::size_t end;;) {
        start = takeDataRun(start, scanFrom);
        scanFrom = std::max(scanFrom, start);
        if ((end = m_received.find(Wire::CrLf, scanFrom)) == std::string::npos)
            break;
        const std::string_view line(m_received.data() + start, end - start);
        start = end + Wire::CrLf.size();
        scanFrom = start;
        if (m_skippingLine) {
            m_skippingLine = false;
            continue;
        }
        if (!m_dialogue.inDataPhase && line.size() > CaptureLimits::MaxCommandLineBytes) {
            lineTooLong();
            continue;
        }
        if (!mdlSMTP::SmtpHandleRequest(m_connection, line, m_dialogue) && m_onUnknownLine)
            m_onUnknownLine(line);
        if (m_dropped)
            return;
        if (m_dialogue.discardInput) {
            // What follows was sent in the clear before the handshake: it is not the client's word.
            m_dialogue.discardInput = false;
            m_arrivedWhileBusy.clear();
            start = m_received.size();
            break;
        }
        // Only commands are answered (a data line never is): a client that pipelines without
        // reading is held here, so that what waits for it to read stays bounded.
        if (!m_dialogue.inDataPhase && m_connection.outputBacklogged()) {
            m_held = true;
            m_received.erase(0, start);
            return;
        }
    }
    m_received.erase(0, start);
    limitPartialLine();
    // A large block leaves a large buffer behind; an idle connection should not keep it.
    if (m_received.capacity() > LargeBuffer && m_received.size() < m_received.capacity() / 4)
        m_received.shrink_to_fit();
}

// In the data phase, the lines before the next one that starts with a dot (the end of the data,
// or a line whose dot the client doubled) go in at once. Returns where the next line starts.
std::size_t SmtpSession::takeDataRun(std::size_t start, std::size_t scanFrom)
{
    if (!m_dialogue.inDataPhase || m_skippingLine)
        return start;
    const std::size_t run = dataRunEnd(start, scanFrom);
    if (run > start)
        mdlSMTP::appendDataRun(m_dialogue, std::string_view(m_received).substr(start, run - start));
    return run;
}

// The end of the complete lines from start up to the next line that begins with a dot, or start.
// Only the text from scanFrom on is searched: before it there is no CR LF (a long line arriving in
// pieces would otherwise be searched again with every piece).
std::size_t SmtpSession::dataRunEnd(std::size_t start, std::size_t scanFrom) const
{
    scanFrom = std::max(scanFrom, start);
    if (start >= m_received.size() || m_received[start] == '.' || scanFrom >= m_received.size())
        return start;
    const std::size_t dotLine = m_received.find(DotLineStart, scanFrom);
    if (dotLine != std::string::npos)
        return dotLine + Wire::CrLf.size();
    const std::size_t lastEnd = std::string_view(m_received).substr(scanFrom).rfind(Wire::CrLf);
    return lastEnd != std::string_view::npos ? scanFrom + lastEnd + Wire::CrLf.size() : start;
}

// A line still waiting for its CR LF may not grow without bound: a command line past its limit
// is answered and skipped, a data line past what the message may still take ends the message's
// chance of being kept. Either way its bytes are dropped as they arrive.
void SmtpSession::limitPartialLine()
{
    if (m_skippingLine) {
        dropPartialLine();
        return;
    }
    // Once a message is too large, a data line only matters if it is the "." that ends it. An
    // unfinished data line is the message's data too, and is taken from the budget as it grows.
    const bool collecting = m_dialogue.inDataPhase && !m_dialogue.oversized;
    const std::size_t allowed = collecting
        ? CaptureLimits::MaxMessageBytes - std::min(m_dialogue.dataBuffer.size(), CaptureLimits::MaxMessageBytes)
        : CaptureLimits::MaxCommandLineBytes;
    if (m_received.size() <= allowed + 1 // room for the CR of the line's CR LF
        && (!collecting || m_dialogue.dataCharge.cover(m_dialogue.dataBuffer.size() + m_received.size())))
        return;
    if (m_dialogue.inDataPhase)
        mdlSMTP::discardOversizedData(m_dialogue);
    else
        lineTooLong();
    m_skippingLine = true;
    dropPartialLine();
}

void SmtpSession::lineTooLong()
{
    mdlSMTP::replyLineTooLong(m_connection);
    SmtpExtensions::abandonExchange(m_dialogue);
}

// Keeps a final CR: it may be the first half of the CR LF that ends the line.
void SmtpSession::dropPartialLine()
{
    const bool endsInCr = !m_received.empty() && m_received.back() == '\r';
    std::string(endsInCr ? "\r" : "").swap(m_received);
}

std::size_t SmtpSession::bufferedBytes() const
{
    return m_received.size() + m_dialogue.pendingSender.size() + m_dialogue.pendingRecipients.size()
        + m_dialogue.dataBuffer.size() + m_arrivedWhileBusy.size();
}
