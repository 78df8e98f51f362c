#include "SmtpDialogue.h"

#include "AppError.h"

std::vector<std::string> SmtpDialogue::client(const std::string& line)
{
    const std::size_t before = replies.size();
    lastResult = mdlSMTP::SmtpHandleRequest(*this, line + "\r\n", state);
    return {replies.begin() + static_cast<std::ptrdiff_t>(before), replies.end()};
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
    return true;
}
