#include "SmtpDialogue.h"

#include "AppError.h"

std::string SmtpDialogue::script(const std::vector<std::string>& lines)
{
    const std::size_t before = replies.size();
    for (const std::string& line : lines)
        lastResult = mdlSMTP::SmtpHandleRequest(*this, line + "\r\n", state);
    std::string joined;
    for (std::size_t i = before; i < replies.size(); ++i)
        joined += replies[i];
    return joined;
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
    unsent += text.size();
}

bool SmtpDialogue::storeMessage(std::string&& sender, std::string&& recipients, std::string&& body,
                                const std::string& /*authUser*/)
{
    stored.push_back({std::move(sender), std::move(recipients), std::move(body)});
    if (onStore)
        onStore();
    return true;
}
