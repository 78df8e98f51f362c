#include "RelaySettings.h"

#include <algorithm>
#include <charconv>
#include <fstream>

#include "Latin1Text.h"

namespace {

constexpr std::string_view SmtpScheme = "smtp://";
constexpr std::string_view SmtpsScheme = "smtps://";
constexpr const char* BadUrlText
    = "--relay takes smtp://HOST[:PORT] or smtps://HOST[:PORT] (user and password go in --relay-auth FILE), not: ";
constexpr const char* NoCredentialsFormat = "cannot read the relay's user and password from ";
constexpr const char* BadCredentialsText = ": its first line must be USER:PASSWORD";
constexpr const char* BadPatternText = "--relay-allow takes a regular expression: ";
constexpr const char* NoRecipientText = "no recipient given";
constexpr const char* NotAnAddressText = "not an address: ";
constexpr const char* NotAllowedText = "not allowed by --relay-allow: ";
constexpr std::size_t MaxAddressBytes = 254; // RFC 5321 4.5.3.1: a path of 256 with its brackets
constexpr std::size_t MaxLoggedAddressBytes = 256;
constexpr int MaxPort = 65535;

bool validHost(std::string_view host)
{
    return !host.empty() && std::all_of(host.begin(), host.end(), [](char c) {
        return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '.' || c == '-'
            || c == '_' || c == ':';
    });
}

bool bareAddress(std::string_view address)
{
    const std::size_t at = address.rfind('@');
    return !address.empty() && address.size() <= MaxAddressBytes && at != std::string_view::npos && at > 0
        && at + 1 < address.size() && std::none_of(address.begin(), address.end(), [](char c) {
               return std::uint8_t(c) <= ' ' || c == '<' || c == '>' || c == ',' || c == ';' || c == 0x7F;
           });
}

// "host", "host:port", "[v6]" or "[v6]:port"; false when it is none of them (an IPv6 address
// without brackets would read its last group as the port).
bool splitHostPort(std::string_view text, std::string_view& host, std::string_view& port)
{
    if (text.starts_with('[')) {
        const std::size_t close = text.find(']');
        if (close == std::string_view::npos)
            return false;
        host = text.substr(1, close - 1);
        const std::string_view after = text.substr(close + 1);
        port = after.empty() ? after : after.substr(1);
        return after.empty() || (after.starts_with(':') && !port.empty());
    }
    const std::size_t colon = text.find(':');
    host = text.substr(0, colon);
    port = colon == std::string_view::npos ? std::string_view() : text.substr(colon + 1);
    return host.find(':') == std::string_view::npos && (colon == std::string_view::npos || !port.empty());
}

} // namespace

std::optional<RelaySettings> RelaySettings::parse(std::string_view url, std::string& error)
{
    RelaySettings settings;
    std::string_view rest;
    if (url.size() > SmtpsScheme.size() && equalNoCase(url.substr(0, SmtpsScheme.size()), SmtpsScheme)) {
        settings.security = Security::ImplicitTls;
        settings.port = SmtpsPort;
        rest = url.substr(SmtpsScheme.size());
    } else if (url.size() > SmtpScheme.size() && equalNoCase(url.substr(0, SmtpScheme.size()), SmtpScheme)) {
        rest = url.substr(SmtpScheme.size());
    }
    if (rest.ends_with('/'))
        rest.remove_suffix(1);
    std::string_view host;
    std::string_view port;
    bool valid = splitHostPort(rest, host, port) && validHost(host);
    if (valid && !port.empty()) {
        const auto [end, status] = std::from_chars(port.data(), port.data() + port.size(), settings.port);
        valid = status == std::errc() && end == port.data() + port.size() && settings.port >= 1
            && settings.port <= MaxPort;
    }
    if (!valid) {
        error = BadUrlText + escapeControls(url, MaxLoggedAddressBytes);
        return std::nullopt;
    }
    settings.host = std::string(host);
    return settings;
}

std::string RelaySettings::url() const
{
    const bool v6 = host.find(':') != std::string::npos;
    return concat({security == Security::ImplicitTls ? SmtpsScheme : SmtpScheme, v6 ? "[" : "", host, v6 ? "]" : "",
                   ":", std::to_string(port)});
}

std::string RelaySettings::server() const
{
    const bool v6 = host.find(':') != std::string::npos;
    return concat({v6 ? "[" : "", host, v6 ? "]" : "", ":", std::to_string(port)});
}

bool readRelayCredentials(const std::string& path, RelaySettings& settings, std::string& error)
{
    std::ifstream file(path);
    std::string line;
    if (!file || !std::getline(file, line)) {
        error = NoCredentialsFormat + path;
        return false;
    }
    if (line.ends_with('\r'))
        line.pop_back();
    const std::size_t colon = line.find(':');
    if (colon == std::string::npos || colon == 0) {
        error = NoCredentialsFormat + path + BadCredentialsText;
        return false;
    }
    settings.user = line.substr(0, colon);
    settings.password = line.substr(colon + 1);
    return true;
}

std::optional<RelayAllowList> RelayAllowList::compile(const std::string& pattern, std::string& error)
{
    RelayAllowList list;
    list.m_pattern = pattern;
    try {
        list.m_regex = std::make_shared<const std::regex>(pattern, std::regex::ECMAScript | std::regex::icase);
    } catch (const std::regex_error& failure) {
        error = BadPatternText + pattern + " (" + failure.what() + ")";
        return std::nullopt;
    }
    return list;
}

bool RelayAllowList::allows(const std::string& address) const
{
    return m_regex && std::regex_match(address, *m_regex);
}

std::string checkReleaseRecipients(const std::vector<std::string>& recipients, const RelayAllowList& allowed)
{
    if (recipients.empty())
        return NoRecipientText;
    std::string malformed;
    std::string refused;
    for (const std::string& address : recipients) {
        const bool wellFormed = bareAddress(address);
        if (wellFormed && allowed.allows(address))
            continue;
        std::string& list = wellFormed ? refused : malformed;
        list += (list.empty() ? "" : ", ") + escapeControls(address, MaxLoggedAddressBytes);
    }
    if (!malformed.empty())
        return NotAnAddressText + malformed;
    if (!refused.empty())
        return NotAllowedText + refused;
    return {};
}

std::vector<std::string> splitAddressList(std::string_view text)
{
    std::vector<std::string> addresses;
    std::size_t start = 0;
    for (std::size_t i = 0; i <= text.size(); ++i) {
        if (i < text.size() && text[i] != ',' && text[i] != ';' && text[i] != ' ' && text[i] != '\t' && text[i] != '\n')
            continue;
        if (i > start)
            addresses.emplace_back(text.substr(start, i - start));
        start = i + 1;
    }
    return addresses;
}
