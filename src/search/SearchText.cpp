#include "SearchText.h"

#include <array>
#include <memory>

#include <glib.h>

namespace Search {
namespace {

// Each byte as normalised text sees it: ASCII capitals folded, separators as one mark (0).
constexpr std::array<unsigned char, 256> byteMap()
{
    std::array<unsigned char, 256> map{};
    for (unsigned i = 0; i < 256; ++i)
        map[i] = static_cast<unsigned char>(i >= 'A' && i <= 'Z' ? i - 'A' + 'a' : i);
    for (const char c : std::string_view(" \t\r\n\f\v<>\",;()\0", 14))
        map[static_cast<unsigned char>(c)] = 0;
    return map;
}
constexpr std::array<unsigned char, 256> ByteMap = byteMap();

// ASCII text, the common case, folds without GLib's allocations.
bool isAscii(std::string_view text)
{
    for (const char c : text)
        if (static_cast<unsigned char>(c) >= 0x80)
            return false;
    return true;
}

std::string unicodeFolded(std::string_view text)
{
    const std::unique_ptr<gchar, decltype(&g_free)> valid(
        g_utf8_make_valid(text.data(), static_cast<gssize>(text.size())), g_free);
    const std::unique_ptr<gchar, decltype(&g_free)> result(g_utf8_casefold(valid.get(), -1), g_free);
    return result.get();
}

} // namespace

std::string normalised(std::string_view text)
{
    std::string fold;
    if (!isAscii(text)) {
        fold = unicodeFolded(text);
        text = fold;
    }
    // One pass, writing in place: this runs over every message's whole text once.
    std::string out(text.size(), '\0');
    std::size_t length = 0;
    bool blank = false;
    for (const char c : text) {
        const unsigned char mapped = ByteMap[static_cast<unsigned char>(c)];
        if (mapped == 0) {
            blank = length > 0;
            continue;
        }
        if (blank)
            out[length++] = ' ';
        blank = false;
        out[length++] = static_cast<char>(mapped);
    }
    out.resize(length);
    return out;
}

} // namespace Search
