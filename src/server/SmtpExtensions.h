#pragma once

#include <string>
#include <string_view>

class SmtpConnection;
struct SmtpServerState;

// The service extensions of the modern dialogue (EHLO, SIZE, STARTTLS, AUTH), offered only to a
// connection whose state has them switched on. Accepts any login: the server captures, it does
// not guard.
namespace SmtpExtensions {

// Where an AUTH command stands while it waits for the client's next line.
enum class AuthStep { None, PlainResponse, LoginUser, LoginPassword, CramResponse };

// Handles the line when it belongs to an extension; false leaves it to the plain dialogue.
bool handle(SmtpConnection& connection, std::string_view line, SmtpServerState& state);

// The client's line was too long to read: an AUTH exchange waiting for it is abandoned.
void abandonExchange(SmtpServerState& state);

} // namespace SmtpExtensions
