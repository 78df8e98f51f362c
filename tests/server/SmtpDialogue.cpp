#include "SmtpDialogue.h"

#include "AppError.h"

std::vector<std::string> SmtpDialogue::client(const std::string& line)
{
    return script({line});
}

std::vector<std::string> SmtpDialogue::script(const std::vector<std::string>& lines)
{
    const std::size_t before = replies.size();
    for (const std::string& line : lines)
        lastResult = mdlSMTP::SmtpHandleRequest(*this, line + "\r\n", state);
    return {replies.begin() + static_cast<std::ptrdiff_t>(before), replies.end()};
}

std::vector<std::string> SmtpDialogue::bodies() const
{
    std::vector<std::string> all;
    for (const Message& message : stored)
        all.push_back(message[2]);
    return all;
}

void SmtpDialogue::SendData(std::string_view text)
{
    if (sendFails)
        throw AppError(ErrorNumber::SocketWrongState, "Wrong protocol or connection state");
    replies.emplace_back(text);
}

bool SmtpDialogue::StoreMessage(const std::string& sender, const std::string& recipients, std::string&& body)
{
    if (storeRefuses)
        return false;
    stored.push_back({sender, recipients, std::move(body)});
    if (onStore)
        onStore();
    return true;
}
