#include "JsonText.h"

#include <QByteArray>
#include <QString>

namespace JsonText {
namespace {

// The length of the well-formed UTF-8 sequence (RFC 3629) that starts a non-ASCII text, 0 for
// none: no overlong forms, no surrogates, nothing past U+10FFFF.
std::size_t sequenceLength(std::string_view text)
{
    const auto c = static_cast<unsigned char>(text[0]);
    const std::size_t length = c >= 0xC2 && c <= 0xDF ? 2 : c >= 0xE0 && c <= 0xEF ? 3 : c >= 0xF0 && c <= 0xF4 ? 4 : 0;
    if (length == 0 || text.size() < length)
        return 0;
    // The second byte's range closes overlong forms, surrogates and the code points past U+10FFFF.
    const auto second = static_cast<unsigned char>(text[1]);
    const unsigned char low = c == 0xE0 ? 0xA0 : c == 0xF0 ? 0x90 : 0x80;
    const unsigned char high = c == 0xED ? 0x9F : c == 0xF4 ? 0x8F : 0xBF;
    if (second < low || second > high)
        return 0;
    for (std::size_t k = 2; k < length; ++k)
        if ((static_cast<unsigned char>(text[k]) & 0xC0) != 0x80)
            return 0;
    return length;
}

// Bytes Qt reads as they are. A byte order mark is sent the slow way too: Qt drops one that
// starts the text.
bool isWellFormedUtf8(std::string_view bytes)
{
    constexpr std::string_view ByteOrderMark = "\xEF\xBB\xBF";
    for (std::size_t i = 0; i < bytes.size();) {
        if (static_cast<unsigned char>(bytes[i]) < 0x80) {
            ++i;
            continue;
        }
        const std::size_t length = sequenceLength(bytes.substr(i));
        if (length == 0 || bytes.substr(i, length) == ByteOrderMark)
            return false;
        i += length;
    }
    return true;
}

void appendEscaped(std::string& out, std::string_view text)
{
    static constexpr char Hex[] = "0123456789abcdef";
    std::size_t plain = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const auto c = static_cast<unsigned char>(text[i]);
        if (c >= 0x20 && c != '"' && c != '\\')
            continue;
        out.append(text.substr(plain, i - plain));
        plain = i + 1;
        out += '\\';
        switch (c) {
        case '"':
        case '\\':
            out += char(c);
            break;
        case '\b':
            out += 'b';
            break;
        case '\f':
            out += 'f';
            break;
        case '\n':
            out += 'n';
            break;
        case '\r':
            out += 'r';
            break;
        case '\t':
            out += 't';
            break;
        default:
            out += "u00";
            out += Hex[c >> 4];
            out += Hex[c & 0xF];
        }
    }
    out.append(text.substr(plain));
}

} // namespace

void appendString(std::string& out, std::string_view text)
{
    out += '"';
    if (isWellFormedUtf8(text)) {
        appendEscaped(out, text);
    } else {
        const QByteArray read = QString::fromUtf8(text.data(), qsizetype(text.size())).toUtf8();
        appendEscaped(out, std::string_view(read.constData(), std::size_t(read.size())));
    }
    out += '"';
}

void appendNumber(std::string& out, std::uint64_t value)
{
    out += std::to_string(value);
}

void appendKey(std::string& out, std::string_view key)
{
    appendString(out, key);
    out += ':';
}

} // namespace JsonText
