#pragma once

#include <cstdint>
#include <string>
#include <string_view>

// JSON written straight into a string, byte for byte as QJsonDocument's compact form writes the
// same values: the event stream describes every arrival, and building a QJsonObject tree to print
// it costs several times what the text does. Objects' keys must be given in QJsonObject's order
// (sorted); the caller writes the punctuation.
namespace JsonText {

// A string from bytes meant as UTF-8: what is not well-formed UTF-8 reads as QString::fromUtf8
// reads it (each bad sequence one U+FFFD), and the quote, the backslash and control characters
// are escaped.
void appendString(std::string& out, std::string_view text);
void appendNumber(std::string& out, std::uint64_t value);
// "key": — the key written as a string.
void appendKey(std::string& out, std::string_view key);

} // namespace JsonText
