#pragma once

#include <optional>
#include <string>
#include <string_view>

#include <QString>

// The program keeps text as Latin-1 bytes, one character each, and Qt as UTF-16: every crossing
// between the two goes through here.
QString fromLatin1(std::string_view text);
// Characters beyond Latin-1 become '?'.
std::string toLatin1(const QString& text);
// None when the text holds a character beyond Latin-1, which no captured message can contain.
std::optional<std::string> toLatin1Exact(const QString& text);
