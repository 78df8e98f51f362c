#pragma once

#include <cstdint>
#include <ctime>
#include <functional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

// The texts an outgoing message is made of: body, header values, date, identifier, size estimate.

// Lines longer than this are wrapped (RFC 5321 allows 998 characters before CR LF).
inline constexpr std::size_t MaxBodyLineLength = 998;

// Dot-stuffs the body and wraps over-long lines; keeps the text's own line separator.
std::string PrepareMessageText(std::string_view text);

// True when any byte is above 126 (the delete code counts).
bool hasEightBitText(std::string_view text);

// Plain text as it is (in double quotes when quoteIfPlain); 8-bit text as RFC 2047 B-encoded words.
std::string EncodeHeaderText(std::string_view text, bool quoteIfPlain);

// Day and month names by number, Sunday = 1 and January = 1; entry 0 is empty.
struct MailNameTables {
    std::vector<std::string> WeekdayNames;
    std::vector<std::string> MonthNames;
};
MailNameTables buildMailNameTables();

// "Sat, 5 Dec 2026 05:48:39 +0100" from a broken-down local time; throws on a day or month out of range.
std::string FormatMailDate(const std::tm& localTime, std::string_view timeZoneText, const MailNameTables& names);

// The local time now, read after the zone settings have been taken up afresh.
std::tm currentLocalTime();

// "+0100", "-0330": the sign, then hours and minutes of the offset east of UTC.
std::string TimeZoneText(int offsetMinutes);

// The local offset east of UTC now, in minutes, as the C library reports it.
int localTimeZoneOffsetMinutes();

// A moment in UTC to the millisecond (month and day from 1).
struct UtcTime {
    int year = 0;
    int month = 0;
    int day = 0;
    int hour = 0;
    int minute = 0;
    int second = 0;
    int millisecond = 0;
};
UtcTime currentUtcTime();

// Yields numbers uniform in [0, 1).
using UniformRandom = std::function<double()>;

// Characters of the random part of a message identifier, and how many of them.
inline constexpr std::string_view MessageIdCharacters = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz012345678";
inline constexpr int MessageIdRandomLength = 20;

// "20261205044839123." + 20 random characters + "@" + host (one trailing NUL of host left out).
std::string CreateMessageId(const UtcTime& time, const UniformRandom& random, std::string_view host);

// As above for the current time, with a generator seeded afresh from the clock.
std::string CreateMessageId(std::string_view host);

// What the size estimate of a transmission reads.
struct TransmissionSizeInputs {
    std::string_view From;
    bool UseAuthentication = false;
    std::string_view Username;
    std::string_view Password;
    std::span<const std::string> recipients;
    std::span<const std::string> recipientDisplayNames;
    std::span<const std::string> ccRecipients;
    std::span<const std::string> ccDisplayNames;
    std::span<const std::string> bccRecipients;
    std::string_view FromDisplayName;
    std::string_view ReplyToAddress;
    std::string_view Subject;
    std::string_view Message; // as prepared
    std::int32_t EncodeType = 0;
    bool Receipt = false;
};

// Expected number of bytes written for one message, the base of its progress; throws on overflow.
std::int32_t EstimateTransmissionSize(const TransmissionSizeInputs& inputs);
