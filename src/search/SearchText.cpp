#include "SearchText.h"

#include <memory>

#include <glib.h>

namespace Search {
namespace {

bool separates(char c)
{
    switch (c) {
    case ' ': case '\t': case '\r': case '\n': case '\f': case '\v':
    case '<': case '>': case '"': case ',': case ';': case '(': case ')':
        return true;
    default:
        return false;
    }
}

// ASCII text, the common case, folds without GLib's allocations.
bool isAscii(std::string_view text)
{
    for (const char c : text)
        if (static_cast<unsigned char>(c) >= 0x80)
            return false;
    return true;
}

std::string folded(std::string_view text)
{
    if (isAscii(text)) {
        std::string out(text);
        for (char& c : out)
            if (c >= 'A' && c <= 'Z')
                c = static_cast<char>(c - 'A' + 'a');
        return out;
    }
    const std::unique_ptr<gchar, decltype(&g_free)> valid(
        g_utf8_make_valid(text.data(), static_cast<gssize>(text.size())), g_free);
    const std::unique_ptr<gchar, decltype(&g_free)> result(g_utf8_casefold(valid.get(), -1), g_free);
    return result.get();
}

} // namespace

std::string normalised(std::string_view text)
{
    const std::string fold = folded(text);
    std::string out;
    out.reserve(fold.size());
    bool blank = false;
    for (const char c : fold) {
        if (separates(c) || c == '\0') {
            blank = !out.empty();
            continue;
        }
        if (blank)
            out += ' ';
        blank = false;
        out += c;
    }
    return out;
}

} // namespace Search
