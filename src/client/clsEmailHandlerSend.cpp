#include "clsEmailHandler.h"

#include <limits>

#include "AppError.h"
#include "ClientErrorTexts.h"
#include "MessageHeader.h"
#include "ScopeExit.h"
#include "SocketControl.h"

namespace {

constexpr std::string_view NoRecipientText = "No Recipient E-mail address specified";
constexpr std::string_view TooManyRecipientsText = "Too many recipients";

constexpr std::string_view SendingSenderText = "Sending sender information to server...";
constexpr std::string_view SendingRecipientsText = "Sending recipient information to server...";
constexpr std::string_view SendingMessageText = "Sending message to server...";
constexpr std::string_view CompleteText = "Transmission Complete...";

constexpr std::string_view Sent = ">> ";
constexpr std::string_view DataCommand = "DATA";
constexpr std::string_view EndOfData = ".";
constexpr std::string_view HiddenMessage = "{message text...}";

constexpr std::int32_t CompletePercent = 100;

// Recipient lists are walked with 16-bit positions.
void checkListLength(const std::vector<std::string>& list)
{
    if (list.size() > std::size_t(std::numeric_limits<std::int16_t>::max()))
        throw overflowError();
}

} // namespace

void clsEmailHandler::Send()
{
    // Events run while Send waits; a Send started from one of them would interleave a second
    // transaction with this one on the same connection.
    if (m_sending)
        return;
    m_sending = true;
    const ScopeExit sent([this] {
        m_transmissionSize = 0;
        m_sending = false;
    });
    try {
        transmit();
    } catch (...) {
        AddError(AppError::fromCurrentException().description());
        RaiseErrors();
    }
}

void clsEmailHandler::transmit()
{
    if (!settingsComplete())
        return;
    const std::int32_t transmissionSize = estimatedSize();
    m_abortRequested = false;
    if (!socketIn(SocketState::Connected) && !OpenConnection())
        return;

    // Progress counts the bytes of the mail transaction alone: not the introduction and login
    // before it, nor the QUIT after it, which would move the bar after it has shown 100.
    m_bytesSent = 0;
    m_transmissionSize = transmissionSize;
    if (!sendEnvelope())
        return;
    emit Status(std::string(SendingMessageText));
    if (!writeCommand(DataCommand, m_dataAccepted))
        return;
    m_replyReceived = false;
    writeMessageText();
    if (!writeCommand(EndOfData, m_replyReceived, false))
        return;

    m_transmissionSize = 0;
    emit Progress(CompletePercent);
    emit Status(std::string(CompleteText));
    if (!m_keepConnection)
        CloseConnection();
    emit SendSuccesful();
}

bool clsEmailHandler::settingsComplete()
{
    if (m_from.empty())
        AddError(ClientErrorText::InvalidSender);
    const std::size_t recipientCount = m_recipients.size() + m_ccRecipients.size() + m_bccRecipients.size();
    if (recipientCount == 0)
        AddError(NoRecipientText);
    else if (recipientCount > std::size_t(m_maxRecipients))
        AddError(TooManyRecipientsText);
    fitDisplayNames(m_recipientDisplayNames, m_recipients.size());
    fitDisplayNames(m_ccDisplayNames, m_ccRecipients.size());
    if (m_pendingErrors.empty())
        return true;
    RaiseErrors();
    return false;
}

std::int32_t clsEmailHandler::estimatedSize() const
{
    return EstimateTransmissionSize({
        .From = m_from,
        .UseAuthentication = m_useAuthentication,
        .Username = m_username,
        .Password = m_password,
        .recipients = m_recipients,
        .recipientDisplayNames = m_recipientDisplayNames,
        .ccRecipients = m_ccRecipients,
        .ccDisplayNames = m_ccDisplayNames,
        .bccRecipients = m_bccRecipients,
        .FromDisplayName = m_fromDisplayName,
        .ReplyToAddress = m_replyToAddress,
        .Subject = m_subject,
        .Message = m_message,
        .EncodeType = m_encodeType,
        .Receipt = m_receipt,
    });
}

bool clsEmailHandler::sendEnvelope()
{
    emit Status(std::string(SendingSenderText));
    if (!writeCommand(mailFromCommand(m_from, m_authEqualsLoginOffered), m_replyReceived))
        return false;
    emit Status(std::string(SendingRecipientsText));
    for (const std::vector<std::string>* list : {&m_recipients, &m_ccRecipients, &m_bccRecipients}) {
        checkListLength(*list);
        for (const std::string& address : *list) {
            if (!writeCommand(rcptToCommand(address), m_replyReceived))
                return false;
        }
    }
    return true;
}

// The header block, the blank line and the prepared text; the final "." is the caller's.
void clsEmailHandler::writeMessageText()
{
    const std::string fromHeader = fromHeaderValue(m_from, m_fromDisplayName);
    const std::string toList = addressListValue(m_recipients, m_recipientDisplayNames);
    const std::string ccList = addressListValue(m_ccRecipients, m_ccDisplayNames);
    const std::string messageId = CreateMessageId(m_socket->RemoteHost());
    const std::string date = FormatMailDate(currentLocalTime(), m_timeZoneText, m_nameTables);
    const std::vector<HeaderLine> header = composeHeaderLines({
        .messageId = messageId,
        .FromHeader = fromHeader,
        .ToList = toList,
        .CcList = ccList,
        .Subject = m_subject,
        .ReplyToAddress = m_replyToAddress,
        .date = date,
        .EncodeType = m_encodeType,
        .Priority = m_priority,
        .PriorityName = m_priorityName,
        .Receipt = m_receipt,
        .EightBitText = m_eightBitText,
    });
    for (const HeaderLine& line : header) {
        writeLine(line.text);
        if (line.shown)
            emit ExtendedStatus(std::string(Sent) + line.text);
    }
    writeLine({});
    writeLine(m_message);
    emit ExtendedStatus(std::string(Sent) + std::string(HiddenMessage));
}

// Writes one command and waits for the reply that sets flag; false when the transmission must end.
bool clsEmailHandler::writeCommand(std::string_view command, bool& flag, bool shown)
{
    flag = false;
    writeLine(command);
    if (shown)
        emit ExtendedStatus(std::string(Sent) + std::string(command));
    return WaitForReply(flag, m_messageTimeout, true) && !m_abortRequested;
}
