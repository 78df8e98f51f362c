#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "ByteBudget.h"
#include "ChaosTriggers.h"
#include "MessageDataBuffer.h"
#include "SmtpExtensions.h"

// All the command engine knows of a connection.
class SmtpConnection {
public:
    virtual ~SmtpConnection() = default;
    // Queues a text for the client; throws AppError when it cannot be sent.
    virtual void SendData(std::string_view text) = 0;
    // Keeps a completed message with the name the client logged in with (empty without a login);
    // false when it could not be kept.
    virtual bool storeMessage(std::string&& sender, std::string&& recipients, std::string&& body,
                              const std::string& authUser)
        = 0;
    // Whether so much output waits to be sent that no further command should be handled yet.
    virtual bool outputBacklogged() const { return false; }
    // The client said QUIT in the modern dialogue: the connection closes once the reply is sent.
    virtual void endSession() { }
    // Whether StartTls can be asked for.
    virtual bool tlsAvailable() const { return false; }
    // Starts the TLS handshake on this connection behind the reply already sent; false when the
    // connection cannot encrypt.
    virtual bool startTls() { return false; }
    // The client logged in with this name and mechanism.
    virtual void loggedIn(const std::string& /*user*/, std::string_view /*mechanism*/) { }
    // A step was refused with this failure reply on demand (without its CR LF).
    virtual void chaosReplied(std::string_view /*reply*/) { }
};

// The dialogue state of one connection.
struct SmtpServerState {
    std::string pendingSender;
    // The recipients' paths joined by ", " as they arrive: the stored text, never built twice.
    std::string pendingRecipients;
    std::size_t recipientCount = 0;
    ByteCharge envelopeCharge; // what the sender and recipients take of the byte budget
    MessageDataBuffer dataBuffer;
    ByteCharge dataCharge; // what the data collected so far takes of the byte budget
    bool inDataPhase = false;
    bool oversized = false; // the data phase went past the message size limit or the byte budget

    // The modern dialogue's service extensions; off, the dialogue is the plain one.
    bool extensions = false;
    bool tls = false;            // encrypted, or its handshake under way
    bool discardInput = false;   // the text behind the current line must not be read
    std::string authUser;        // who the client logged in as
    std::string authPendingUser; // the name of an AUTH LOGIN waiting for its password
    SmtpExtensions::AuthStep authStep = SmtpExtensions::AuthStep::None;

    // Failure replies on demand; null, or switched off, the dialogue is as without them.
    ChaosTriggers* chaos = nullptr;
    // This transaction's sender or a recipient was refused on demand: its DATA is refused unless
    // something was accepted, so that a client that goes on regardless stores nothing.
    bool chaosRefusedSender = false;
    bool chaosRefusedRecipient = false;
};

namespace mdlSMTP {

// Handles one line from the client: replies, updates the state. False for an unknown command.
bool SmtpHandleRequest(SmtpConnection& connection, std::string_view line, SmtpServerState& state);

// Builds one reply line from the code and the text and sends it in one send operation.
void SmtpReply(SmtpConnection& connection, long code, std::string_view text);

// The reverse-path of a MAIL line, angle brackets included, or empty text.
std::string SmtpExtractFrom(std::string_view line);

// The forward-path of a RCPT line, angle brackets included, or empty text.
std::string SmtpExtractTo(std::string_view line);

// Appends complete data lines, each with its CR LF and none beginning with a dot, in one step:
// one size and budget check for the run, as many as for each line alone.
void appendDataRun(SmtpServerState& state, std::string_view lines);

// Drops the data collected so far: the message has outgrown the size limit or the byte budget.
void discardOversizedData(SmtpServerState& state);

// The reply to a command line that went past the line length limit; the line is skipped.
void replyLineTooLong(SmtpConnection& connection);

// Whether the step is refused on demand now; if so, its reply is sent and logged.
bool chaosRefuses(SmtpConnection& connection, SmtpServerState& state, ChaosStep step);

// Forgets the transaction's sender and recipients and gives their bytes back to the budget.
void clearEnvelope(SmtpServerState& state);

} // namespace mdlSMTP
