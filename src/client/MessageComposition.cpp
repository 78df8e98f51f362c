#include "MessageComposition.h"

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <limits>
#include <random>

#include "AppError.h"
#include "Base64.h"
#include "Latin1Text.h"

namespace {

// RFC 2047 encoded words; 42 bytes make 56 Base64 digits, so a word stays well inside a line.
constexpr std::size_t EncodedWordPieceLength = 42;
constexpr std::string_view EncodedWordStart = "=?ISO-8859-1?B?";
constexpr std::string_view EncodedWordEnd = "?=";
constexpr std::string_view EncodedWordSeparator = "\r\n\t";

constexpr std::string_view WeekdayNamesText = ",Sun,Mon,Tue,Wed,Thu,Fri,Sat";
constexpr std::string_view MonthNamesText = ",Jan,Feb,Mar,Apr,May,Jun,Jul,Aug,Sep,Oct,Nov,Dec";

constexpr const char* LocalTimeUnavailableText = "The local time cannot be read";

// Decimal digits of a non-negative number, with leading zeros up to width.
std::string padded(long value, std::size_t width)
{
    std::string digits = std::to_string(value);
    if (digits.size() < width)
        digits.insert(0, width - digits.size(), '0');
    return digits;
}

std::vector<std::string> splitNames(std::string_view text)
{
    std::vector<std::string> names;
    std::size_t start = 0;
    for (;;) {
        const std::size_t comma = text.find(',', start);
        names.emplace_back(text.substr(start, comma - start));
        if (comma == std::string_view::npos)
            return names;
        start = comma + 1;
    }
}

// Appends one body line, dot-stuffed and wrapped; the separator becomes CR LF if a wrap needs one.
void appendPreparedLine(std::string& out, std::string_view line, std::string_view& separator)
{
    // The rest of the line is kept as a view; an extra dot owed in front of it is a flag.
    bool owesDot = line.starts_with('.');
    std::string_view rest = line;
    while (rest.size() + (owesDot ? 1 : 0) > MaxBodyLineLength) {
        if (separator.empty())
            separator = Wire::CrLf;
        const std::size_t room = MaxBodyLineLength - (owesDot ? 1 : 0);
        const std::size_t blank = rest.substr(0, room).rfind(' ');
        // Up to and including the last blank, or a hard cut when the window has none.
        const std::size_t take = blank == std::string_view::npos ? room : blank + 1;
        if (owesDot)
            out += '.';
        out += rest.substr(0, take);
        out += separator;
        rest.remove_prefix(take);
        owesDot = rest.starts_with('.');
    }
    if (owesDot)
        out += '.';
    out += rest;
}

} // namespace

std::string PrepareMessageText(std::string_view text)
{
    if (text.empty())
        return {};
    // A lone line feed is not a separator: such a text is one line.
    std::string_view separator;
    if (text.find(Wire::CrLf) != std::string_view::npos)
        separator = Wire::CrLf;
    else if (text.find('\r') != std::string_view::npos)
        separator = "\r";

    std::string out;
    out.reserve(text.size() + text.size() / 64 + 2);
    if (separator.empty()) {
        appendPreparedLine(out, text, separator);
        return out;
    }
    const std::string_view original = separator;
    std::size_t start = 0;
    for (;;) {
        const std::size_t end = text.find(original, start);
        appendPreparedLine(out, text.substr(start, end - start), separator);
        if (end == std::string_view::npos)
            return out;
        out += separator;
        start = end + original.size();
    }
}

bool hasEightBitText(std::string_view text)
{
    return std::any_of(text.begin(), text.end(), [](char c) { return static_cast<unsigned char>(c) > 126; });
}

std::string EncodeHeaderText(std::string_view text, bool quoteIfPlain)
{
    try {
        if (!hasEightBitText(text)) {
            if (!quoteIfPlain)
                return std::string(text);
            std::string quoted;
            quoted.reserve(text.size() + 2);
            quoted += '"';
            quoted += text;
            quoted += '"';
            return quoted;
        }
        std::string encoded;
        for (std::size_t at = 0; at < text.size(); at += EncodedWordPieceLength) {
            if (at != 0)
                encoded += EncodedWordSeparator;
            std::string digits = Base64EncodeText(text.substr(at, EncodedWordPieceLength));
            if (digits.ends_with(Wire::CrLf))
                digits.resize(digits.size() - Wire::CrLf.size());
            encoded += EncodedWordStart;
            encoded += digits;
            encoded += EncodedWordEnd;
        }
        return encoded;
    } catch (...) {
        // A header is better sent as it is than not at all.
        return std::string(text);
    }
}

MailNameTables buildMailNameTables()
{
    return MailNameTables{splitNames(WeekdayNamesText), splitNames(MonthNamesText)};
}

std::string FormatMailDate(const std::tm& localTime, std::string_view timeZoneText, const MailNameTables& names)
{
    const int weekday = localTime.tm_wday + 1;
    const int month = localTime.tm_mon + 1;
    if (weekday < 1 || static_cast<std::size_t>(weekday) >= names.WeekdayNames.size() || month < 1
        || static_cast<std::size_t>(month) >= names.MonthNames.size())
        throw subscriptOutOfRangeError();
    std::string date = names.WeekdayNames[static_cast<std::size_t>(weekday)];
    date += ", ";
    date += std::to_string(localTime.tm_mday);
    date += ' ';
    date += names.MonthNames[static_cast<std::size_t>(month)];
    date += ' ';
    date += padded(localTime.tm_year + 1900L, 4);
    date += ' ';
    date += padded(localTime.tm_hour, 2);
    date += ':';
    date += padded(localTime.tm_min, 2);
    date += ':';
    date += padded(localTime.tm_sec, 2);
    date += ' ';
    date += timeZoneText;
    return date;
}

std::tm currentLocalTime()
{
    // The C library reads the zone settings only when asked; they may have changed since.
    ::tzset();
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    if (::localtime_r(&now, &local) == nullptr)
        throw AppError(ErrorNumber::Unexpected, LocalTimeUnavailableText);
    return local;
}

std::string TimeZoneText(int offsetMinutes)
{
    const long magnitude = std::labs(static_cast<long>(offsetMinutes));
    std::string text(1, offsetMinutes < 0 ? '-' : '+');
    text += padded(magnitude / 60, 2);
    text += padded(magnitude % 60, 2);
    return text;
}

int localTimeZoneOffsetMinutes()
{
    return static_cast<int>(currentLocalTime().tm_gmtoff / 60);
}

UtcTime currentUtcTime()
{
    using namespace std::chrono;
    const auto now = system_clock::now();
    const auto seconds = floor<std::chrono::seconds>(now);
    const std::time_t whole = system_clock::to_time_t(seconds);
    std::tm utc{};
    ::gmtime_r(&whole, &utc);
    return UtcTime{utc.tm_year + 1900,
                   utc.tm_mon + 1,
                   utc.tm_mday,
                   utc.tm_hour,
                   utc.tm_min,
                   utc.tm_sec,
                   static_cast<int>(duration_cast<milliseconds>(now - seconds).count())};
}

std::string CreateMessageId(const UtcTime& time, const UniformRandom& random, std::string_view host)
{
    std::string id = std::to_string(time.year);
    for (int field : {time.month, time.day, time.hour, time.minute, time.second})
        id += padded(field, 2);
    id += padded(time.millisecond, 3);
    id += '.';
    constexpr double Choices = static_cast<double>(MessageIdCharacters.size());
    for (int i = 0; i < MessageIdRandomLength; ++i) {
        // Some generators round up to 1.0 itself; such a draw takes the last character.
        const double scaled = random() * Choices;
        std::size_t index = 0;
        if (scaled >= Choices)
            index = MessageIdCharacters.size() - 1;
        else if (scaled > 0)
            index = static_cast<std::size_t>(scaled);
        id += MessageIdCharacters[index];
    }
    id += '@';
    // A host that went through name resolution carries a NUL behind its name.
    if (host.ends_with('\0'))
        host.remove_suffix(1);
    id += host;
    return id;
}

std::string CreateMessageId(std::string_view host)
{
    // Reseeded on every call; the counter keeps two calls within one clock tick apart.
    static std::uint32_t calls = 0;
    const auto ticks = static_cast<std::uint64_t>(std::chrono::high_resolution_clock::now().time_since_epoch().count());
    std::seed_seq seed{static_cast<std::uint32_t>(ticks), static_cast<std::uint32_t>(ticks >> 32), ++calls};
    std::mt19937 generator(seed);
    std::uniform_real_distribution<double> uniform(0.0, 1.0);
    return CreateMessageId(
        currentUtcTime(), [&] { return uniform(generator); }, host);
}

std::int32_t EstimateTransmissionSize(const TransmissionSizeInputs& in)
{
    const auto len = [](std::string_view text) { return static_cast<std::int64_t>(text.size()); };
    // Addresses appear in the envelope and in a header; after the first, each adds ", " and a fold.
    const auto addresses = [&](std::span<const std::string> entries, std::int64_t timesWritten) {
        std::int64_t size = 0;
        for (std::size_t i = 0; i < entries.size(); ++i)
            size += 15 + timesWritten * len(entries[i]) + (i > 0 ? 6 : 0);
        return size;
    };
    const auto displayNames = [&](std::span<const std::string> entries) {
        std::int64_t size = 0;
        for (const std::string& entry : entries)
            size += 11 + len(entry);
        return size;
    };

    std::int64_t size = 93 + len(in.From);
    if (in.UseAuthentication) {
        size += 25 + len(in.From);
        if (!in.Username.empty())
            size += 4 * len(in.Username) / 3;
        if (!in.Password.empty())
            size += 4 * len(in.Password) / 3;
    }
    size += addresses(in.recipients, 2) + displayNames(in.recipientDisplayNames);
    size += addresses(in.ccRecipients, 2) + displayNames(in.ccDisplayNames);
    size += addresses(in.bccRecipients, 1);
    if (!in.FromDisplayName.empty())
        size += 3 + len(in.FromDisplayName);
    size += len(in.From);
    if (!in.ReplyToAddress.empty())
        size += 14 + len(in.ReplyToAddress);
    size += len(in.Subject) + len(in.Message);
    if (in.EncodeType == 0) {
        size += 64;
        if (in.Receipt)
            size += 36 + len(in.FromDisplayName) + len(in.From);
    }
    if (size > std::numeric_limits<std::int32_t>::max())
        throw overflowError();
    return static_cast<std::int32_t>(size);
}
