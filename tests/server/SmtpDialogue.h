#pragma once

#include <string>
#include <vector>

#include "mdlSMTP.h"

// One scripted connection: feed client lines, read the replies and the messages kept.
class SmtpDialogue : public SmtpConnection {
public:
    struct Message {
        std::string sender;
        std::string recipients;
        std::string body;
    };

    // Sends one client line (without CR LF) and returns the replies it produced.
    std::vector<std::string> client(const std::string& line);

    void SendData(std::string_view text) override;
    bool StoreMessage(const std::string& sender, const std::string& recipients, std::string&& body) override;

    SmtpServerState state;
    std::vector<std::string> replies;
    std::vector<Message> stored;
    bool storeRefuses = false;
    bool sendFails = false;
    bool lastResult = false;
};
