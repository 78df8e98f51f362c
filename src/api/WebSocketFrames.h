#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

// The server's side of RFC 6455 framing, for a stream that only the server writes to: what a
// client sends is read, answered (ping, close) and otherwise dropped.
namespace WebSocketFrames {

enum Opcode : std::uint8_t { Continuation = 0, Text = 1, Binary = 2, Close = 8, Ping = 9, Pong = 10 };

inline constexpr std::uint16_t CloseNormal = 1000;
inline constexpr std::uint16_t CloseProtocolError = 1002;
inline constexpr std::uint16_t CloseTooBig = 1009;

// One whole, unmasked frame as the server sends it.
std::string frame(Opcode opcode, std::string_view payload);
// The same frame added to the end of `out`.
void appendFrame(std::string& out, Opcode opcode, std::string_view payload);
// A close frame with its status code.
std::string closeFrame(std::uint16_t code);

// Reads a client's frames one at a time, holding no more than a control frame's payload: data
// frames are counted against the message bound and dropped.
class Reader {
public:
    struct Event {
        enum class Kind { None, Ping, Close, Fault };
        Kind kind = Kind::None;
        std::string payload;    // a ping's, to be sent back in the pong
        std::uint16_t code = 0; // a close's status; for a fault, the status to close with
    };

    explicit Reader(std::size_t maxMessageBytes) : m_maxMessageBytes(maxMessageBytes) { }

    // Takes bytes up to the end of the next frame that asks for an answer; returns how many.
    std::size_t feed(std::string_view data, Event& event);

private:
    bool startFrame(Event& event);
    void endFrame(Event& event);

    std::size_t m_maxMessageBytes;
    std::string m_header;
    std::uint8_t m_opcode = 0;
    bool m_final = false;
    std::uint8_t m_mask[4] = {};
    std::uint64_t m_remaining = 0;
    std::uint64_t m_payloadOffset = 0;
    bool m_inFrame = false;
    bool m_inMessage = false;
    std::uint64_t m_messageBytes = 0;
    std::string m_control;
};

} // namespace WebSocketFrames
