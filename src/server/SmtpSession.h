#pragma once

#include <cstddef>
#include <functional>
#include <string>
#include <string_view>

#include "mdlSMTP.h"

// One client connection's side of the dialogue: gathers the blocks TCP delivers into lines, holds
// the line still waiting for its CR LF and the limits on it, and feeds complete lines to the engine.
class SmtpSession {
public:
    using UnknownLineHandler = std::function<void(std::string_view line)>;

    // Data of messages in progress is taken from budget, when one is given.
    SmtpSession(SmtpConnection& connection, UnknownLineHandler onUnknownLine, ByteBudget* budget = nullptr);

    // Handles one block of arrived text. A block that arrives while another is being handled (a
    // box lets events run) waits its turn, so lines stay in order.
    void receive(std::string block);

    // Handling stopped after a command because the connection's output is backlogged; the rest
    // of the text waits, and so should the connection's input, until Resume.
    bool held() const { return m_held; }
    // The output has drained: handles what waited, up to the next backlog.
    void resume();

    // The connection ended: a block being handled stops after its current line.
    void drop() { m_dropped = true; }
    bool dropped() const { return m_dropped; }

    // The client is offered the service extensions; encrypted when it came in over TLS.
    void useExtensions(bool encrypted)
    {
        m_dialogue.extensions = true;
        m_dialogue.tls = encrypted;
    }

    // Failure replies on demand, as these triggers say (the listener's, shared by every client).
    void useChaos(ChaosTriggers* chaos) { m_dialogue.chaos = chaos; }

    const SmtpServerState& dialogue() const { return m_dialogue; }
    // What the session holds in memory for this client: the unfinished line, the envelope and
    // message being collected, and text waiting its turn.
    std::size_t bufferedBytes() const;

private:
    void run(std::string waiting, std::size_t scanFrom);
    void handleLines(std::size_t scanFrom);
    std::size_t takeDataRun(std::size_t start, std::size_t scanFrom);
    std::size_t dataRunEnd(std::size_t start, std::size_t scanFrom) const;
    void limitPartialLine();
    void dropPartialLine();
    void lineTooLong();

    SmtpConnection& m_connection;
    UnknownLineHandler m_onUnknownLine;
    SmtpServerState m_dialogue;
    std::string m_received;         // text after the last complete line
    std::string m_arrivedWhileBusy; // blocks that arrived while a block was being handled
    bool m_skippingLine = false;    // the rest of an over-long line is dropped up to its CR LF
    bool m_busy = false;
    bool m_held = false;
    bool m_dropped = false;
};
