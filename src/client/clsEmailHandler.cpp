#include "clsEmailHandler.h"

#include <algorithm>
#include <limits>
#include <utility>

#include "AddressValidation.h"
#include "ClientErrorTexts.h"
#include "HostLookup.h"
#include "Latin1Text.h"
#include "SocketControl.h"
#include "mdlPing.h"

namespace {

constexpr std::string_view InvalidRecipientText = "Missing or invalid recipient Email address";
constexpr std::string_view InvalidCcText = "Invalid Cc: recipient Email address";
constexpr std::string_view InvalidBccText = "Invalid Bcc: recipient Email address";
constexpr std::string_view InvalidSMTPHostText = "Invalid or missing SMTP host name";
constexpr std::string_view InvalidPortText = "Invalid remote port";

constexpr std::string_view HighPriorityName = "High";
constexpr std::string_view NormalPriorityName = "Normal";
constexpr std::string_view LowPriorityName = "Low";
constexpr std::int32_t HighPriority = 1;
constexpr std::int32_t NormalPriority = 3;
constexpr std::int32_t LowPriority = 5;

constexpr std::int32_t DefaultSMTPPort = 25;
constexpr std::int32_t DefaultConnectTimeout = 40;
constexpr std::int32_t DefaultMessageTimeout = 60;
constexpr std::int32_t DefaultConnectRetry = 4;
constexpr std::int32_t DefaultMaxRecipients = 100;
constexpr int DefaultPOP3Port = 110;
constexpr std::string_view DefaultDelimiter = ";";

constexpr std::int32_t MinPort = 1;
constexpr std::int32_t MaxPort = 65535;
constexpr std::int32_t MinConnectRetry = 1;
constexpr std::int32_t MaxConnectRetry = 20;
constexpr std::int32_t MinConnectTimeout = 1;
constexpr std::int32_t MaxConnectTimeout = 120;

constexpr std::int32_t AddressValidationOn = 1;

namespace HostValidation {
constexpr std::int32_t Syntax = 1;
constexpr std::int32_t Ping = 2;
constexpr std::int32_t Resolution = 3;
} // namespace HostValidation

constexpr const char* PingPayload = "Ping!";
constexpr int SMTPHostPingTimeoutMs = 2000;
constexpr int POP3HostPingTimeoutMs = 1000;

std::string withoutNuls(std::string text)
{
    std::erase(text, '\0');
    return text;
}

// The magnitude, or nothing for the one negative number that has no positive counterpart.
bool magnitude(std::int32_t value, std::int32_t& result)
{
    if (value == std::numeric_limits<std::int32_t>::min())
        return false;
    result = value < 0 ? -value : value;
    return true;
}

} // namespace

clsEmailHandler::clsEmailHandler(SocketControl& socket, QObject* parent) : QObject(parent), m_socket(&socket)
{
    m_smtpPort = DefaultSMTPPort;
    m_smtpHostValidation = HostValidation::Resolution;
    m_emailAddressValidation = AddressValidationOn;
    m_connectTimeout = DefaultConnectTimeout;
    m_messageTimeout = DefaultMessageTimeout;
    m_connectRetry = DefaultConnectRetry;
    m_encodeType = 0;
    m_maxRecipients = DefaultMaxRecipients;
    // Taken once: a client lives for one session, and the Date header needs no more.
    m_timeZoneText = ::TimeZoneText(localTimeZoneOffsetMinutes());
    m_delimiter = DefaultDelimiter;
    m_priority = NormalPriority;
    m_nameTables = buildMailNameTables();
    m_pop3Port = DefaultPOP3Port;
    connectSocketEvents();
}

clsEmailHandler::~clsEmailHandler()
{
    if (m_socket && m_socket->State() != SocketState::Closed)
        quietClose();
}

std::string clsEmailHandler::BccRecipient() const
{
    return joined(m_bccRecipients);
}

void clsEmailHandler::setBccRecipient(const std::string& NewValue)
{
    m_bccRecipients = splitAndClean(NewValue);
    ValidateAddressList(NewValue, InvalidBccText);
}

std::string clsEmailHandler::CcDisplayName() const
{
    return joined(m_ccDisplayNames);
}

void clsEmailHandler::setCcDisplayName(const std::string& NewValue)
{
    m_ccDisplayNames = splitAndClean(NewValue);
}

std::string clsEmailHandler::CcRecipient() const
{
    return joined(m_ccRecipients);
}

void clsEmailHandler::setCcRecipient(const std::string& NewValue)
{
    m_ccRecipients = splitAndClean(NewValue);
    ValidateAddressList(NewValue, InvalidCcText);
}

void clsEmailHandler::setConnectRetry(std::int32_t NewValue)
{
    if (NewValue >= MinConnectRetry && NewValue <= MaxConnectRetry)
        m_connectRetry = NewValue;
}

void clsEmailHandler::setConnectTimeout(std::int32_t NewValue)
{
    if (NewValue >= MinConnectTimeout && NewValue <= MaxConnectTimeout)
        m_connectTimeout = NewValue;
}

void clsEmailHandler::setDelimiter(const std::string& NewValue)
{
    m_delimiter = NewValue.substr(0, 1);
}

void clsEmailHandler::setEmailAddressValidation(std::int32_t NewValue)
{
    m_emailAddressValidation = NewValue;
}

void clsEmailHandler::setEncodeType(std::int32_t NewValue)
{
    m_encodeType = NewValue;
}

void clsEmailHandler::setFrom(const std::string& NewValue)
{
    m_from = trimBlanks(NewValue);
    ValidateAddressList(NewValue, ClientErrorText::InvalidSender);
}

void clsEmailHandler::setFromDisplayName(const std::string& NewValue)
{
    m_fromDisplayName = trimBlanks(NewValue);
}

void clsEmailHandler::setMaxRecipients(std::int32_t NewValue)
{
    magnitude(NewValue, m_maxRecipients);
}

void clsEmailHandler::setMessage(const std::string& NewValue)
{
    m_message = PrepareMessageText(NewValue);
    m_eightBitText = hasEightBitText(m_message);
}

void clsEmailHandler::setMessageTimeout(std::int32_t NewValue)
{
    magnitude(NewValue, m_messageTimeout);
}

void clsEmailHandler::setPassword(std::string NewValue)
{
    m_password = std::move(NewValue);
}

void clsEmailHandler::setPriority(std::int32_t NewValue)
{
    m_priority = NewValue;
    if (NewValue == HighPriority)
        m_priorityName = HighPriorityName;
    else if (NewValue == NormalPriority)
        m_priorityName = NormalPriorityName;
    else if (NewValue == LowPriority)
        m_priorityName = LowPriorityName;
}

void clsEmailHandler::setReceipt(bool NewValue)
{
    m_receipt = NewValue;
}

std::string clsEmailHandler::Recipient() const
{
    return joined(m_recipients);
}

void clsEmailHandler::setRecipient(const std::string& NewValue)
{
    m_recipients = splitAndClean(NewValue);
    ValidateAddressList(NewValue, InvalidRecipientText);
}

std::string clsEmailHandler::RecipientDisplayName() const
{
    return joined(m_recipientDisplayNames);
}

void clsEmailHandler::setRecipientDisplayName(const std::string& NewValue)
{
    m_recipientDisplayNames = splitAndClean(NewValue);
}

void clsEmailHandler::setReplyToAddress(const std::string& NewValue)
{
    m_replyToAddress = trimBlanks(NewValue);
}

void clsEmailHandler::setPOP3Host(std::string NewValue)
{
    checkHost(withoutNuls(std::move(NewValue)), ClientErrorText::InvalidPOP3Host, POP3HostPingTimeoutMs, m_pop3Host);
}

void clsEmailHandler::setSMTPHost(std::string NewValue)
{
    m_smtpHostRequested = withoutNuls(std::move(NewValue));
    m_smtpHostRefused = !checkHost(m_smtpHostRequested, InvalidSMTPHostText, SMTPHostPingTimeoutMs, m_smtpHost);
}

void clsEmailHandler::setSMTPHostValidation(std::int32_t NewValue)
{
    m_smtpHostValidation = NewValue;
    // The host in use is checked again under the new mode, as if assigned anew. After a refusal it
    // is the refused host instead: checking the older one kept meanwhile would clear the refusal's
    // error while the host asked for was never taken.
    const std::string host = m_smtpHostRefused ? m_smtpHostRequested : m_smtpHost;
    if (!host.empty())
        setSMTPHost(host);
}

void clsEmailHandler::setSMTPPort(std::int32_t NewValue)
{
    if (NewValue >= MinPort && NewValue <= MaxPort) {
        m_smtpPort = NewValue;
        RemoveError(InvalidPortText);
    } else {
        AddError(InvalidPortText);
    }
}

void clsEmailHandler::setSubject(std::string NewValue)
{
    m_subject = std::move(NewValue);
}

void clsEmailHandler::setUseAuthentication(bool NewValue)
{
    m_useAuthentication = NewValue;
}

void clsEmailHandler::setUsePopAuthentication(bool NewValue)
{
    m_usePopAuthentication = NewValue;
}

void clsEmailHandler::setUsername(std::string NewValue)
{
    m_username = std::move(NewValue);
}

std::string clsEmailHandler::GetIPAddress(std::string& sHostName)
{
    return ::GetIPAddress(sHostName);
}

std::string clsEmailHandler::GetIPHost()
{
    return ::GetIPHost();
}

bool clsEmailHandler::IsValidEmailAddress(std::string_view AddressString) const
{
    return ::IsValidEmailAddress(AddressString);
}

void clsEmailHandler::Shutdown()
{
}

std::vector<std::string> clsEmailHandler::splitAndClean(std::string_view value) const
{
    std::vector<std::string> entries = splitList(value, m_delimiter);
    TrimListEntries(entries);
    return entries;
}

std::string clsEmailHandler::joined(const std::vector<std::string>& entries) const
{
    return joinList(entries, m_delimiter);
}

void clsEmailHandler::ValidateAddressList(std::string_view value, std::string_view errorText)
{
    RemoveError(errorText);
    if (m_emailAddressValidation != AddressValidationOn)
        return;
    // The entries as assigned, uncleaned: an empty one, as a trailing separator leaves, fails.
    for (const std::string& entry : splitList(value, m_delimiter)) {
        if (!::IsValidEmailAddress(entry)) {
            AddError(errorText);
            return;
        }
    }
}

bool clsEmailHandler::checkHost(std::string host, std::string_view errorText, int pingTimeoutMs, std::string& stored)
{
    bool passes = true;
    if (!host.empty()) {
        switch (m_smtpHostValidation) {
        case HostValidation::Syntax:
            passes = IsValidDomain(host);
            break;
        case HostValidation::Ping:
            passes = pingAnswers(host, pingTimeoutMs);
            break;
        case HostValidation::Resolution:
            // Resolution leaves the name trimmed and NUL-terminated; that form is the one kept.
            passes = !::GetIPAddress(host).empty();
            break;
        default:
            break;
        }
    }
    if (passes) {
        RemoveError(errorText);
        stored = std::move(host);
    } else {
        AddError(errorText);
    }
    return passes;
}

bool clsEmailHandler::pingAnswers(const std::string& host, int timeoutMs) const
{
    if (!mdlPing::SocketsInitialize())
        return false;
    mdlPing::EchoReply reply;
    const std::int32_t status = mdlPing::Ping(host, PingPayload, reply, timeoutMs);
    mdlPing::SocketsCleanup();
    return status == mdlPing::StatusSuccess;
}

void clsEmailHandler::AddError(std::string_view text)
{
    m_pendingErrors.add(text);
}

void clsEmailHandler::RemoveError(std::string_view text)
{
    m_pendingErrors.remove(text);
}
