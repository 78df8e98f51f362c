#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// A search as test suites write it for a mail-capture API: words that must all match, split at
// spaces outside double quotes; a leading - or ! negates a word.
namespace Search {

enum class Field {
    Text, // plain word: sender, recipients, subject, decoded bodies, file names
    From,
    To,
    Cc,
    Bcc,
    ReplyTo,
    Addressed, // any of From, To, Cc, Bcc, Reply-To
    Subject,
    MessageId,
    Read, // is:read (is:unread is its negation)
    Attachment,
    Inline,
    After,   // received at or after number (ms since the epoch)
    Before,  // received at or before number
    Larger,  // size above number (bytes)
    Smaller, // size below number
};

struct Term {
    Field field = Field::Text;
    std::string text; // normalised (SearchText.h)
    std::int64_t number = 0;
    bool negated = false;
};

// A date and time of day as written, and its offset from UTC when the text gave one.
struct CivilTime {
    int year = 0, month = 1, day = 1, hour = 0, minute = 0, second = 0, millisecond = 0;
    std::optional<int> offsetMinutes;
};

// The milliseconds since the epoch of a civil time that gave no offset, in the caller's zone.
using LocalZone = std::function<std::int64_t(const CivilTime&)>;

struct Query {
    std::vector<Term> terms;
    std::string error; // why the query was refused, naming the word; empty when it was not
};

// Parses a query. A date, size or word of the language that cannot be read, and a word the
// language has but this program does not (tag:, is:tagged), refuse the whole query.
Query parseQuery(std::string_view query, const LocalZone& localZone);

// A date as test suites write one: 2024-04-01, 2024/04/01, 2024.04.01, 20240401, 2024-04, 2024,
// "2024-04-01 10:30[:05[.123]]", ISO 8601 with T and a zone (Z, +02:00, +0200), US 04/01/2024,
// month names (7 oct 1970, Oct 7 1970, 2013-Feb-03), Unix time in seconds or milliseconds.
std::optional<CivilTime> parseDate(std::string_view text);

// Bytes, with an optional fraction and unit k, kb, m or mb (1024-based); nothing when malformed.
std::optional<std::int64_t> parseSize(std::string_view text);

// Milliseconds since the epoch of a civil time with a known offset (UTC when none).
std::int64_t toEpochMs(const CivilTime& time);

} // namespace Search
