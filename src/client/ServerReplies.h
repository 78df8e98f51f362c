#pragma once

#include <optional>
#include <string>
#include <string_view>

// How the client tells where a server's reply ends and what a reply asks of it.

// Takes the first complete SMTP reply off the front of buffer: lines up to the first one that is
// not a continuation line ("250-..."), CR LF included. Nothing while the reply is still arriving.
std::optional<std::string> takeSmtpReply(std::string& buffer);

// Takes the first complete POP3 reply (one line, CR LF included) off the front of buffer.
std::optional<std::string> takePop3Reply(std::string& buffer);

// What an EHLO reply's capability lines (every line after the first) offer for logging in.
struct LoginOffers {
    bool authLogin = false;       // a line naming "AUTH " and "LOGIN"
    bool authEqualsLogin = false; // a line naming "AUTH=" and "LOGIN"
};
LoginOffers examineLoginOffers(std::string_view reply);

// What a "334" prompt of AUTH LOGIN asks for, from its Base64 text.
enum class LoginPrompt { Username, Password, Other };
LoginPrompt classifyLoginPrompt(std::string_view reply);
