#include "WebSocketFrames.h"

#include <algorithm>

namespace WebSocketFrames {
namespace {

constexpr std::uint8_t FinalBit = 0x80;
constexpr std::uint8_t ReservedBits = 0x70;
constexpr std::uint8_t MaskBit = 0x80;
constexpr std::size_t MaxControlPayload = 125;

// The header's length once its second byte is known: the length field and the mask follow.
std::size_t headerLength(std::uint8_t second)
{
    const std::uint8_t length = second & 0x7f;
    return 2u + (length == 126 ? 2u : length == 127 ? 8u : 0u) + ((second & MaskBit) ? 4u : 0u);
}

} // namespace

std::string frame(Opcode opcode, std::string_view payload)
{
    std::string out;
    out.reserve(payload.size() + 10);
    appendFrame(out, opcode, payload);
    return out;
}

void appendFrame(std::string& out, Opcode opcode, std::string_view payload)
{
    out += char(FinalBit | opcode);
    if (payload.size() < 126) {
        out += char(payload.size());
    } else if (payload.size() <= 0xffff) {
        out += char(126);
        out += char(payload.size() >> 8);
        out += char(payload.size() & 0xff);
    } else {
        out += char(127);
        for (int shift = 56; shift >= 0; shift -= 8)
            out += char((std::uint64_t(payload.size()) >> shift) & 0xff);
    }
    out += payload;
}

std::string closeFrame(std::uint16_t code)
{
    const char payload[] = {char(code >> 8), char(code & 0xff)};
    return frame(Close, std::string_view(payload, 2));
}

std::size_t Reader::feed(std::string_view data, Event& event)
{
    event = {};
    std::size_t taken = 0;
    while (taken < data.size() && event.kind == Event::Kind::None) {
        if (!m_inFrame) {
            const std::size_t want = m_header.size() < 2 ? 2 : headerLength(std::uint8_t(m_header[1]));
            const std::size_t part = std::min(want - m_header.size(), data.size() - taken);
            m_header.append(data.substr(taken, part));
            taken += part;
            if (m_header.size() < 2 || m_header.size() < headerLength(std::uint8_t(m_header[1])))
                continue;
            if (!startFrame(event))
                return taken;
            m_inFrame = true;
            if (m_remaining == 0)
                endFrame(event);
            continue;
        }
        const std::size_t part = std::size_t(std::min<std::uint64_t>(m_remaining, data.size() - taken));
        if (m_opcode >= Close)
            for (std::size_t i = 0; i < part; ++i)
                m_control += char(data[taken + i] ^ m_mask[(m_payloadOffset + i) % 4]);
        m_payloadOffset += part;
        m_remaining -= part;
        taken += part;
        if (m_remaining == 0)
            endFrame(event);
    }
    return taken;
}

bool Reader::startFrame(Event& event)
{
    const auto first = std::uint8_t(m_header[0]);
    const auto second = std::uint8_t(m_header[1]);
    m_opcode = first & 0x0f;
    m_final = (first & FinalBit) != 0;
    std::uint64_t length = second & 0x7f;
    std::size_t at = 2;
    if (length >= 126) {
        const std::size_t bytes = length == 126 ? 2 : 8;
        length = 0;
        for (std::size_t i = 0; i < bytes; ++i)
            length = (length << 8) | std::uint8_t(m_header[at++]);
    }
    const bool control = m_opcode >= Close;
    const bool known = m_opcode <= Binary || (control && m_opcode <= Pong);
    // RFC 6455 5.1-5.5: clients mask; control frames are short and whole; a message's frames
    // come in order.
    const bool wellFormed = known && (first & ReservedBits) == 0 && (second & MaskBit) != 0
        && (!control || (m_final && length <= MaxControlPayload))
        && (control || (m_opcode == Continuation) == m_inMessage);
    if (!wellFormed) {
        event.kind = Event::Kind::Fault;
        event.code = CloseProtocolError;
        return false;
    }
    if (!control) {
        m_messageBytes += length;
        if (m_messageBytes > m_maxMessageBytes) {
            event.kind = Event::Kind::Fault;
            event.code = CloseTooBig;
            return false;
        }
        m_inMessage = !m_final;
        if (m_final)
            m_messageBytes = 0;
    }
    std::copy_n(m_header.begin() + std::ptrdiff_t(at), 4, m_mask);
    m_remaining = length;
    m_payloadOffset = 0;
    m_control.clear();
    return true;
}

void Reader::endFrame(Event& event)
{
    m_inFrame = false;
    m_header.clear();
    if (m_opcode == Ping) {
        event.kind = Event::Kind::Ping;
        event.payload = std::move(m_control);
    } else if (m_opcode == Close) {
        event.kind = Event::Kind::Close;
        event.code = m_control.size() >= 2 ? std::uint16_t(std::uint8_t(m_control[0]) << 8 | std::uint8_t(m_control[1]))
                                           : CloseNormal;
    }
    m_control.clear();
}

} // namespace WebSocketFrames
