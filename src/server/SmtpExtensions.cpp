#include "SmtpExtensions.h"

#include <array>
#include <chrono>
#include <optional>
#include <cstdint>
#include <string>

#include "Base64.h"
#include "CaptureLimits.h"
#include "ErrorReport.h"
#include "Latin1Text.h"
#include "mdlSMTP.h"

namespace SmtpExtensions {

namespace {

constexpr std::string_view EhloGreeting = "250-127.0.0.1 SMTP mode ready\r\n";
constexpr std::string_view EhloKeywords = "250-PIPELINING\r\n250-8BITMIME\r\n250-SMTPUTF8\r\n";
constexpr std::string_view EhloStartTls = "250-STARTTLS\r\n";
constexpr std::string_view EhloAuth = "250 AUTH PLAIN LOGIN CRAM-MD5\r\n";
constexpr std::string_view TlsReadyReply = "220 2.0.0 Ready to start TLS";
constexpr std::string_view TlsUnavailableReply = "454 4.7.0 TLS not available due to temporary reason";
constexpr std::string_view TlsActiveReply = "503 5.5.1 TLS already active";
constexpr std::string_view AuthSucceededReply = "235 2.7.0 Authentication successful";
constexpr std::string_view AuthAgainReply = "503 5.5.1 Already authenticated";
constexpr std::string_view AuthSyntaxReply = "501 5.5.4 Syntax: AUTH mechanism [initial-response]";
constexpr std::string_view AuthUnknownReply = "504 5.5.4 Unrecognized authentication type";
constexpr std::string_view AuthUndecodableReply = "501 5.5.2 Cannot decode response";
constexpr std::string_view AuthCancelledReply = "501 5.7.0 Authentication cancelled";
constexpr std::string_view EmptyChallenge = "334 ";
constexpr std::string_view UsernameChallenge = "334 VXNlcm5hbWU6"; // "Username:"
constexpr std::string_view PasswordChallenge = "334 UGFzc3dvcmQ6"; // "Password:"
constexpr std::string_view TooLargeReply = "552 5.3.4 Message size exceeds fixed maximum message size";

// AUTH's Base64 (RFC 4954): one run of digits; false, and no bytes, for anything else.
bool decodeAuth(std::string_view text, std::string& bytes)
{
    std::optional<std::string> decoded = Base64::decode(text, Base64::Reading::Stream);
    bytes = decoded ? std::move(*decoded) : std::string();
    return decoded.has_value();
}

// A reply line the plain dialogue's code table does not know, sent as one send operation.
void sendLine(SmtpConnection& connection, std::string_view line)
{
    trapped("SmtpReply", [&] { connection.SendData(concat({line, Wire::CrLf})); });
}

// The words of a line, blanks between them.
std::string_view wordAt(std::string_view line, std::size_t number)
{
    std::size_t start = 0;
    for (std::size_t i = 0;; ++i) {
        start = line.find_first_not_of(' ', start);
        if (start == std::string_view::npos)
            return {};
        const std::size_t end = std::min(line.find(' ', start), line.size());
        if (i == number)
            return line.substr(start, end - start);
        start = end;
    }
}

void loggedIn(SmtpConnection& connection, SmtpServerState& state, std::string user, std::string_view mechanism)
{
    state.authStep = AuthStep::None;
    state.authPendingUser.clear();
    state.authUser = std::move(user);
    connection.loggedIn(state.authUser, mechanism);
    sendLine(connection, AuthSucceededReply);
}

// PLAIN: authorisation identity, NUL, login name, NUL, password.
void plainResponse(SmtpConnection& connection, SmtpServerState& state, std::string_view response)
{
    std::string decoded;
    const bool decodes = decodeAuth(response, decoded);
    const std::size_t firstNul = decoded.find('\0');
    const std::size_t secondNul = firstNul == std::string::npos ? firstNul : decoded.find('\0', firstNul + 1);
    if (!decodes || secondNul == std::string::npos) {
        abandonExchange(state);
        sendLine(connection, AuthUndecodableReply);
        return;
    }
    loggedIn(connection, state, decoded.substr(firstNul + 1, secondNul - firstNul - 1), "PLAIN");
}

void startAuth(SmtpConnection& connection, std::string_view line, SmtpServerState& state)
{
    if (!state.authUser.empty()) {
        sendLine(connection, AuthAgainReply);
        return;
    }
    const std::string mechanism = upperCase(wordAt(line, 1));
    const std::string_view initial = wordAt(line, 2);
    const bool offered = mechanism == "PLAIN" || mechanism == "LOGIN" || mechanism == "CRAM-MD5";
    // As a server that refuses the login outright: no credentials are exchanged.
    if (offered && mdlSMTP::chaosRefuses(connection, state, ChaosStep::Authentication))
        return;
    if (mechanism.empty()) {
        sendLine(connection, AuthSyntaxReply);
    } else if (mechanism == "PLAIN") {
        state.authStep = AuthStep::PlainResponse;
        if (initial.empty())
            sendLine(connection, EmptyChallenge);
        else
            plainResponse(connection, state, initial);
    } else if (mechanism == "LOGIN") {
        state.authStep = AuthStep::LoginUser;
        if (initial.empty()) {
            sendLine(connection, UsernameChallenge);
        } else if (decodeAuth(initial, state.authPendingUser)) {
            state.authStep = AuthStep::LoginPassword;
            sendLine(connection, PasswordChallenge);
        } else {
            state.authStep = AuthStep::None;
            sendLine(connection, AuthUndecodableReply);
        }
    } else if (mechanism == "CRAM-MD5") {
        // Any digest is taken, so the challenge only has to look as RFC 2195 shapes it.
        static std::uint64_t serial = 0;
        const auto now = std::chrono::system_clock::now().time_since_epoch();
        const std::string challenge = "<" + std::to_string(++serial) + "."
            + std::to_string(std::chrono::duration_cast<std::chrono::seconds>(now).count()) + "@127.0.0.1>";
        state.authStep = AuthStep::CramResponse;
        sendLine(connection, concat({EmptyChallenge, Base64::encode(challenge, Base64::Lines::Unbroken)}));
    } else {
        sendLine(connection, AuthUnknownReply);
    }
}

// The client's answer to a challenge; "*" gives up.
void continueAuth(SmtpConnection& connection, std::string_view line, SmtpServerState& state)
{
    const AuthStep step = state.authStep;
    std::string decoded;
    if (line == "*" || (step != AuthStep::PlainResponse && !decodeAuth(line, decoded))) {
        abandonExchange(state);
        sendLine(connection, line == "*" ? AuthCancelledReply : AuthUndecodableReply);
        return;
    }
    switch (step) {
    case AuthStep::PlainResponse:
        plainResponse(connection, state, line);
        break;
    case AuthStep::LoginUser:
        state.authPendingUser = std::move(decoded);
        state.authStep = AuthStep::LoginPassword;
        sendLine(connection, PasswordChallenge);
        break;
    case AuthStep::LoginPassword:
        loggedIn(connection, state, std::move(state.authPendingUser), "LOGIN");
        break;
    case AuthStep::CramResponse: {
        // The login name, a blank, and the digest in hex.
        const std::size_t blank = decoded.rfind(' ');
        if (blank == std::string::npos || blank == 0) {
            abandonExchange(state);
            sendLine(connection, AuthUndecodableReply);
        } else {
            loggedIn(connection, state, decoded.substr(0, blank), "CRAM-MD5");
        }
        break;
    }
    case AuthStep::None:
        break;
    }
}

void ehlo(SmtpConnection& connection, SmtpServerState& state)
{
    // EHLO begins a new transaction.
    mdlSMTP::clearEnvelope(state);
    std::string reply{EhloGreeting};
    reply += EhloKeywords;
    reply += "250-SIZE " + std::to_string(CaptureLimits::MaxMessageBytes) + "\r\n";
    if (!state.tls && connection.tlsAvailable())
        reply += EhloStartTls;
    reply += EhloAuth;
    trapped("SmtpReply", [&] { connection.SendData(reply); });
}

// RFC 3207: everything the client said before the handshake is forgotten, and so is anything it
// sent behind STARTTLS in the clear.
void startTls(SmtpConnection& connection, SmtpServerState& state)
{
    if (state.tls) {
        sendLine(connection, TlsActiveReply);
        return;
    }
    if (!connection.tlsAvailable()) {
        sendLine(connection, TlsUnavailableReply);
        return;
    }
    sendLine(connection, TlsReadyReply);
    mdlSMTP::clearEnvelope(state);
    state.dataBuffer.clear();
    state.dataCharge.reset();
    state.authUser.clear();
    abandonExchange(state);
    state.tls = true;
    state.discardInput = true;
    connection.startTls();
}

// Whether a MAIL line declares with SIZE= more than a message may take.
bool declaresTooLarge(std::string_view line)
{
    const std::size_t pathEnd = line.find('>');
    if (pathEnd == std::string_view::npos)
        return false;
    const std::string_view parameters = line.substr(pathEnd + 1);
    for (std::size_t i = 0;; ++i) {
        const std::string_view parameter = wordAt(parameters, i);
        if (parameter.empty())
            return false;
        if (parameter.size() < 5 || !equalNoCase(parameter.substr(0, 5), "SIZE="))
            continue;
        std::uint64_t size = 0;
        for (char digit : parameter.substr(5)) {
            if (digit < '0' || digit > '9')
                return false;
            size = size * 10 + std::uint64_t(digit - '0');
            if (size > CaptureLimits::MaxMessageBytes)
                return true;
        }
        return false;
    }
}

} // namespace

bool handle(SmtpConnection& connection, std::string_view line, SmtpServerState& state)
{
    if (state.authStep != AuthStep::None) {
        continueAuth(connection, line, state);
        return true;
    }
    const std::string word = upperCase(line.substr(0, 4));
    if (word == "EHLO") {
        ehlo(connection, state);
    } else if (word == "AUTH") {
        startAuth(connection, line, state);
    } else if (equalNoCase(trimBlanks(line), "STARTTLS")) {
        startTls(connection, state);
    } else if (word == "MAIL" && declaresTooLarge(line)) {
        sendLine(connection, TooLargeReply);
    } else {
        return false;
    }
    return true;
}

void abandonExchange(SmtpServerState& state)
{
    state.authStep = AuthStep::None;
    state.authPendingUser.clear();
}

} // namespace SmtpExtensions
