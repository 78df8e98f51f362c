#pragma once

#include <string>
#include <string_view>

// Text of mail as UTF-8, whatever it was written in.
namespace Mime {

// Valid UTF-8 stays as it is; anything else is read as Windows-1252, the charset most
// undeclared 8-bit mail is written in. Undecodable bytes become U+FFFD.
std::string guessToUtf8(std::string_view bytes);

// Bytes in the declared charset as UTF-8; an unknown or missing charset is guessed as above.
std::string toUtf8(std::string_view bytes, std::string_view charset);

} // namespace Mime
