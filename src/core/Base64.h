#pragma once

#include <optional>
#include <string>
#include <string_view>

// Base64 (RFC 4648's alphabet and pad), for the client's encoded words and login and for the
// server's AUTH exchanges. The two sides read it differently, and each keeps its own reading.
namespace Base64 {

// The 64 digits for the values 0 to 63, then the pad.
inline constexpr std::string_view Alphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/=";
inline constexpr char Pad = '=';

enum class Lines {
    // One run of digits, no line break: a protocol line's argument.
    Unbroken,
    // RFC 2045's lines of 76 digits, each ended by CR LF, the last one too (also for no bytes).
    Mime,
};

enum class Reading {
    // Groups of four: a pad ends its group only, a short last group counts its missing digits as
    // 0 and still yields three bytes, and any character outside the alphabet (a line break
    // included, even behind a pad) refuses the whole text.
    Groups,
    // A stream of digits: pads at the end are dropped, bits that make no whole byte are ignored,
    // and any other character outside the 64 digits refuses the whole text.
    Stream,
};

std::string encode(std::string_view bytes, Lines lines);
// Nothing when the text is refused.
std::optional<std::string> decode(std::string_view text, Reading reading);

} // namespace Base64

// The client's codec, by the names its design gives them.
// Base64 in lines of 76 characters, each line ending in CR LF (even for no bytes).
std::string Base64Encode(std::string_view bytes);
// As Base64Encode, but an empty text stays empty.
std::string Base64EncodeText(std::string_view text);
// Decodes groups of four; a refused text gives empty text.
std::string Base64Decode(std::string_view text);
