#include "Latin1Text.h"

#include <algorithm>

namespace {
constexpr std::string_view HexDigits = "0123456789ABCDEF";
constexpr std::string_view CutMark = "... (";
constexpr std::string_view CutMarkEnd = " bytes)";

bool isControl(unsigned char c)
{
    return c < 0x20 || (c >= 0x7F && c < 0xA0);
}
} // namespace

char upperLatin1(char c)
{
    auto u = static_cast<unsigned char>(c);
    if (u >= 'a' && u <= 'z')
        return static_cast<char>(u - 0x20);
    // à..þ map to À..Þ, except the division sign; ß and ÿ have no capital in Latin-1.
    if (u >= 0xE0 && u <= 0xFE && u != 0xF7)
        return static_cast<char>(u - 0x20);
    return c;
}

std::string upperCase(std::string_view text)
{
    std::string upper(text);
    for (char& c : upper)
        c = upperLatin1(c);
    return upper;
}

namespace {
template <class Fold> CaseFold tableOf(Fold fold)
{
    CaseFold table{};
    for (std::size_t c = 0; c < table.size(); ++c)
        table[c] = static_cast<unsigned char>(fold(static_cast<char>(c)));
    return table;
}
} // namespace

const CaseFold& latin1CaseFold()
{
    static const CaseFold table = tableOf(upperLatin1);
    return table;
}

std::size_t findFolded(std::string_view haystack, std::string_view needle, const CaseFold& fold, std::size_t from)
{
    if (from > haystack.size())
        return std::string_view::npos;
    const std::size_t length = needle.size();
    if (length == 0)
        return from;
    // Bodies reach many megabytes: Horspool's skipping search, with a table per byte (the
    // standard searcher hashes into a map when it is given a fold) and no folded copy.
    const auto folded = [&fold](char c) { return fold[static_cast<unsigned char>(c)]; };
    std::array<std::size_t, 256> skip;
    skip.fill(length);
    for (std::size_t i = 0; i + 1 < length; ++i)
        skip[folded(needle[i])] = length - 1 - i;
    for (std::size_t at = from; at + length <= haystack.size();) {
        std::size_t i = length;
        while (i > 0 && folded(haystack[at + i - 1]) == folded(needle[i - 1]))
            --i;
        if (i == 0)
            return at;
        at += skip[folded(haystack[at + length - 1])];
    }
    return std::string_view::npos;
}

std::size_t findNoCase(std::string_view haystack, std::string_view needle, std::size_t from)
{
    return findFolded(haystack, needle, latin1CaseFold(), from);
}

bool equalNoCase(std::string_view a, std::string_view b)
{
    return std::equal(a.begin(), a.end(), b.begin(), b.end(),
                      [](char x, char y) { return upperLatin1(x) == upperLatin1(y); });
}

std::string_view trimBlanks(std::string_view text)
{
    const auto first = text.find_first_not_of(' ');
    if (first == std::string_view::npos)
        return {};
    const auto last = text.find_last_not_of(' ');
    return text.substr(first, last - first + 1);
}

std::string concat(std::initializer_list<std::string_view> parts)
{
    std::size_t size = 0;
    for (std::string_view part : parts)
        size += part.size();
    std::string text;
    text.reserve(size);
    for (std::string_view part : parts)
        text += part;
    return text;
}

std::string escapeControls(std::string_view text, std::size_t maxBytes)
{
    const std::string_view taken = text.substr(0, maxBytes);
    std::string escaped;
    escaped.reserve(taken.size());
    for (char c : taken) {
        const auto u = static_cast<unsigned char>(c);
        if (!isControl(u)) {
            escaped += c;
            continue;
        }
        escaped += "\\x";
        escaped += HexDigits[u >> 4];
        escaped += HexDigits[u & 15];
    }
    if (taken.size() < text.size())
        escaped += concat({CutMark, std::to_string(text.size()), CutMarkEnd});
    return escaped;
}
