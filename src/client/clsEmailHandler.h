#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include <QObject>
#include <QPointer>

#include "MessageComposition.h"
#include "PendingErrors.h"

class SocketControl;

// An outgoing SMTP client bound to one socket control. Its settings are checked when they are
// assigned; a bad one never fails the assignment but leaves a pending error text, which the next
// transmission reports through SendFailed instead of sending.
class clsEmailHandler final : public QObject {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(clsEmailHandler)
public:
    // Binds the client to the socket whose events it receives for its whole life.
    explicit clsEmailHandler(SocketControl& socket, QObject* parent = nullptr);
    // Closes the bound socket when it is still open.
    ~clsEmailHandler() override;

    // Lists are read joined with the current Delimiter; assigned, they are split at it.
    std::string BccRecipient() const;
    void setBccRecipient(const std::string& NewValue);
    std::string CcDisplayName() const;
    void setCcDisplayName(const std::string& NewValue);
    std::string CcRecipient() const;
    void setCcRecipient(const std::string& NewValue);
    // Connection attempts, 1 to 20; other values are ignored.
    std::int32_t ConnectRetry() const { return m_connectRetry; }
    void setConnectRetry(std::int32_t NewValue);
    // Seconds per connection attempt, 1 to 120; other values are ignored.
    std::int32_t ConnectTimeout() const { return m_connectTimeout; }
    void setConnectTimeout(std::int32_t NewValue);
    // The list separator: the first character assigned, or none.
    const std::string& Delimiter() const { return m_delimiter; }
    void setDelimiter(const std::string& NewValue);
    // 1 checks addresses when they are assigned; any other value does not.
    std::int32_t EmailAddressValidation() const { return m_emailAddressValidation; }
    void setEmailAddressValidation(std::int32_t NewValue);
    // 0 sends the MIME header lines; any other value leaves them out.
    std::int32_t EncodeType() const { return m_encodeType; }
    void setEncodeType(std::int32_t NewValue);
    const std::string& From() const { return m_from; }
    void setFrom(const std::string& NewValue);
    const std::string& FromDisplayName() const { return m_fromDisplayName; }
    void setFromDisplayName(const std::string& NewValue);
    // Stored as a magnitude.
    std::int32_t MaxRecipients() const { return m_maxRecipients; }
    void setMaxRecipients(std::int32_t NewValue);
    // Read back as prepared for sending: dot-stuffed, long lines wrapped.
    const std::string& Message() const { return m_message; }
    void setMessage(const std::string& NewValue);
    // Seconds to wait for each reply; stored as a magnitude.
    std::int32_t MessageTimeout() const { return m_messageTimeout; }
    void setMessageTimeout(std::int32_t NewValue);
    const std::string& Password() const { return m_password; }
    void setPassword(std::string NewValue);
    // 1 high, 3 normal, 5 low; other numbers are kept but name no priority.
    std::int32_t Priority() const { return m_priority; }
    void setPriority(std::int32_t NewValue);
    // Asks for a read receipt.
    bool Receipt() const { return m_receipt; }
    void setReceipt(bool NewValue);
    std::string Recipient() const;
    void setRecipient(const std::string& NewValue);
    std::string RecipientDisplayName() const;
    void setRecipientDisplayName(const std::string& NewValue);
    const std::string& ReplyToAddress() const { return m_replyToAddress; }
    void setReplyToAddress(const std::string& NewValue);
    // Hosts are checked under SMTPHostValidation; a refused host leaves the previous one in place.
    const std::string& POP3Host() const { return m_pop3Host; }
    void setPOP3Host(std::string NewValue);
    const std::string& SMTPHost() const { return m_smtpHost; }
    void setSMTPHost(std::string NewValue);
    // 1 syntax, 2 ping, 3 name resolution, other values no check; a change re-checks the SMTP host.
    std::int32_t SMTPHostValidation() const { return m_smtpHostValidation; }
    void setSMTPHostValidation(std::int32_t NewValue);
    // 1 to 65535; other values leave an error and the previous port.
    std::int32_t SMTPPort() const { return m_smtpPort; }
    void setSMTPPort(std::int32_t NewValue);
    const std::string& Subject() const { return m_subject; }
    void setSubject(std::string NewValue);
    // SMTP AUTH LOGIN when the server offers it.
    bool UseAuthentication() const { return m_useAuthentication; }
    void setUseAuthentication(bool NewValue);
    // POP3 login before sending.
    bool UsePopAuthentication() const { return m_usePopAuthentication; }
    void setUsePopAuthentication(bool NewValue);
    const std::string& Username() const { return m_username; }
    void setUsername(std::string NewValue);

    // Dotted address of a host, empty when it does not resolve; leaves sHostName trimmed with a NUL appended.
    std::string GetIPAddress(std::string& sHostName);
    // The local host's name, empty when it cannot be read.
    std::string GetIPHost();
    // Exactly one "@" and a valid domain behind it.
    bool IsValidEmailAddress(std::string_view AddressString) const;
    // Kept for callers that end the client explicitly; there is nothing to release early.
    void Shutdown();

    // Opens the connection and keeps it open after each Send until Disconnect; true when ready.
    bool Connect();
    // Ends a connection that Connect kept open.
    void Disconnect();
    // Checks the settings and transmits the message; the outcome arrives only as events.
    void Send();

    // The POP3 server's port, 110 unless a test puts its own server there.
    void setPop3Port(int port) { m_pop3Port = port; }

    // Read-only views of internal state, for diagnostics and tests.
    const std::vector<std::string>& pendingErrorTexts() const { return m_pendingErrors.texts(); }
    const std::string& PriorityName() const { return m_priorityName; }
    bool EightBitText() const { return m_eightBitText; }
    const std::string& TimeZoneText() const { return m_timeZoneText; }

signals:
    // The server accepted the message.
    void SendSuccesful();
    // One per reported error text; Following is true while more texts of the same report follow.
    void SendFailed(const std::string& Explanation, bool Following);
    // A step of the transmission begins.
    void Status(const std::string& Status);
    // A protocol line was sent (">> ") or received ("<< ").
    void ExtendedStatus(const std::string& ExtendedStatus);
    // Share of the message sent, 0 to 100.
    void Progress(long PercentComplete);

private:
    std::vector<std::string> splitAndClean(std::string_view value) const;
    std::string joined(const std::vector<std::string>& entries) const;
    void ValidateAddressList(std::string_view value, std::string_view errorText);
    // True when the host passed and was stored.
    bool checkHost(std::string host, std::string_view errorText, int pingTimeoutMs, std::string& stored);
    bool pingAnswers(const std::string& host, int timeoutMs) const;
    void AddError(std::string_view text);
    void RemoveError(std::string_view text);

    // Connection driver (clsEmailHandlerConnection.cpp).
    void RaiseErrors();
    void ReportTimeout();
    bool WaitForReply(const bool& flag, std::int32_t seconds, bool report);
    bool waitUntil(const std::function<bool()>& done, std::int32_t seconds, bool report);
    bool OpenConnection();
    bool pop3Login();
    bool smtpConnect();
    bool introduce();
    bool logIn();
    void CloseConnection();
    void quietClose();
    void Socket_Connect();
    void Socket_Close();
    void Socket_Error(int number, const std::string& description, const std::string& source);
    void Socket_DataArrival(long bytesTotal);
    void Socket_SendProgress(long bytesSent, long bytesRemaining);
    void handleReply(const std::string& reply);
    void answerLoginPrompt(const std::string& reply);
    void takePop3Step();
    void connectSocketEvents();
    void connectSocket();
    void closeSocket();
    void writeLine(std::string_view line);
    bool socketIn(int state) const;

    // Transmission (clsEmailHandlerSend.cpp).
    void transmit();
    bool settingsComplete();
    std::int32_t estimatedSize() const;
    bool sendEnvelope();
    void writeMessageText();
    bool writeCommand(std::string_view command, bool& flag, bool shown = true);

    // Settings.
    std::vector<std::string> m_recipients;
    std::vector<std::string> m_recipientDisplayNames;
    std::vector<std::string> m_ccRecipients;
    std::vector<std::string> m_ccDisplayNames;
    std::vector<std::string> m_bccRecipients;
    std::string m_from;
    std::string m_fromDisplayName;
    std::string m_replyToAddress;
    std::string m_subject;
    std::string m_message;
    std::int32_t m_priority = 0;
    std::string m_delimiter;
    std::string m_smtpHost;
    std::int32_t m_smtpPort = 0;
    bool m_useAuthentication = false;
    std::int32_t m_connectTimeout = 0;
    std::int32_t m_connectRetry = 0;
    std::int32_t m_messageTimeout = 0;
    std::int32_t m_encodeType = 0;
    std::int32_t m_emailAddressValidation = 0;
    std::int32_t m_smtpHostValidation = 0;
    bool m_receipt = false;
    std::int32_t m_maxRecipients = 0;
    std::string m_timeZoneText;
    PendingErrors m_pendingErrors;
    bool m_eightBitText = false;

    // Connection state, driven by the bound socket's events.
    bool m_abortRequested = false;
    bool m_connected = false;
    bool m_keepConnection = false;
    bool m_replyReceived = false;
    bool m_dataAccepted = false;
    bool m_authLoginOffered = false;
    bool m_authEqualsLoginOffered = false;
    bool m_loginAccepted = false;
    std::int32_t m_bytesSent = 0;
    std::int32_t m_transmissionSize = 0;

    std::string m_username;
    std::string m_password;
    std::string m_priorityName;
    std::int32_t m_pop3Step = 0;
    bool m_pop3LoginDone = false;
    // The POP3 server has answered QUIT or closed the connection: nothing more will come.
    bool m_pop3Ended = false;
    bool m_usePopAuthentication = false;
    std::string m_pop3Host;
    MailNameTables m_nameTables;

    // The socket may go before the client does; the guarded pointer then reads null.
    QPointer<SocketControl> m_socket;
    std::int32_t m_lastPercent = 0;
    int m_pop3Port = 0;
    // The SMTP host as last assigned (NULs removed), refused or not: a new check mode applies to it.
    std::string m_smtpHostRequested;
    bool m_smtpHostRefused = false;
    // Received text not yet making up a whole reply.
    std::string m_arrived;
    // A POP3 login is under way: its replies are single lines.
    bool m_pop3Phase = false;
    // A Send is under way; a nested one is refused.
    bool m_sending = false;
};
