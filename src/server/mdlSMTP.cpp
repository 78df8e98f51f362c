#include "mdlSMTP.h"

#include <array>
#include <cstdint>
#include <limits>
#include <utility>

#include "AppError.h"
#include "CaptureLimits.h"
#include "ErrorReport.h"
#include "Latin1Text.h"
#include "ProductInfo.h"
#include "clsEmailStorage.h"

namespace mdlSMTP {

namespace {

constexpr const char* HeloText = "127.0.0.1 SMTP mode ready";
constexpr const char* DataText = "send the mail data, end with .";
// The replies of every message, sent as they stand rather than built each time.
constexpr std::string_view OkReply = "250 OK\r\n";
constexpr std::string_view GoAheadReply = "354 send the mail data, end with .\r\n";
constexpr const char* QuitText = "127.0.0.1 Service closing transmission channel";
constexpr const char* StoreFullText = "Requested action not taken: insufficient system storage";
constexpr const char* TooLargeText = "Requested mail action aborted: exceeded storage allocation";
constexpr const char* LineTooLongText = "Line too long";
constexpr const char* TooManyRecipientsText = "4.5.3 Too many recipients";
// RFC 5321 3.3: DATA without an accepted sender or recipient is refused.
constexpr std::string_view NoSenderReply = "503 5.5.1 Error: the sender was refused\r\n";
constexpr std::string_view NoRecipientReply = "554 5.5.1 Error: no valid recipients\r\n";
// Mailpit's wording, so that tests written against it read the same replies.
constexpr int ServiceClosingCode = 421;
constexpr std::string_view ChaosReplyFormat[] = {" Chaos ", " error"};
constexpr std::string_view RecipientSeparator = clsEmailStorage::RecipientSeparator;
// A stored text keeps at most this much unused room; more is handed back with one copy.
constexpr std::size_t SpareRoomKept = 32;

enum class Command {
    Helo,
    Ehlo,
    Auth,
    Mail,
    Rcpt,
    Data,
    EndOfData,
    Rset,
    Send,
    Soml,
    Saml,
    Vrfy,
    Expn,
    Help,
    Noop,
    Quit,
    Turn,
    Unknown
};

struct CommandWord {
    std::string_view word;
    Command command;
};

// Compared in this order; the first equal word decides.
constexpr std::array<CommandWord, 17> CommandTable{{
    {"HELO", Command::Helo},
    {"EHLO", Command::Ehlo},
    {"AUTH", Command::Auth},
    {"MAIL", Command::Mail},
    {"RCPT", Command::Rcpt},
    {"DATA", Command::Data},
    {".", Command::EndOfData},
    {"RSET", Command::Rset},
    {"SEND", Command::Send},
    {"SOML", Command::Soml},
    {"SAML", Command::Saml},
    {"VRFY", Command::Vrfy},
    {"EXPN", Command::Expn},
    {"HELP", Command::Help},
    {"NOOP", Command::Noop},
    {"QUIT", Command::Quit},
    {"TURN", Command::Turn},
}};

// Command words are ASCII: only a to z fold, and nothing else can equal an upper-case letter.
bool equalsAsciiNoCase(std::string_view text, std::string_view upper)
{
    if (text.size() != upper.size())
        return false;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i] >= 'a' && text[i] <= 'z' ? char(text[i] - 'a' + 'A') : text[i];
        if (c != upper[i])
            return false;
    }
    return true;
}

Command commandOf(std::string_view line)
{
    const std::string_view word = line.substr(0, 4);
    for (const CommandWord& entry : CommandTable)
        if (equalsAsciiNoCase(word, entry.word))
            return entry.command;
    return Command::Unknown;
}

// Positions in a line are 16-bit; one beyond that range cannot be represented.
std::size_t checkedPosition(std::size_t zeroBased)
{
    if (zeroBased != std::string_view::npos && zeroBased + 1 > std::size_t(std::numeric_limits<std::int16_t>::max()))
        throw overflowError();
    return zeroBased;
}

// The path after the keyword: keyword at position 6, "<" at minLess or later, then the first ">"
// after it. The keyword matches in any letter case, and "<>" and short paths are taken as written:
// mail systems send bounces with the null path and in lower case.
// The command word before it holds no part of the keyword, so "first found at 5" is "at 5". The
// path is a view into the line: the caller copies it where it is kept.
std::string_view extractPath(std::string_view line, std::string_view keyword, std::size_t minLess)
{
    constexpr std::size_t KeywordAt = 5;
    const bool keywordThere
        = line.size() >= KeywordAt + keyword.size() && findNoCase(line.substr(KeywordAt, keyword.size()), keyword) == 0;
    const std::size_t lessAt = checkedPosition(line.find('<'));
    if (!keywordThere || lessAt == std::string_view::npos || lessAt + 1 < minLess)
        return {};
    const std::size_t greaterAt = checkedPosition(line.find('>', lessAt));
    if (greaterAt == std::string_view::npos)
        return {};
    return line.substr(lessAt, greaterAt - lessAt + 1);
}

std::string_view extractFrom(std::string_view line)
{
    return extractPath(line, "FROM", 11);
}

std::string_view extractTo(std::string_view line)
{
    return extractPath(line, "TO", 9);
}

void endDataPhase(SmtpConnection& connection, SmtpServerState& state)
{
    state.inDataPhase = false;
    std::string body = state.dataBuffer.take();
    // The store takes the message's bytes from the budget itself, the sender and recipients too.
    state.dataCharge.reset();
    std::string sender = std::exchange(state.pendingSender, {});
    std::string recipients = std::exchange(state.pendingRecipients, {});
    clearEnvelope(state);
    if (state.oversized) {
        state.oversized = false;
        SmtpReply(connection, 552, TooLargeText);
        return;
    }
    if (chaosRefuses(connection, state, ChaosStep::Data))
        return;
    // The store keeps the text for good, and with it the room its growth left.
    if (recipients.capacity() - recipients.size() > SpareRoomKept)
        recipients.shrink_to_fit();
    // Every data phase yields exactly one message, and "250 OK" only once it is kept.
    if (connection.storeMessage(std::move(sender), std::move(recipients), std::move(body), state.authUser))
        SmtpReply(connection, 250, "");
    else
        SmtpReply(connection, 452, StoreFullText);
}

void appendDataLine(SmtpServerState& state, std::string_view line)
{
    // Transparency: the client doubled every leading dot, so one is removed.
    if (!line.empty() && line.front() == '.')
        line.remove_prefix(1);
    if (state.oversized)
        return;
    const std::size_t size = state.dataBuffer.size() + line.size() + Wire::CrLf.size();
    if (size > CaptureLimits::MaxMessageBytes || !state.dataCharge.cover(size)) {
        discardOversizedData(state);
        return;
    }
    state.dataBuffer.append(line);
    state.dataBuffer.append(Wire::CrLf);
}

// The envelope is held for the client until its message is stored, so it is charged to the budget
// as it grows; past the budget or the recipient limit a path is refused and the rest kept.
void startTransaction(SmtpConnection& connection, std::string_view line, SmtpServerState& state)
{
    clearEnvelope(state);
    if (chaosRefuses(connection, state, ChaosStep::Sender)) {
        state.chaosRefusedSender = true;
        return;
    }
    std::string_view sender;
    trapped("SmtpExtractFrom", [&] { sender = extractFrom(line); });
    if (!state.envelopeCharge.cover(sender.size())) {
        SmtpReply(connection, 452, StoreFullText);
        return;
    }
    state.pendingSender.assign(sender);
    SmtpReply(connection, 250, "");
}

void addRecipient(SmtpConnection& connection, std::string_view line, SmtpServerState& state)
{
    std::string_view path;
    trapped("SmtpExtractTo", [&] { path = extractTo(line); });
    if (path.empty()) {
        SmtpReply(connection, 250, "");
        return;
    }
    if (chaosRefuses(connection, state, ChaosStep::Recipient)) {
        state.chaosRefusedRecipient = true;
        return;
    }
    if (state.recipientCount >= CaptureLimits::MaxRecipients) {
        SmtpReply(connection, 452, TooManyRecipientsText);
        return;
    }
    const std::string_view separator = state.pendingRecipients.empty() ? "" : RecipientSeparator;
    const std::size_t envelope
        = state.pendingSender.size() + state.pendingRecipients.size() + separator.size() + path.size();
    if (!state.envelopeCharge.cover(envelope)) {
        SmtpReply(connection, 452, StoreFullText);
        return;
    }
    state.pendingRecipients.append(separator);
    state.pendingRecipients.append(path);
    ++state.recipientCount;
    SmtpReply(connection, 250, "");
}

// Only after a refusal on demand: a client that goes on as if it had been accepted.
bool refusedTransaction(SmtpConnection& connection, const SmtpServerState& state)
{
    const bool noSender = state.chaosRefusedSender;
    const bool noRecipient = state.chaosRefusedRecipient && state.recipientCount == 0;
    if (noSender || noRecipient)
        trapped("SmtpReply", [&] { connection.SendData(noSender ? NoSenderReply : NoRecipientReply); });
    return noSender || noRecipient;
}

void perform(SmtpConnection& connection, Command command, std::string_view line, SmtpServerState& state)
{
    switch (command) {
    case Command::Helo:
        SmtpReply(connection, 250, HeloText);
        SmtpReply(connection, 250, "");
        break;
    case Command::Ehlo:
    case Command::Auth:
    case Command::Unknown:
        SmtpReply(connection, 500, "");
        break;
    case Command::Mail:
        startTransaction(connection, line, state);
        break;
    case Command::Rcpt:
        addRecipient(connection, line, state);
        break;
    case Command::Data:
        if (refusedTransaction(connection, state))
            break;
        state.dataBuffer.clear();
        state.dataCharge.reset();
        state.oversized = false;
        state.inDataPhase = true;
        SmtpReply(connection, 354, DataText);
        break;
    case Command::EndOfData:
        // Outside a data phase there is nothing to store.
        SmtpReply(connection, 250, "");
        break;
    case Command::Rset:
        clearEnvelope(state);
        state.dataBuffer.clear();
        state.dataCharge.reset();
        SmtpReply(connection, 250, "");
        break;
    case Command::Help:
        SmtpReply(connection, 211, "");
        break;
    case Command::Quit:
        SmtpReply(connection, 221, QuitText);
        // RFC 5321: the server closes after QUIT. The plain dialogue leaves that to the client.
        if (state.extensions)
            connection.endSession();
        break;
    case Command::Send:
    case Command::Soml:
    case Command::Saml:
    case Command::Vrfy:
    case Command::Expn:
    case Command::Noop:
    case Command::Turn:
        SmtpReply(connection, 250, "");
        break;
    }
}

std::string replyPrefix(long code, bool textEmpty)
{
    switch (code) {
    case 211:
    case 214:
    case 221:
    case 251:
    case 354:
    case 421:
    case 450:
    case 451:
    case 452:
    case 500:
    case 501:
    case 502:
    case 503:
    case 504:
    case 550:
    case 551:
    case 552:
    case 553:
    case 554:
        return std::to_string(code) + ' ';
    case 220:
        return std::string("220 ") + ProductInfo::ProductName;
    case 250:
        return textEmpty ? "250 OK" : "250-";
    default:
        return "500 ";
    }
}

} // namespace

bool SmtpHandleRequest(SmtpConnection& connection, std::string_view line, SmtpServerState& state)
{
    bool known = false;
    trapped("SmtpHandleRequest", [&] {
        if (line.ends_with(Wire::CrLf))
            line.remove_suffix(Wire::CrLf.size());
        if (state.inDataPhase && line != ".") {
            appendDataLine(state, line);
            known = true;
            return;
        }
        if (state.extensions && SmtpExtensions::handle(connection, line, state)) {
            known = true;
            return;
        }
        const Command command = commandOf(line);
        if (command == Command::EndOfData && state.inDataPhase)
            endDataPhase(connection, state);
        else
            perform(connection, command, line, state);
        known = command != Command::Unknown;
    });
    return known;
}

void SmtpReply(SmtpConnection& connection, long code, std::string_view text)
{
    trapped("SmtpReply", [&] {
        if (code == 250 && text.empty()) {
            connection.SendData(OkReply);
            return;
        }
        if (code == 354 && text == DataText) {
            connection.SendData(GoAheadReply);
            return;
        }
        std::string reply = replyPrefix(code, text.empty());
        if (!(code == 250 && text.empty()))
            reply.append(text);
        reply.append(Wire::CrLf);
        connection.SendData(reply);
    });
}

std::string SmtpExtractFrom(std::string_view line)
{
    std::string path;
    trapped("SmtpExtractFrom", [&] { path = extractFrom(line); });
    return path;
}

std::string SmtpExtractTo(std::string_view line)
{
    std::string path;
    trapped("SmtpExtractTo", [&] { path = extractTo(line); });
    return path;
}

void appendDataRun(SmtpServerState& state, std::string_view lines)
{
    trapped("SmtpHandleRequest", [&] {
        if (state.oversized || lines.empty())
            return;
        const std::size_t size = state.dataBuffer.size() + lines.size();
        if (size > CaptureLimits::MaxMessageBytes || !state.dataCharge.cover(size)) {
            discardOversizedData(state);
            return;
        }
        state.dataBuffer.append(lines);
    });
}

void discardOversizedData(SmtpServerState& state)
{
    state.oversized = true;
    state.dataBuffer.clear(); // hand the memory back now, not at the end of the message
    state.dataCharge.reset();
}

void replyLineTooLong(SmtpConnection& connection)
{
    SmtpReply(connection, 500, LineTooLongText);
}

bool chaosRefuses(SmtpConnection& connection, SmtpServerState& state, ChaosStep step)
{
    const int code = state.chaos ? state.chaos->fire(step) : 0;
    if (code == 0)
        return false;
    const std::string reply
        = concat({std::to_string(code), ChaosReplyFormat[0], ChaosTriggers::stepWord(step), ChaosReplyFormat[1]});
    trapped("SmtpReply", [&] { connection.SendData(concat({reply, Wire::CrLf})); });
    connection.chaosReplied(reply);
    // RFC 5321 4.2.2: 421 closes the transmission channel, and a client must meet that too.
    if (code == ServiceClosingCode)
        connection.endSession();
    return true;
}

void clearEnvelope(SmtpServerState& state)
{
    state.chaosRefusedSender = false;
    state.chaosRefusedRecipient = false;
    state.pendingSender.clear();
    state.pendingRecipients.clear();
    state.recipientCount = 0;
    state.envelopeCharge.reset();
}

} // namespace mdlSMTP
