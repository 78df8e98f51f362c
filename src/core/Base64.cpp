#include "Base64.h"

#include <array>
#include <cstddef>

#include "Latin1Text.h"

namespace {
constexpr std::size_t GroupsPerLine = 19; // 76 digits

// For each byte: its position in the alphabet (the pad is 64), or -1 when it is not in it.
constexpr std::array<int, 256> DigitValues = [] {
    std::array<int, 256> values{};
    values.fill(-1);
    for (std::size_t i = 0; i < Base64::Alphabet.size(); ++i)
        values[static_cast<unsigned char>(Base64::Alphabet[i])] = static_cast<int>(i);
    return values;
}();
constexpr int PadValue = 64;

char digit(unsigned value)
{
    return Base64::Alphabet[value & 63];
}

unsigned byteAt(std::string_view bytes, std::size_t i)
{
    return i < bytes.size() ? static_cast<unsigned char>(bytes[i]) : 0u;
}

int valueOf(char c)
{
    return DigitValues[static_cast<unsigned char>(c)];
}

std::optional<std::string> decodeGroups(std::string_view text)
{
    std::string out;
    out.reserve(text.size() / 4 * 3 + 3);
    for (std::size_t start = 0; start < text.size(); start += 4) {
        std::array<unsigned, 4> values{};
        int n = 4;
        for (int i = 0; i < 4; ++i) {
            const std::size_t at = start + static_cast<std::size_t>(i);
            // Missing positions of a short last group count as 0 and do not shorten the group.
            if (at >= text.size())
                break;
            const int value = valueOf(text[at]);
            // A stray character is refused even behind a pad, so that no such text decodes.
            if (value < 0)
                return std::nullopt;
            if (n < 4)
                continue;
            if (value == PadValue)
                n = i;
            else
                values[static_cast<std::size_t>(i)] = static_cast<unsigned>(value);
        }
        const auto [a, b, c, d] = values;
        const char bytes[3] = {
            static_cast<char>(a << 2 | (b >> 4 & 3)),
            static_cast<char>((b & 15) << 4 | (c >> 2 & 15)),
            static_cast<char>((c & 3) << 6 | d),
        };
        if (n > 1)
            out.append(bytes, static_cast<std::size_t>(n - 1));
    }
    return out;
}

std::optional<std::string> decodeStream(std::string_view text)
{
    while (text.ends_with(Base64::Pad))
        text.remove_suffix(1);
    std::string out;
    out.reserve(text.size() / 4 * 3 + 3);
    unsigned group = 0;
    int bits = 0;
    for (char c : text) {
        const int value = valueOf(c);
        if (value < 0 || value == PadValue)
            return std::nullopt;
        group = (group << 6 | static_cast<unsigned>(value)) & 0xFFFFFFu;
        bits += 6;
        if (bits >= 8) {
            bits -= 8;
            out += static_cast<char>(group >> bits & 0xFF);
        }
    }
    return out;
}
} // namespace

namespace Base64 {

std::string encode(std::string_view bytes, Lines lines)
{
    const std::size_t groups = (bytes.size() + 2) / 3;
    const std::size_t pad = groups * 3 - bytes.size();
    const bool broken = lines == Lines::Mime;
    std::string out;
    out.reserve(groups * 4 + (broken ? (groups / GroupsPerLine + 1) * Wire::CrLf.size() : 0));
    std::size_t groupsOnLine = 0;
    for (std::size_t g = 0; g < groups; ++g) {
        if (broken && groupsOnLine == GroupsPerLine) {
            out += Wire::CrLf;
            groupsOnLine = 0;
        }
        const unsigned b0 = byteAt(bytes, g * 3);
        const unsigned b1 = byteAt(bytes, g * 3 + 1);
        const unsigned b2 = byteAt(bytes, g * 3 + 2);
        out += digit(b0 >> 2);
        out += digit((b0 & 3) << 4 | b1 >> 4);
        out += digit((b1 & 15) << 2 | b2 >> 6);
        out += digit(b2);
        ++groupsOnLine;
    }
    // The zero bytes that completed the last group become pads; they always sit in the last group.
    out.replace(out.size() - pad, pad, pad, Pad);
    if (broken)
        out += Wire::CrLf;
    return out;
}

std::optional<std::string> decode(std::string_view text, Reading reading)
{
    return reading == Reading::Groups ? decodeGroups(text) : decodeStream(text);
}

} // namespace Base64

std::string Base64Encode(std::string_view bytes)
{
    return Base64::encode(bytes, Base64::Lines::Mime);
}

std::string Base64EncodeText(std::string_view text)
{
    if (text.empty())
        return {};
    return Base64Encode(text);
}

std::string Base64Decode(std::string_view text)
{
    return Base64::decode(text, Base64::Reading::Groups).value_or(std::string());
}
