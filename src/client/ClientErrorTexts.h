#pragma once

#include <string_view>

// Pending error texts of the client that both its settings and its transmission add.
namespace ClientErrorText {
inline constexpr std::string_view InvalidSender = "Missing or invalid sender Email address";
inline constexpr std::string_view InvalidPOP3Host = "Invalid or missing POP3 host name";
} // namespace ClientErrorText
