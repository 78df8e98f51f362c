#pragma once

#include <chrono>
#include <memory>
#include <optional>
#include <regex>
#include <string>
#include <string_view>
#include <vector>

// Where released mail goes and what may be released there, as the command line sets it.
struct RelaySettings {
    enum class Security {
        StartTls,    // smtp://, and the server must offer STARTTLS
        ImplicitTls, // smtps://: TLS from the first byte
        Plain,       // smtp:// in the clear, only when asked for
    };
    static constexpr std::chrono::seconds DefaultTimeout{30};
    static constexpr int SmtpPort = 25;
    static constexpr int SmtpsPort = 465;

    std::string host; // a name, an IPv4 address or an IPv6 address without brackets
    int port = SmtpPort;
    Security security = Security::StartTls;
    bool insecure = false; // the server's certificate is not checked
    std::string caFile;    // PEM certificates to trust instead of the system's
    std::string user;      // empty: no login
    std::string password;
    std::chrono::seconds timeout = DefaultTimeout; // for the whole transfer, connecting included

    // "smtp://HOST[:PORT]" or "smtps://HOST[:PORT]", nothing else (no path, no user, no query):
    // credentials never go on a command line. Nothing, with the reason, when it does not parse.
    static std::optional<RelaySettings> parse(std::string_view url, std::string& error);
    // The URL the transfer is made with.
    std::string url() const;
    // "host:port", for the log and the boxes.
    std::string server() const;
};

// Reads "user:password" from the first line of a file. False with the reason when it cannot.
bool readRelayCredentials(const std::string& path, RelaySettings& settings, std::string& error);

// The recipients release may send to: a regular expression (ECMAScript, letter case ignored)
// that must match a whole address, so that "example\.com" does not let "example.com.evil.net" by.
class RelayAllowList {
public:
    static std::optional<RelayAllowList> compile(const std::string& pattern, std::string& error);
    bool allows(const std::string& address) const;
    const std::string& pattern() const { return m_pattern; }

private:
    std::string m_pattern;
    std::shared_ptr<const std::regex> m_regex;
};

// Checks the recipients a release is asked for: each a bare address (local@domain, no blanks,
// brackets or line breaks) that the allow-list takes. Empty when they all pass, otherwise the
// reason, naming every address refused.
std::string checkReleaseRecipients(const std::vector<std::string>& recipients, const RelayAllowList& allowed);

// The addresses of a comma-, semicolon- or blank-separated list as a person types it.
std::vector<std::string> splitAddressList(std::string_view text);
