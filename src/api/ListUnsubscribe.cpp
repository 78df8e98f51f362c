#include "ListUnsubscribe.h"

#include <cctype>

#include "Latin1Text.h"

namespace {

constexpr const char* NoLinksText = "no valid unsubscribe links found";
constexpr const char* NotEnclosedText = "should be enclosed in <>";
constexpr const char* TooManyText = "should include a maximum of one email and one HTTP link";
constexpr const char* BadSeparatorText = "<> should be split with a comma and optional spaces";
constexpr const char* SpacesText = "should not contain spaces";
constexpr const char* SecondMailtoText = "should only contain one mailto:";
constexpr const char* SecondHttpText = "should only contain one HTTP link";
constexpr const char* BadSchemeText = "should start with either http(s):// or mailto:";
constexpr const char* BadEscapeFormat = "parse \"%1\": invalid URL escape \"%2\"";

bool isBlank(char c)
{
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

std::string trimmed(std::string_view text)
{
    while (!text.empty() && isBlank(text.front()))
        text.remove_prefix(1);
    while (!text.empty() && isBlank(text.back()))
        text.remove_suffix(1);
    return std::string(text);
}

std::string quoted(std::string_view text, std::string_view fault)
{
    return concat({"\"", text, "\" ", fault});
}

bool isAlphanumeric(char c)
{
    return std::isalnum(static_cast<unsigned char>(c)) != 0;
}

// The first malformed percent escape, as a URL parser refuses it; empty when there is none.
std::string badEscape(std::string_view link)
{
    for (std::size_t at = link.find('%'); at != std::string_view::npos; at = link.find('%', at + 1)) {
        const std::string_view escape = link.substr(at, 3);
        if (escape.size() < 3 || !std::isxdigit(static_cast<unsigned char>(escape[1]))
            || !std::isxdigit(static_cast<unsigned char>(escape[2])))
            return std::string(escape);
    }
    return {};
}

void add(std::string& errors, const std::string& error)
{
    if (!errors.empty())
        errors += ", ";
    errors += error;
}

// The items between angle brackets; an error when what lies between them is not a comma.
bool items(std::string_view value, std::vector<std::string_view>& out)
{
    for (std::size_t at = 0; at < value.size();) {
        const std::size_t open = value.find('<', at);
        if (open == std::string_view::npos)
            break;
        const std::size_t close = value.find('>', open);
        if (close == std::string_view::npos)
            break;
        out.push_back(value.substr(open + 1, close - open - 1));
        at = close + 1;
        const std::size_t next = value.find('<', at);
        if (next != std::string_view::npos && trimmed(value.substr(at, next - at)) != ",")
            return false;
    }
    return true;
}

// The field without its comments, the shortest from each "(" to the next ")", trimmed.
std::string withoutComments(std::string_view field)
{
    std::string value;
    for (std::size_t at = 0; at < field.size();) {
        const std::size_t open = field.find('(', at);
        const std::size_t close = open == std::string_view::npos ? open : field.find(')', open);
        if (close == std::string_view::npos) {
            value.append(field.substr(at));
            break;
        }
        value.append(field.substr(at, open - at));
        at = close + 1;
    }
    return trimmed(value);
}

// What is wrong with the field as a whole; empty when its links can be read one by one.
std::string shapeError(const std::string& value, std::vector<std::string_view>& found)
{
    const std::size_t open = value.find('<');
    if (open == std::string::npos || value.find('>', open) == std::string::npos)
        return quoted(value, NoLinksText);
    if (value.front() != '<' || value.back() != '>')
        return quoted(value, NotEnclosedText);
    const bool separated = items(value, found);
    if (found.size() > 2)
        return quoted(value, TooManyText);
    if (!separated)
        return quoted(value, BadSeparatorText);
    return {};
}

// One link: kept, or its fault added to the errors.
void readLink(std::string_view link, bool& mailto, bool& http, UnsubscribeLinks& result)
{
    if (link.find_first_of(" \t\r\n") != std::string_view::npos)
        return add(result.errors, quoted(link, SpacesText));
    const bool isMailto = link.starts_with("mailto:") && link.size() > 7 && isAlphanumeric(link[7]);
    const std::size_t scheme = findNoCase(link.substr(0, 8), "https://") == 0 ? 8
        : findNoCase(link.substr(0, 7), "http://") == 0                       ? 7
                                                                              : 0;
    const bool isHttp = scheme > 0 && link.size() > scheme && isAlphanumeric(link[scheme]);
    if ((isMailto && mailto) || (isHttp && http))
        return add(result.errors, quoted(link, isMailto ? SecondMailtoText : SecondHttpText));
    if (!isMailto && !isHttp)
        return add(result.errors, quoted(link, BadSchemeText));
    (isMailto ? mailto : http) = true;
    if (const std::string escape = badEscape(link); !escape.empty()) {
        std::string error = BadEscapeFormat;
        error.replace(error.find("%1"), 2, link);
        error.replace(error.find("%2"), 2, escape);
        return add(result.errors, error);
    }
    result.links.emplace_back(link);
}

} // namespace

UnsubscribeLinks parseListUnsubscribe(std::string_view field)
{
    UnsubscribeLinks result;
    const std::string value = withoutComments(field);
    std::vector<std::string_view> found;
    result.errors = shapeError(value, found);
    if (!result.errors.empty())
        return result;
    bool mailto = false;
    bool http = false;
    for (const std::string_view link : found)
        readLink(link, mailto, http, result);
    return result;
}

std::string canonicalHeaderName(std::string_view name)
{
    std::string out(name);
    if (out.find(' ') != std::string::npos)
        return out;
    bool upper = true;
    for (char& c : out) {
        if (upper && c >= 'a' && c <= 'z')
            c = static_cast<char>(c - 'a' + 'A');
        else if (!upper && c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
        upper = c == '-';
    }
    return out;
}
