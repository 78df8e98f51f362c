#include "clsEmailHandler.h"

#include <chrono>
#include <cmath>
#include <functional>
#include <limits>

#include <QSignalBlocker>

#include "AppError.h"
#include "Base64.h"
#include "ClientErrorTexts.h"
#include "EventPump.h"
#include "Latin1Text.h"
#include "MessageHeader.h"
#include "ScopeExit.h"
#include "ServerReplies.h"
#include "SocketControl.h"

namespace {

constexpr std::string_view SmtpTimeoutText = "Timeout occurred: The SMTP host did not respond to the request";
constexpr std::string_view Pop3TimeoutText = "Timeout occurred: The POP3 host did not respond to the request";
constexpr std::string_view Pop3ClosedText = "The POP3 host closed the connection before the login was complete";

constexpr std::string_view ConnectingPop3Start = "Connecting to POP3 Server (";
constexpr std::string_view ConnectingSmtpStart = "Connecting to SMTP server (";
constexpr std::string_view ConnectingEnd = ")...";
constexpr std::string_view Pop3SuccessText = "POP3 authentication successful...";
constexpr std::string_view TryingStart = "Trying to connect (";
constexpr std::string_view TryingEnd = ")...";
constexpr std::string_view NoFurtherRetriesText = "No further connection retries.";
constexpr std::string_view InitializingText = "Initializing communications...";
constexpr std::string_view LoginNotSupportedText = "Login not supported by host, continuing...";
constexpr std::string_view SendingLoginText = "Sending login authentication...";
constexpr std::string_view LoginFailedText = "Host login failed!";
constexpr std::string_view LoginOkText = "Host login OK!";
constexpr std::string_view ClosingText = "Closing connection to server...";
constexpr std::string_view ConnectErrorStart = "Connect error: ";
constexpr std::string_view NoSocketText = "The client has no socket to connect through";

constexpr std::string_view Sent = ">> ";
constexpr std::string_view Received = "<< ";
constexpr std::string_view HiddenUsername = "{username...}";
constexpr std::string_view HiddenPassword = "{password...}";

constexpr std::string_view UserCommand = "USER ";
constexpr std::string_view PassCommand = "PASS ";
constexpr std::string_view QuitCommand = "QUIT";
constexpr std::string_view EhloCommand = "EHLO ";
constexpr std::string_view HeloCommand = "HELO ";
// Mechanism names are upper case (RFC 4422, 3.1); strict servers refuse any other spelling.
constexpr std::string_view AuthLoginCommand = "AUTH LOGIN";
// The answer that cancels a login whose prompt asks for something else (RFC 4954, 4).
constexpr std::string_view CancelLoginAnswer = "\r\n*\r\n";

constexpr std::int32_t LoginWaitSeconds = 5;
constexpr std::int32_t QuitWaitSeconds = 2;
constexpr std::chrono::milliseconds PollInterval{10};

// A host checked by name resolution carries a terminating NUL, which is not shown.
std::string_view shownHost(std::string_view host)
{
    if (host.ends_with('\0'))
        host.remove_suffix(1);
    return host;
}

} // namespace

bool clsEmailHandler::Connect()
{
    m_keepConnection = true;
    return OpenConnection();
}

void clsEmailHandler::Disconnect()
{
    m_keepConnection = false;
    CloseConnection();
}

void clsEmailHandler::RaiseErrors()
{
    // The set is emptied before anything is reported: each report may run events, and a failure
    // reported meanwhile is then reported once, by its own call, instead of being dropped.
    const std::vector<std::string> texts = m_pendingErrors.texts();
    m_pendingErrors.Clear();
    for (std::size_t i = 0; i < texts.size(); ++i)
        emit SendFailed(texts[i], i + 1 < texts.size());
    if (m_socket && m_socket->State() != SocketState::Closed)
        CloseConnection();
    m_abortRequested = true;
}

void clsEmailHandler::ReportTimeout()
{
    AddError(SmtpTimeoutText);
    RaiseErrors();
}

bool clsEmailHandler::WaitForReply(const bool& flag, std::int32_t seconds, bool report)
{
    return waitUntil([&flag] { return flag; }, seconds, report);
}

bool clsEmailHandler::waitUntil(const std::function<bool()>& done, std::int32_t seconds, bool report)
{
    if (seconds < 1)
        return false;
    // A monotonic clock: midnight and changes of the wall clock do not shorten or stretch a wait.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
    while (!done()) {
        if (std::chrono::steady_clock::now() >= deadline) {
            if (report)
                ReportTimeout();
            return false;
        }
        if (m_abortRequested)
            return false;
        letEventsRunFor(PollInterval);
    }
    return true;
}

bool clsEmailHandler::OpenConnection()
{
    try {
        if (!m_socket)
            throw AppError(ErrorNumber::Unexpected, std::string(NoSocketText));
        if (socketIn(SocketState::Connected))
            return true;
        if (!socketIn(SocketState::Closed)) {
            closeSocket();
            letPendingEventsRun();
        }
        if (m_usePopAuthentication && !pop3Login())
            return false;
        if (!smtpConnect() || !introduce())
            return false;
        return !m_useAuthentication || logIn();
    } catch (...) {
        emit Status(concat({ConnectErrorStart, AppError::fromCurrentException().description()}));
        return false;
    }
}

bool clsEmailHandler::pop3Login()
{
    emit Status(concat({ConnectingPop3Start, shownHost(m_pop3Host), ConnectingEnd}));
    m_abortRequested = false;
    m_connected = false;
    m_pop3LoginDone = false;
    m_pop3Ended = false;
    m_pop3Step = 0;
    if (m_pop3Host.empty()) {
        AddError(ClientErrorText::InvalidPOP3Host);
        RaiseErrors();
        return false;
    }
    m_pop3Phase = true;
    const ScopeExit pop3Done([this] { m_pop3Phase = false; });
    m_socket->SetRemoteHost(m_pop3Host);
    m_socket->SetRemotePort(m_pop3Port);
    // On loopback the whole dialogue, the server's close included, can pass between two polls:
    // a connection that has already ended counts as made.
    const auto contact = [this] { return m_connected || m_pop3Ended; };
    for (std::int32_t attempt = 1; attempt <= m_connectRetry; ++attempt) {
        if (socketIn(SocketState::Connected)) {
            m_connected = true;
            break;
        }
        if (socketIn(SocketState::Closed))
            connectSocket();
        if (waitUntil(contact, m_connectTimeout, false))
            break;
        if (m_abortRequested)
            return false;
        if (socketIn(SocketState::Error))
            closeSocket();
        letPendingEventsRun();
    }
    // The dialogue itself runs in the arrival handler. Once QUIT is out the login has succeeded;
    // the server may answer it, close without answering, or do neither, so its end is waited for
    // no longer than any other QUIT.
    const bool quitSent = waitUntil([this] { return m_pop3Step == 3 || m_pop3Ended; }, m_connectTimeout, false);
    if (quitSent && !m_pop3Ended)
        WaitForReply(m_pop3Ended, QuitWaitSeconds, false);
    if (m_pop3Step == 3)
        m_pop3LoginDone = true;
    closeSocket();
    letPendingEventsRun();
    letPendingEventsRun();
    if (m_abortRequested)
        return false;
    if (!m_pop3LoginDone) {
        // A login that never finished has not succeeded: the SMTP server is not tried.
        AddError(m_pop3Ended ? Pop3ClosedText : Pop3TimeoutText);
        RaiseErrors();
        return false;
    }
    emit Status(std::string(Pop3SuccessText));
    return true;
}

bool clsEmailHandler::smtpConnect()
{
    m_replyReceived = false;
    m_dataAccepted = false;
    m_authLoginOffered = false;
    m_authEqualsLoginOffered = false;
    m_loginAccepted = false;
    m_abortRequested = false;
    m_connected = false;
    if (!socketIn(SocketState::Closed)) {
        closeSocket();
        letPendingEventsRun();
    }
    m_socket->SetRemoteHost(m_smtpHost);
    m_socket->SetRemotePort(m_smtpPort);
    letPendingEventsRun();
    emit Status(concat({ConnectingSmtpStart, shownHost(m_smtpHost), ConnectingEnd}));
    for (std::int32_t attempt = 1; attempt <= m_connectRetry; ++attempt) {
        emit ExtendedStatus(
            concat({TryingStart, std::to_string(attempt), "/", std::to_string(m_connectRetry), TryingEnd}));
        if (socketIn(SocketState::Connected)) {
            emit ExtendedStatus(std::string(NoFurtherRetriesText));
            m_connected = true;
            break;
        }
        m_connected = false;
        if (socketIn(SocketState::Closed))
            connectSocket();
        if (WaitForReply(m_connected, m_connectTimeout, false)) {
            emit ExtendedStatus(std::string(NoFurtherRetriesText));
            break;
        }
        if (m_abortRequested) {
            emit ExtendedStatus(std::string(NoFurtherRetriesText));
            return false;
        }
        if (socketIn(SocketState::Error))
            closeSocket();
        letPendingEventsRun();
        letPendingEventsRun();
    }
    letPendingEventsRun();
    const bool greeted = WaitForReply(m_replyReceived, m_connectTimeout, false);
    if (!socketIn(SocketState::Connected) || m_abortRequested || !m_connected || !greeted) {
        ReportTimeout();
        return false;
    }
    return true;
}

bool clsEmailHandler::introduce()
{
    emit Status(std::string(InitializingText));
    m_replyReceived = false;
    const std::string command = concat({m_useAuthentication ? EhloCommand : HeloCommand, senderDomain(m_from)});
    writeLine(command);
    emit ExtendedStatus(concat({Sent, command}));
    // A refusal closes the connection with QUIT, whose answer sets the flag waited for.
    return WaitForReply(m_replyReceived, m_connectTimeout, true) && !m_abortRequested;
}

bool clsEmailHandler::logIn()
{
    if (!WaitForReply(m_authLoginOffered, LoginWaitSeconds, false)) {
        // A wait cut short by a reported failure says nothing about the server's offer.
        if (m_abortRequested)
            return false;
        emit Status(std::string(LoginNotSupportedText));
        return true;
    }
    emit Status(std::string(SendingLoginText));
    writeLine(AuthLoginCommand);
    emit ExtendedStatus(concat({Sent, AuthLoginCommand}));
    // The prompts are answered by the arrival handler meanwhile.
    if (!WaitForReply(m_loginAccepted, LoginWaitSeconds, false)) {
        emit Status(std::string(LoginFailedText));
        // A refusal has been reported and has ended the connection; silence has not. Left open,
        // the connection would take the next Send's mail without the login.
        if (!m_abortRequested)
            ReportTimeout();
        m_abortRequested = true;
        return false;
    }
    emit Status(std::string(LoginOkText));
    return !m_abortRequested;
}

void clsEmailHandler::CloseConnection()
{
    if (!m_socket)
        return;
    // Each step runs whatever became of the one before: the socket must end up closed.
    try {
        if (!socketIn(SocketState::Closed))
            emit Status(std::string(ClosingText));
    } catch (...) {
    }
    try {
        if (socketIn(SocketState::Connected)) {
            m_replyReceived = false;
            writeLine(QuitCommand);
            emit ExtendedStatus(concat({Sent, QuitCommand}));
            WaitForReply(m_replyReceived, QuitWaitSeconds, false);
        }
    } catch (...) {
    }
    try {
        closeSocket();
        letPendingEventsRun();
    } catch (...) {
    }
}

void clsEmailHandler::quietClose()
{
    const QSignalBlocker quiet(this);
    try {
        if (socketIn(SocketState::Connected))
            writeLine(QuitCommand);
    } catch (...) {
    }
    closeSocket();
}

void clsEmailHandler::Socket_Connect()
{
    m_connected = true;
}

void clsEmailHandler::Socket_Close()
{
    // Servers close the POP3 connection themselves after QUIT, at times without answering it.
    if (m_pop3Phase)
        m_pop3Ended = true;
    closeSocket();
    letPendingEventsRun();
    m_connected = false;
}

void clsEmailHandler::Socket_Error(int, const std::string& description, const std::string&)
{
    AddError(description);
    RaiseErrors();
}

void clsEmailHandler::Socket_SendProgress(long bytesSent, long)
{
    const std::int64_t total = std::int64_t(m_bytesSent) + bytesSent;
    m_bytesSent = std::int32_t(std::min<std::int64_t>(total, std::numeric_limits<std::int32_t>::max()));
    if (m_transmissionSize <= 0)
        return;
    // Single precision and rounding half to even, as the percentage has always been reckoned.
    const float share = float(m_bytesSent) / float(m_transmissionSize);
    const std::int32_t percent = std::min<std::int32_t>(std::int32_t(std::nearbyint(share * 100.0f)), 100);
    if (percent == m_lastPercent)
        return;
    m_lastPercent = percent;
    if (socketIn(SocketState::Connected))
        emit Progress(percent);
}

void clsEmailHandler::Socket_DataArrival(long)
{
    if (!socketIn(SocketState::Connected))
        return;
    try {
        m_arrived += m_socket->GetData();
        // TCP may cut a reply anywhere and join several: only whole replies are acted on, each
        // once. Acting may run events that take further replies off the buffer meanwhile.
        while (socketIn(SocketState::Connected)) {
            const std::optional<std::string> reply = m_pop3Phase ? takePop3Reply(m_arrived) : takeSmtpReply(m_arrived);
            if (!reply)
                break;
            emit ExtendedStatus(concat({Received, *reply}));
            handleReply(*reply);
        }
    } catch (...) {
        // A failure here concerns one arrival; the waiting code goes on by its flags.
    }
}

void clsEmailHandler::handleReply(const std::string& reply)
{
    const std::string code = upperCase(std::string_view(reply).substr(0, 3));
    if (code == "220" || code == "221" || code == "251") {
        m_replyReceived = true;
    } else if (code == "250") {
        m_replyReceived = true;
        const LoginOffers offers = examineLoginOffers(reply);
        if (offers.authLogin)
            m_authLoginOffered = true;
        if (offers.authEqualsLogin)
            m_authEqualsLoginOffered = true;
    } else if (code == "235") {
        m_loginAccepted = true;
    } else if (code == "334") {
        answerLoginPrompt(reply);
    } else if (code == "354") {
        m_dataAccepted = true;
    } else if (code == "211" || code == "214") {
        // Help texts ask nothing of the client.
    } else if (code == "+OK" && m_pop3Phase) {
        // Outside the POP3 login a "+OK" is no SMTP reply: taking a POP3 step then would send the
        // user name and password in clear to whatever answered.
        takePop3Step();
    } else if (code == "-ER") {
        m_pop3LoginDone = false;
        m_pop3Step = 0;
        m_abortRequested = true;
        AddError(reply);
        RaiseErrors();
    } else {
        AddError(reply);
        RaiseErrors();
    }
}

void clsEmailHandler::answerLoginPrompt(const std::string& reply)
{
    switch (classifyLoginPrompt(reply)) {
    case LoginPrompt::Username:
        // The encoding ends in CR LF itself; an empty name is answered with nothing at all.
        m_socket->SendData(Base64EncodeText(m_username));
        emit ExtendedStatus(concat({Sent, HiddenUsername}));
        break;
    case LoginPrompt::Password:
        m_socket->SendData(Base64EncodeText(m_password));
        emit ExtendedStatus(concat({Sent, HiddenPassword}));
        break;
    case LoginPrompt::Other:
        m_socket->SendData(CancelLoginAnswer);
        emit ExtendedStatus(concat({Sent, Wire::CrLf, "*"}));
        break;
    }
}

void clsEmailHandler::takePop3Step()
{
    switch (m_pop3Step) {
    case 0: // the greeting
        m_pop3Step = 1;
        writeLine(concat({UserCommand, m_username}));
        emit ExtendedStatus(concat({Sent, UserCommand, HiddenUsername}));
        break;
    case 1:
        m_pop3Step = 2;
        writeLine(concat({PassCommand, m_password}));
        emit ExtendedStatus(concat({Sent, PassCommand, HiddenPassword}));
        break;
    case 2:
        m_pop3Step = 3;
        writeLine(QuitCommand);
        emit ExtendedStatus(concat({Sent, QuitCommand}));
        break;
    case 3: // the answer to QUIT
        m_pop3Step = 0;
        m_pop3LoginDone = true;
        m_pop3Ended = true;
        break;
    default:
        break;
    }
}

void clsEmailHandler::connectSocketEvents()
{
    SocketControl* socket = m_socket;
    connect(socket, &SocketControl::ConnectEvent, this, &clsEmailHandler::Socket_Connect);
    connect(socket, &SocketControl::CloseEvent, this, &clsEmailHandler::Socket_Close);
    connect(socket, &SocketControl::ErrorEvent, this, &clsEmailHandler::Socket_Error);
    connect(socket, &SocketControl::DataArrival, this, &clsEmailHandler::Socket_DataArrival);
    connect(socket, &SocketControl::SendProgress, this, &clsEmailHandler::Socket_SendProgress);
}

void clsEmailHandler::connectSocket()
{
    m_arrived.clear();
    m_socket->Connect();
}

void clsEmailHandler::closeSocket()
{
    // What a closed connection left unfinished never belongs to the next one.
    m_arrived.clear();
    if (m_socket)
        m_socket->Close();
}

void clsEmailHandler::writeLine(std::string_view line)
{
    m_socket->SendData(concat({line, Wire::CrLf}));
}

bool clsEmailHandler::socketIn(int state) const
{
    return m_socket && m_socket->State() == state;
}
