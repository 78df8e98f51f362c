#include "Base64.h"

#include <array>
#include <cstddef>

#include "Latin1Text.h"

namespace {
constexpr int GroupsPerLine = 19;
constexpr std::size_t GroupsPerLineSize = GroupsPerLine;

// For each byte: its position in the alphabet (the pad is 64), or -1 when it is not in it.
constexpr std::array<int, 256> DigitValues = [] {
    std::array<int, 256> values{};
    values.fill(-1);
    for (std::size_t i = 0; i < Base64Alphabet.size(); ++i)
        values[static_cast<unsigned char>(Base64Alphabet[i])] = static_cast<int>(i);
    return values;
}();
constexpr int PadValue = 64;

char digit(unsigned value)
{
    return Base64Alphabet[value & 63];
}

unsigned byteAt(std::string_view bytes, std::size_t i)
{
    return i < bytes.size() ? static_cast<unsigned char>(bytes[i]) : 0u;
}
} // namespace

std::string Base64Encode(std::string_view bytes)
{
    const std::size_t groups = (bytes.size() + 2) / 3;
    const std::size_t pad = groups * 3 - bytes.size();
    std::string out;
    out.reserve(groups * 4 + (groups / GroupsPerLineSize + 1) * Wire::CrLf.size());
    int groupsOnLine = 0;
    for (std::size_t g = 0; g < groups; ++g) {
        if (groupsOnLine == GroupsPerLine) {
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
    out.replace(out.size() - pad, pad, pad, Base64Pad);
    out += Wire::CrLf;
    return out;
}

std::string Base64EncodeText(std::string_view text)
{
    if (text.empty())
        return {};
    return Base64Encode(text);
}

std::string Base64Decode(std::string_view text)
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
            const int value = DigitValues[static_cast<unsigned char>(text[at])];
            // A stray character is refused even behind a pad, so that no such text decodes.
            if (value < 0)
                return {};
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
