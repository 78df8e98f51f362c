#include "Latin1Text.h"

#include <algorithm>
#include <functional>

namespace {
constexpr std::string_view HexDigits = "0123456789ABCDEF";
constexpr std::string_view CutMark = "... (";
constexpr std::string_view CutMarkEnd = " bytes)";

bool isControl(unsigned char c)
{
    return c < 0x20 || (c >= 0x7F && c < 0xA0);
}
} // namespace

char UpperLatin1(char c)
{
    auto u = static_cast<unsigned char>(c);
    if (u >= 'a' && u <= 'z')
        return static_cast<char>(u - 0x20);
    // à..þ map to À..Þ, except the division sign; ß and ÿ have no capital in Latin-1.
    if (u >= 0xE0 && u <= 0xFE && u != 0xF7)
        return static_cast<char>(u - 0x20);
    return c;
}

std::string UpperCase(std::string_view text)
{
    std::string upper(text);
    for (char& c : upper)
        c = UpperLatin1(c);
    return upper;
}

namespace {
struct NoCaseHash {
    std::size_t operator()(char c) const { return static_cast<unsigned char>(UpperLatin1(c)); }
};
struct NoCaseEqual {
    bool operator()(char a, char b) const { return UpperLatin1(a) == UpperLatin1(b); }
};
} // namespace

std::size_t FindNoCase(std::string_view haystack, std::string_view needle, std::size_t from)
{
    if (from > haystack.size())
        return std::string_view::npos;
    if (needle.empty())
        return from;
    // Bodies reach many megabytes: a skipping search keeps that fast without an upper-cased copy.
    std::boyer_moore_horspool_searcher searcher(needle.begin(), needle.end(), NoCaseHash(), NoCaseEqual());
    auto hit = std::search(haystack.begin() + static_cast<std::ptrdiff_t>(from), haystack.end(), searcher);
    return hit == haystack.end() ? std::string_view::npos : static_cast<std::size_t>(hit - haystack.begin());
}

bool EqualNoCase(std::string_view a, std::string_view b)
{
    return std::equal(a.begin(), a.end(), b.begin(), b.end(), NoCaseEqual());
}

std::string_view TrimBlanks(std::string_view text)
{
    const auto first = text.find_first_not_of(' ');
    if (first == std::string_view::npos)
        return {};
    const auto last = text.find_last_not_of(' ');
    return text.substr(first, last - first + 1);
}

std::string Concat(std::initializer_list<std::string_view> parts)
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

std::string EscapeControls(std::string_view text, std::size_t maxBytes)
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
        escaped += Concat({CutMark, std::to_string(text.size()), CutMarkEnd});
    return escaped;
}
