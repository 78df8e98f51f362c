#include "MimeCharset.h"

#include <cerrno>
#include <iconv.h>

#include <gmime/gmime.h>

#include "GMimeParse.h"

namespace Mime {
namespace {

constexpr std::string_view ReplacementCharacter = "\xEF\xBF\xBD";

// NUL bytes count as valid: they are text a sender put there, not the end of it.
bool isValidUtf8(std::string_view bytes)
{
    const gchar* end = nullptr;
    while (!g_utf8_validate(bytes.data(), static_cast<gssize>(bytes.size()), &end)) {
        const auto at = static_cast<std::size_t>(end - bytes.data());
        if (at >= bytes.size() || bytes[at] != '\0')
            return false;
        bytes.remove_prefix(at + 1);
    }
    return true;
}

// Undecodable bytes become U+FFFD; the rest is kept.
std::string convert(iconv_t converter, std::string_view bytes)
{
    std::string out;
    out.reserve(bytes.size() + bytes.size() / 2);
    char* in = const_cast<char*>(bytes.data());
    std::size_t inLeft = bytes.size();
    char buffer[16384];
    while (inLeft > 0) {
        char* outPointer = buffer;
        std::size_t outLeft = sizeof buffer;
        const std::size_t result = iconv(converter, &in, &inLeft, &outPointer, &outLeft);
        out.append(buffer, static_cast<std::size_t>(outPointer - buffer));
        if (result == static_cast<std::size_t>(-1) && errno != E2BIG) {
            // An invalid or truncated sequence: skip one byte and go on.
            out += ReplacementCharacter;
            ++in;
            --inLeft;
        }
    }
    char* outPointer = buffer;
    std::size_t outLeft = sizeof buffer;
    iconv(converter, nullptr, nullptr, &outPointer, &outLeft);
    out.append(buffer, static_cast<std::size_t>(outPointer - buffer));
    return out;
}

// iconv_open's failure value is (iconv_t)-1: the cast is the interface's, not an address.
const iconv_t NoConverter = reinterpret_cast<iconv_t>(-1); // NOLINT(performance-no-int-to-ptr)
} // namespace

std::string guessToUtf8(std::string_view bytes)
{
    if (isValidUtf8(bytes))
        return std::string(bytes);
    Detail::initialiseOnce();
    iconv_t converter = g_mime_iconv_open("UTF-8", "WINDOWS-1252");
    if (converter == NoConverter)
        converter = g_mime_iconv_open("UTF-8", "ISO-8859-1");
    std::string out = convert(converter, bytes);
    g_mime_iconv_close(converter);
    return out;
}

std::string toUtf8(std::string_view bytes, std::string_view charset)
{
    const std::string name = Detail::lowerCase(Detail::trimmed(charset));
    // "x-unknown" and "unknown-8bit" say the sender did not know; iconv takes the first for a
    // charset of its own that turns every 8-bit byte into U+FFFD.
    if (name.empty() || name == "us-ascii" || name == "utf-8" || name == "utf8" || name == "x-unknown"
        || name.starts_with("unknown"))
        return guessToUtf8(bytes);
    Detail::initialiseOnce();
    iconv_t converter = g_mime_iconv_open("UTF-8", g_mime_charset_iconv_name(name.c_str()));
    if (converter == NoConverter)
        return guessToUtf8(bytes); // a charset nobody knows: show the text as best we can
    std::string out = convert(converter, bytes);
    g_mime_iconv_close(converter);
    // iconv reads some malformed names as charsets that let bad bytes through.
    return isValidUtf8(out) ? out : guessToUtf8(bytes);
}

} // namespace Mime
