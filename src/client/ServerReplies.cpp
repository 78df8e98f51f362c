#include "ServerReplies.h"

#include <algorithm>

#include "Base64.h"
#include "Latin1Text.h"

namespace {

constexpr std::size_t CodeLength = 3;

bool isDigit(char c)
{
    return c >= '0' && c <= '9';
}

// "ddd-": more lines of the same reply follow (RFC 5321, 4.2.1).
bool isContinuationLine(std::string_view line)
{
    return line.size() > CodeLength && isDigit(line[0]) && isDigit(line[1]) && isDigit(line[2])
        && line[CodeLength] == '-';
}

std::string takeFront(std::string& buffer, std::size_t length)
{
    std::string reply = buffer.substr(0, length);
    buffer.erase(0, length);
    return reply;
}

bool namesBoth(std::string_view line, std::string_view first, std::string_view second)
{
    return findNoCase(line, first) != std::string_view::npos && findNoCase(line, second) != std::string_view::npos;
}

} // namespace

std::optional<std::string> takeSmtpReply(std::string& buffer)
{
    std::size_t lineStart = 0;
    for (;;) {
        const std::size_t lineEnd = buffer.find(Wire::CrLf, lineStart);
        if (lineEnd == std::string::npos)
            return std::nullopt;
        const std::size_t next = lineEnd + Wire::CrLf.size();
        if (!isContinuationLine(std::string_view(buffer).substr(lineStart, lineEnd - lineStart)))
            return takeFront(buffer, next);
        lineStart = next;
    }
}

std::optional<std::string> takePop3Reply(std::string& buffer)
{
    const std::size_t lineEnd = buffer.find(Wire::CrLf);
    if (lineEnd == std::string::npos)
        return std::nullopt;
    return takeFront(buffer, lineEnd + Wire::CrLf.size());
}

LoginOffers examineLoginOffers(std::string_view reply)
{
    LoginOffers offers;
    // The first line greets; the capabilities follow it.
    std::size_t lineStart = reply.find(Wire::CrLf);
    while (lineStart != std::string_view::npos) {
        lineStart += Wire::CrLf.size();
        const std::size_t lineEnd = reply.find(Wire::CrLf, lineStart);
        const std::string_view line
            = reply.substr(lineStart, lineEnd == std::string_view::npos ? lineEnd : lineEnd - lineStart);
        if (namesBoth(line, "AUTH ", "LOGIN"))
            offers.authLogin = true;
        if (namesBoth(line, "AUTH=", "LOGIN"))
            offers.authEqualsLogin = true;
        lineStart = lineEnd;
    }
    return offers;
}

LoginPrompt classifyLoginPrompt(std::string_view reply)
{
    std::string encoded(reply.substr(std::min(reply.size(), CodeLength)));
    for (std::size_t at = encoded.find(Wire::CrLf); at != std::string::npos; at = encoded.find(Wire::CrLf, at))
        encoded.erase(at, Wire::CrLf.size());
    std::string prompt = Base64Decode(trimBlanks(encoded));
    // Blanks do not count: some servers ask for the "User Name".
    std::erase(prompt, ' ');
    if (findNoCase(prompt, "username") != std::string::npos)
        return LoginPrompt::Username;
    if (findNoCase(prompt, "password") != std::string::npos)
        return LoginPrompt::Password;
    return LoginPrompt::Other;
}
