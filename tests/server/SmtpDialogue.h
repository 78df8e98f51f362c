#pragma once

#include <array>
#include <functional>
#include <string>
#include <vector>

#include "mdlSMTP.h"

// One scripted connection: feed client lines, read the replies and the messages kept.
class SmtpDialogue : public SmtpConnection {
public:
    using Message = std::array<std::string, 3>; // sender, recipients, body

    // Sends the lines (without CR LF) one by one to the engine and returns their replies, joined.
    std::string script(const std::vector<std::string>& lines);
    std::string client(const std::string& line) { return script({line}); }
    std::vector<std::string> bodies() const; // in the order kept

    void SendData(std::string_view text) override;
    bool storeMessage(std::string&& sender, std::string&& recipients, std::string&& body,
                      const std::string& authUser) override;
    bool outputBacklogged() const override { return unsent > backlog; }
    void endSession() override { ended = true; }

    SmtpServerState state;
    std::vector<std::string> replies;
    std::vector<Message> stored;
    std::function<void()> onStore; // runs after a message was kept
    bool sendFails = false;
    bool lastResult = false;
    bool ended = false;
    // Bytes of replies the client has not read, and how many make the output backlogged.
    std::size_t unsent = 0;
    std::size_t backlog = std::size_t(-1);
};
