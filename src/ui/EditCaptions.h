#pragma once

// The words of the context menus of the two read-only views, the message body and the log:
// the same commands read the same in both.
namespace EditCaptions {
inline constexpr const char* Copy = "&Copy";
inline constexpr const char* CopyAll = "Copy A&ll";
inline constexpr const char* SelectAll = "Select &All";
} // namespace EditCaptions
