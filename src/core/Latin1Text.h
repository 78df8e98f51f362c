#pragma once

#include <array>
#include <cstddef>
#include <initializer_list>
#include <string>
#include <string_view>

// Text on the wire and in the store is bytes, one Latin-1 character each.

namespace Wire {
// The end of a protocol line and of a line of message data.
inline constexpr std::string_view CrLf = "\r\n";
} // namespace Wire

// Upper case of one Latin-1 character: a-z and the accented small letters that have a capital.
char upperLatin1(char c);
std::string upperCase(std::string_view text);

// Position of needle in haystack at or after from, ignoring letter case; npos when absent.
std::size_t findNoCase(std::string_view haystack, std::string_view needle, std::size_t from = 0);

// Each byte as a case-blind comparison sees it.
using CaseFold = std::array<unsigned char, 256>;
const CaseFold& latin1CaseFold(); // Latin-1 letters as their capitals
// Position of needle in haystack at or after from, both seen through the fold; npos when absent.
std::size_t findFolded(std::string_view haystack, std::string_view needle, const CaseFold& fold, std::size_t from = 0);

// Letter-case-blind equality.
bool equalNoCase(std::string_view a, std::string_view b);

// Removes leading and trailing blanks (spaces only; tabs and line breaks are kept).
std::string_view trimBlanks(std::string_view text);

// The text with every control character (C0, DEL and C1) written as \xNN, so that text a client
// wrote cannot break or forge a line of the log. At most maxBytes of the text are taken; a text
// cut short ends in "..." and its full length.
std::string escapeControls(std::string_view text, std::size_t maxBytes = std::string_view::npos);

// The parts joined into one text, with one allocation.
std::string concat(std::initializer_list<std::string_view> parts);
