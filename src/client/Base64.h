#pragma once

#include <string>
#include <string_view>

// The 64 digits for the values 0 to 63, then the pad.
inline constexpr std::string_view Base64Alphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/=";
inline constexpr char Base64Pad = '=';

// Base64 in lines of 76 characters, each line ending in CR LF (even for no bytes).
std::string Base64Encode(std::string_view bytes);

// As Base64Encode, but an empty text stays empty.
std::string Base64EncodeText(std::string_view text);

// Decodes groups of four; any character outside the alphabet, a line break included, gives empty text.
std::string Base64Decode(std::string_view text);
