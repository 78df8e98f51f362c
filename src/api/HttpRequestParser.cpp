#include "HttpRequestParser.h"

#include <algorithm>
#include <charconv>
#include <cstring>

namespace {

constexpr const char* MalformedText = "malformed request";
constexpr const char* HeaderTooLargeText = "request header too large";
constexpr const char* TargetTooLongText = "request target too long";
constexpr const char* VersionText = "only HTTP/1.0 and HTTP/1.1 are spoken";
constexpr const char* TargetText = "the request target must be a path";
constexpr const char* HostText = "a request needs exactly one Host field";
constexpr const char* LengthText = "the Content-Length field is malformed";
constexpr const char* ChunkedText = "a request body needs a Content-Length; chunked bodies are not taken";
constexpr const char* BodyTooLargeText = "request is too large";

bool isToken(char c)
{
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z')
        || std::strchr("!#$%&'*+-.^_`|~", c) != nullptr;
}

bool isTokenText(std::string_view text)
{
    return !text.empty() && std::all_of(text.begin(), text.end(), [](char c) { return c != '\0' && isToken(c); });
}

// Field values may hold any byte but the control characters (tab aside).
bool isFieldValue(std::string_view text)
{
    return std::none_of(text.begin(), text.end(), [](char c) { return (c >= 0 && c < ' ' && c != '\t') || c == 127; });
}

std::string_view trimmed(std::string_view text)
{
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t'))
        text.remove_prefix(1);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t'))
        text.remove_suffix(1);
    return text;
}

char lower(char c)
{
    return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c;
}

} // namespace

bool equalsFolded(std::string_view a, std::string_view b)
{
    return a.size() == b.size()
        && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) { return lower(x) == lower(y); });
}

bool listsToken(std::string_view value, std::string_view token)
{
    while (!value.empty()) {
        const std::size_t comma = value.find(',');
        if (equalsFolded(trimmed(value.substr(0, comma)), token))
            return true;
        if (comma == std::string_view::npos)
            break;
        value.remove_prefix(comma + 1);
    }
    return false;
}

const std::string* HttpRequest::field(std::string_view name) const
{
    for (const auto& [key, value] : fields)
        if (equalsFolded(key, name))
            return &value;
    return nullptr;
}

bool HttpRequest::keepAlive() const
{
    const std::string* connection = field("Connection");
    if (connection && listsToken(*connection, "close"))
        return false;
    return minorVersion >= 1 || (connection && listsToken(*connection, "keep-alive"));
}

std::size_t HttpRequestParser::feed(std::string_view data)
{
    if (m_state == State::Header)
        return feedHeader(data);
    if (m_state == State::Body)
        return feedBody(data);
    return 0;
}

std::size_t HttpRequestParser::feedHeader(std::string_view data)
{
    // Returns at the header's end, so that the caller may refuse the body before it is held.
    // Stray line ends between requests are skipped (RFC 9112 2.2).
    std::size_t taken = 0;
    while (m_head.empty() && taken < data.size() && (data[taken] == '\r' || data[taken] == '\n'))
        ++taken;
    const std::size_t before = m_head.size();
    const std::size_t room = m_maxHeaderBytes - before;
    m_head.append(data.substr(taken, room));
    // The blank line ends the header; a bare LF ends a line as well as CR LF.
    const std::size_t from = before > 2 ? before - 2 : 0;
    std::size_t end = m_head.find("\n\r\n", from);
    end = end == std::string::npos ? m_head.find("\n\n", from) : std::min(end, m_head.find("\n\n", from));
    if (end == std::string::npos) {
        taken += m_head.size() - before;
        if (m_head.size() >= m_maxHeaderBytes)
            refuse(m_head.find('\n') == std::string::npos ? 414 : 431,
                   m_head.find('\n') == std::string::npos ? TargetTooLongText : HeaderTooLargeText);
        return taken;
    }
    end += m_head[end + 1] == '\r' ? 3u : 2u;
    taken += end - before;
    m_head.resize(end);
    parseHead();
    return taken;
}

std::size_t HttpRequestParser::feedBody(std::string_view data)
{
    if (m_request.body.empty())
        m_request.body.reserve(m_bodyLength);
    const std::size_t part = std::min(data.size(), m_bodyLength - m_request.body.size());
    m_request.body.append(data.substr(0, part));
    if (m_request.body.size() == m_bodyLength)
        m_state = State::Complete;
    return part;
}

void HttpRequestParser::parseHead()
{
    std::string_view rest = m_head;
    bool first = true;
    while (!rest.empty()) {
        const std::size_t newline = rest.find('\n');
        std::string_view line = rest.substr(0, newline);
        rest.remove_prefix(newline + 1);
        if (!line.empty() && line.back() == '\r')
            line.remove_suffix(1);
        if (line.empty())
            break;
        if (!(first ? parseRequestLine(line) : parseField(line)))
            return;
        first = false;
    }
    m_head.clear();
    m_head.shrink_to_fit();
    if (!checkFraming())
        return;
    m_state = m_bodyLength ? State::Body : State::Complete;
}

bool HttpRequestParser::parseRequestLine(std::string_view line)
{
    const std::size_t space = line.find(' ');
    const std::size_t last = line.rfind(' ');
    if (space == std::string_view::npos || last == space) {
        refuse(400, MalformedText);
        return false;
    }
    const std::string_view method = line.substr(0, space);
    const std::string_view target = line.substr(space + 1, last - space - 1);
    const std::string_view version = line.substr(last + 1);
    if (!isTokenText(method) || target.empty()
        || std::any_of(target.begin(), target.end(), [](char c) { return c >= 0 && c <= ' '; })) {
        refuse(400, MalformedText);
        return false;
    }
    if (version.size() != 8 || version.substr(0, 5) != "HTTP/" || version[6] != '.') {
        refuse(400, MalformedText);
        return false;
    }
    if (version[5] != '1' || (version[7] != '0' && version[7] != '1')) {
        refuse(505, VersionText);
        return false;
    }
    if (target.front() != '/') {
        refuse(400, TargetText);
        return false;
    }
    m_request.method = method;
    m_request.minorVersion = version[7] - '0';
    const std::size_t question = target.find('?');
    m_request.path = target.substr(0, question);
    if (question != std::string_view::npos)
        m_request.query = target.substr(question + 1);
    return true;
}

bool HttpRequestParser::parseField(std::string_view line)
{
    // A line folded onto the previous one, or blanks before the colon, could be read two ways.
    const std::size_t colon = line.find(':');
    const std::string_view value = trimmed(line.substr(colon == std::string_view::npos ? 0 : colon + 1));
    if (colon == std::string_view::npos || !isTokenText(line.substr(0, colon)) || !isFieldValue(value)) {
        refuse(400, MalformedText);
        return false;
    }
    m_request.fields.emplace_back(line.substr(0, colon), value);
    return true;
}

bool HttpRequestParser::checkFraming()
{
    int hosts = 0;
    bool lengthSeen = false;
    for (const auto& [name, value] : m_request.fields) {
        if (equalsFolded(name, "Host"))
            ++hosts;
        if (equalsFolded(name, "Transfer-Encoding")) {
            refuse(411, ChunkedText);
            return false;
        }
        if (!equalsFolded(name, "Content-Length"))
            continue;
        std::size_t length = 0;
        const auto [end, error] = std::from_chars(value.data(), value.data() + value.size(), length);
        if (value.empty() || error != std::errc() || end != value.data() + value.size()
            || (lengthSeen && length != m_bodyLength)) {
            refuse(error == std::errc::result_out_of_range ? 413 : 400,
                   error == std::errc::result_out_of_range ? BodyTooLargeText : LengthText);
            return false;
        }
        lengthSeen = true;
        m_bodyLength = length;
    }
    if (hosts > 1 || (hosts == 0 && m_request.minorVersion == 1)) {
        refuse(400, HostText);
        return false;
    }
    if (m_bodyLength > m_maxBodyBytes) {
        refuse(413, BodyTooLargeText);
        return false;
    }
    return true;
}

void HttpRequestParser::refuse(int status, const char* text)
{
    m_state = State::Refused;
    m_refusalStatus = status;
    m_refusalText = text;
}

HttpRequest HttpRequestParser::take()
{
    HttpRequest request = std::move(m_request);
    m_request = {};
    m_state = State::Header;
    m_bodyLength = 0;
    return request;
}
