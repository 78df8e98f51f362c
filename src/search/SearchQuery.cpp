#include "SearchQuery.h"

#include <array>
#include <chrono>
#include <cstdlib>
#include <utility>

#include "SearchText.h"

namespace Search {
namespace {

constexpr const char* UnsupportedFormat = "the search word \"%\" is not supported";
constexpr const char* BadDateFormat
    = "cannot read a date in \"%\" (2024-04-01, \"2024-04-01 10:30\", 2024-04-01T10:30:00Z, 04/01/2024, 1 Apr 2024)";
constexpr const char* BadSizeFormat = "cannot read a size in \"%\" (bytes, or with the unit k, kb, m or mb)";

constexpr std::array<std::string_view, 12> MonthNames{"JAN", "FEB", "MAR", "APR", "MAY", "JUN",
                                                      "JUL", "AUG", "SEP", "OCT", "NOV", "DEC"};
constexpr std::array<std::string_view, 7> DayNames{"MON", "TUE", "WED", "THU", "FRI", "SAT", "SUN"};

struct Prefix {
    std::string_view name;
    Field field;
};
constexpr std::array<Prefix, 12> Prefixes{{
    {"from:", Field::From},
    {"to:", Field::To},
    {"cc:", Field::Cc},
    {"bcc:", Field::Bcc},
    {"reply-to:", Field::ReplyTo},
    {"addressed:", Field::Addressed},
    {"subject:", Field::Subject},
    {"message-id:", Field::MessageId},
    {"after:", Field::After},
    {"before:", Field::Before},
    {"larger:", Field::Larger},
    {"smaller:", Field::Smaller},
}};

// is: and has: words, whole; each maps to a field and whether it stands for its negation.
struct Flag {
    std::string_view word;
    Field field;
    bool inverted;
};
constexpr std::array<Flag, 6> Flags{{
    {"is:read", Field::Read, false},
    {"is:unread", Field::Read, true},
    {"has:attachment", Field::Attachment, false},
    {"has:attachments", Field::Attachment, false},
    {"has:inline", Field::Inline, false},
    {"has:inlines", Field::Inline, false},
}};

std::string explained(const char* format, std::string_view word)
{
    std::string text(format);
    text.replace(text.find('%'), 1, word);
    return text;
}

char upper(char c)
{
    return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
}

std::string lowerAscii(std::string_view text)
{
    std::string out(text);
    for (char& c : out)
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    return out;
}

bool isDigit(char c)
{
    return c >= '0' && c <= '9';
}

bool isLetter(char c)
{
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}

// Splits at spaces outside double quotes; every quote goes.
std::vector<std::string> words(std::string_view query)
{
    std::vector<std::string> result;
    std::string current;
    bool quoted = false;
    for (const char c : query) {
        if (c == '"') {
            quoted = !quoted;
        } else if (c == ' ' && !quoted) {
            if (!current.empty())
                result.push_back(std::move(current));
            current.clear();
        } else {
            current += c;
        }
    }
    if (!current.empty())
        result.push_back(std::move(current));
    return result;
}

int number(std::string_view digits)
{
    int value = 0;
    for (const char c : digits)
        value = value * 10 + (c - '0');
    return value;
}

bool valid(const CivilTime& t)
{
    using namespace std::chrono;
    const year_month_day date{year{t.year}, month{unsigned(t.month)}, day{unsigned(t.day)}};
    return date.ok() && t.hour < 24 && t.minute < 60 && t.second < 61;
}

CivilTime fromEpochMs(std::int64_t ms)
{
    using namespace std::chrono;
    const sys_time<milliseconds> time{milliseconds{ms}};
    const sys_days days = floor<std::chrono::days>(time);
    const year_month_day date{days};
    const hh_mm_ss clock{time - days};
    return CivilTime{int(date.year()),
                     int(unsigned(date.month())),
                     int(unsigned(date.day())),
                     int(clock.hours().count()),
                     int(clock.minutes().count()),
                     int(clock.seconds().count()),
                     int(clock.subseconds().count()),
                     0};
}

// A zone at the end of a text with a time of day: Z, UTC, GMT, +hh, +hhmm, +hh:mm. Removes it.
std::optional<int> takeZone(std::string& text)
{
    if (text.find(':') == std::string::npos && text.find('T') == std::string::npos)
        return std::nullopt;
    for (const std::string_view name : {"UTC", "GMT", "Z"})
        if (text.size() > name.size() && text.ends_with(name) && !isLetter(text[text.size() - name.size() - 1])) {
            text.resize(text.size() - name.size());
            return 0;
        }
    std::size_t at = text.find_last_of("+-");
    if (at == std::string::npos || at < text.find(':') || text.find(':') == std::string::npos)
        return std::nullopt;
    std::string digits;
    for (std::size_t i = at + 1; i < text.size(); ++i)
        if (text[i] != ':')
            digits += text[i];
    if ((digits.size() != 2 && digits.size() != 4) || digits.find_first_not_of("0123456789") != std::string::npos)
        return std::nullopt;
    const int minutes = number(digits.substr(0, 2)) * 60 + (digits.size() == 4 ? number(digits.substr(2)) : 0);
    const bool east = text[at] == '+';
    text.resize(at);
    return east ? minutes : -minutes;
}

// hh:mm[:ss[.fff]] [AM|PM] from text[at]; false when it is not a time.
bool readTime(std::string_view text, CivilTime& t)
{
    std::vector<std::string_view> parts;
    std::size_t start = 0;
    std::string_view rest = text;
    std::string_view meridiem;
    if (rest.ends_with("AM") || rest.ends_with("PM")) {
        meridiem = rest.substr(rest.size() - 2);
        rest = rest.substr(0, rest.size() - 2);
        while (rest.ends_with(' '))
            rest.remove_suffix(1);
    }
    for (std::size_t i = 0; i <= rest.size(); ++i)
        if (i == rest.size() || rest[i] == ':') {
            parts.push_back(rest.substr(start, i - start));
            start = i + 1;
        }
    if (parts.size() < 2 || parts.size() > 3)
        return false;
    std::string_view seconds = parts.size() == 3 ? parts[2] : std::string_view("0");
    std::string_view fraction;
    if (const std::size_t dot = seconds.find('.'); dot != std::string_view::npos) {
        fraction = seconds.substr(dot + 1);
        seconds = seconds.substr(0, dot);
    }
    for (const std::string_view part : {parts[0], parts[1], seconds})
        if (part.empty() || part.size() > 2 || part.find_first_not_of("0123456789") != std::string_view::npos)
            return false;
    if (fraction.find_first_not_of("0123456789") != std::string_view::npos)
        return false;
    t.hour = number(parts[0]);
    t.minute = number(parts[1]);
    t.second = number(seconds);
    t.millisecond = number((std::string(fraction) + "000").substr(0, 3));
    if (!meridiem.empty()) {
        if (t.hour < 1 || t.hour > 12)
            return false;
        t.hour = t.hour % 12 + (meridiem == "PM" ? 12 : 0);
    }
    return true;
}

int monthOf(std::string_view word)
{
    for (std::size_t i = 0; i < MonthNames.size(); ++i)
        if (word.size() >= 3 && word.substr(0, 3) == MonthNames[i])
            return int(i) + 1;
    return 0;
}

bool isDayName(std::string_view word)
{
    for (const std::string_view day : DayNames)
        if (word.size() >= 3 && word.substr(0, 3) == day)
            return true;
    return false;
}

// A date's numbers and its month name (0 when it has none) with the count of numbers before it.
struct DateWords {
    std::vector<std::string_view> numbers;
    int month = 0;
    std::size_t monthAt = 0;
};

// Splits a date at - / . and blanks; false for anything but numbers, a month and a weekday.
bool lexDate(std::string_view text, DateWords& words)
{
    for (std::size_t i = 0; i < text.size();) {
        const std::size_t start = i;
        const bool digits = isDigit(text[i]);
        while (i < text.size() && (digits ? isDigit(text[i]) : isLetter(text[i])))
            ++i;
        if (i == start) {
            if (text[i] != '-' && text[i] != '/' && text[i] != '.' && text[i] != ' ')
                return false;
            ++i;
            continue;
        }
        const std::string_view word = text.substr(start, i - start);
        if (digits) {
            if (word.size() > 4)
                return false;
            words.numbers.push_back(word);
        } else if (const int m = monthOf(word); m > 0 && words.month == 0) {
            words.month = m;
            words.monthAt = words.numbers.size();
        } else if (!isDayName(word)) {
            return false;
        }
    }
    return true;
}

// 2013-Feb-03 puts the year first; 7 Oct 1970 and Oct 7 1970 put it last.
bool namedMonthDate(const DateWords& words, CivilTime& t)
{
    if (words.numbers.size() != 2)
        return false;
    const bool yearFirst = words.numbers[0].size() == 4 && words.monthAt == 1;
    const std::string_view year = yearFirst ? words.numbers[0] : words.numbers[1];
    t.year = number(year);
    t.day = number(yearFirst ? words.numbers[1] : words.numbers[0]);
    t.month = words.month;
    return year.size() == 4;
}

// Year first (2024-04-01, 2024-04, 2024), or the US order the peer reads (04/01/2024).
bool numericDate(const std::vector<std::string_view>& n, CivilTime& t)
{
    if (n.empty() || n.size() > 3)
        return false;
    if (n[0].size() == 4) {
        t.year = number(n[0]);
        t.month = n.size() > 1 ? number(n[1]) : 1;
        t.day = n.size() > 2 ? number(n[2]) : 1;
        return true;
    }
    if (n.size() == 3 && n[2].size() == 4) {
        t.month = number(n[0]);
        t.day = number(n[1]);
        t.year = number(n[2]);
        return true;
    }
    return false;
}

// The date alone: numbers and at most one month name, in the orders people write them.
bool readDate(std::string_view text, CivilTime& t)
{
    DateWords words;
    if (!lexDate(text, words))
        return false;
    return words.month > 0 ? namedMonthDate(words, t) : numericDate(words.numbers, t);
}

std::optional<CivilTime> digitsOnly(std::string_view text)
{
    CivilTime t;
    switch (text.size()) {
    case 4:
        t.year = number(text);
        return t;
    case 8:
    case 14:
        t.year = number(text.substr(0, 4));
        t.month = number(text.substr(4, 2));
        t.day = number(text.substr(6, 2));
        if (text.size() == 14) {
            t.hour = number(text.substr(8, 2));
            t.minute = number(text.substr(10, 2));
            t.second = number(text.substr(12, 2));
        }
        return t;
    case 10: // Unix time in seconds, in milliseconds
    case 13:
        return fromEpochMs(std::strtoll(std::string(text).c_str(), nullptr, 10) * (text.size() == 10 ? 1000 : 1));
    default:
        return std::nullopt;
    }
}

std::optional<Term> dateTerm(Field field, std::string_view value, const LocalZone& localZone)
{
    const std::optional<CivilTime> time = parseDate(value);
    if (!time)
        return std::nullopt;
    Term term;
    term.field = field;
    term.number = time->offsetMinutes ? toEpochMs(*time) : localZone(*time);
    return term;
}

// The word as a term; an error when it is a word of the language that cannot be read.
std::optional<Term> termOf(const std::string& word, const LocalZone& localZone, std::string& error)
{
    const std::string lower = lowerAscii(word);
    for (const Flag& flag : Flags)
        if (lower == flag.word)
            return Term{flag.field, {}, 0, flag.inverted};
    if (lower.starts_with("is:") || lower.starts_with("has:") || lower.starts_with("tag:")) {
        error = explained(UnsupportedFormat, word);
        return std::nullopt;
    }
    for (const Prefix& prefix : Prefixes) {
        if (!lower.starts_with(prefix.name))
            continue;
        const std::string_view value = std::string_view(word).substr(prefix.name.size());
        if (prefix.field == Field::After || prefix.field == Field::Before) {
            std::optional<Term> term = dateTerm(prefix.field, value, localZone);
            if (!term)
                error = explained(BadDateFormat, word);
            return term;
        }
        if (prefix.field == Field::Larger || prefix.field == Field::Smaller) {
            const std::optional<std::int64_t> size = parseSize(value);
            if (!size)
                error = explained(BadSizeFormat, word);
            return size ? std::optional(Term{prefix.field, {}, *size, false}) : std::nullopt;
        }
        return Term{prefix.field, normalised(value), 0, false};
    }
    return Term{Field::Text, normalised(word), 0, false};
}

} // namespace

std::int64_t toEpochMs(const CivilTime& t)
{
    using namespace std::chrono;
    const sys_days days{year_month_day{year{t.year}, month{unsigned(t.month)}, day{unsigned(t.day)}}};
    const auto ms = duration_cast<milliseconds>(days.time_since_epoch()).count()
        + ((t.hour * 60LL + t.minute) * 60 + t.second) * 1000 + t.millisecond;
    return ms - std::int64_t(t.offsetMinutes.value_or(0)) * 60'000;
}

std::optional<CivilTime> parseDate(std::string_view text)
{
    // Commas and the case of letters carry nothing: "May 8, 2009" is "MAY 8 2009".
    std::string value;
    for (const char c : text)
        if (c != ',')
            value += upper(c);
    while (value.ends_with(' '))
        value.pop_back();
    while (value.starts_with(' '))
        value.erase(0, 1);
    if (value.empty() || value.size() > 64)
        return std::nullopt;
    if (value.find_first_not_of("0123456789") == std::string::npos) {
        std::optional<CivilTime> t = digitsOnly(value);
        return t && valid(*t) ? t : std::nullopt;
    }
    CivilTime t;
    t.offsetMinutes = takeZone(value);
    while (value.ends_with(' '))
        value.pop_back();
    // The time of day starts at the digits before the first colon, after a T or a space.
    std::string_view datePart = value;
    if (const std::size_t colon = value.find(':'); colon != std::string::npos) {
        std::size_t start = colon;
        while (start > 0 && isDigit(value[start - 1]))
            --start;
        if (start == 0 || (value[start - 1] != 'T' && value[start - 1] != ' '))
            return std::nullopt;
        if (!readTime(std::string_view(value).substr(start), t))
            return std::nullopt;
        datePart = std::string_view(value).substr(0, start - 1);
    }
    if (!readDate(datePart, t) || !valid(t))
        return std::nullopt;
    return t;
}

std::optional<std::int64_t> parseSize(std::string_view text)
{
    std::size_t at = 0;
    while (at < text.size() && isDigit(text[at]))
        ++at;
    if (at == 0 || at > 15)
        return std::nullopt;
    double value = double(std::strtoll(std::string(text.substr(0, at)).c_str(), nullptr, 10));
    if (at < text.size() && text[at] == '.') {
        const std::size_t start = ++at;
        while (at < text.size() && isDigit(text[at]))
            ++at;
        if (at == start || at - start > 9)
            return std::nullopt;
        value += std::strtod(("0." + std::string(text.substr(start, at - start))).c_str(), nullptr);
    }
    if (at < text.size() && text[at] == ' ')
        ++at;
    const std::string unit = lowerAscii(text.substr(at));
    if (unit == "k" || unit == "kb")
        value *= 1024;
    else if (unit == "m" || unit == "mb")
        value *= 1024 * 1024;
    else if (!unit.empty())
        return std::nullopt;
    return static_cast<std::int64_t>(value);
}

Query parseQuery(std::string_view query, const LocalZone& localZone)
{
    Query result;
    for (std::string word : words(query)) {
        bool negated = false;
        if (word.size() > 1 && (word.front() == '-' || word.front() == '!')) {
            negated = true;
            word.erase(0, 1);
        }
        std::optional<Term> term = termOf(word, localZone, result.error);
        if (!result.error.empty())
            return Query{{}, std::move(result.error)};
        // A word that normalises to nothing ("<>", "from:") asks for nothing.
        const bool textual = term->field < Field::Read;
        if (textual && term->text.empty())
            continue;
        term->negated = term->negated != negated;
        result.terms.push_back(std::move(*term));
    }
    return result;
}

} // namespace Search
