#pragma once

#include <string>
#include <string_view>
#include <vector>

struct HttpRequest;

// Who may use the server: a web page must not reach it through a name of its own (DNS
// rebinding), nor act on it from another origin.
struct AccessRules {
    std::vector<std::string> hosts;       // what the Host field may name: lower case, IPv6 in brackets, no port
    std::vector<std::string> corsOrigins; // origins granted cross-origin use, "scheme://host[:port]"
};

enum class Access { Allowed, ForeignHost, ForeignOrigin };

// The host a Host field names, without its port or a final dot, lower case; empty when malformed.
std::string hostOf(std::string_view field);

// The Host of every request must be one of the rules' names. A request that changes state, or
// opens a WebSocket, must come from the server's own origin or a granted one: a browser says
// where it comes from in Origin or Sec-Fetch-Site; a request with neither is no browser's.
Access checkAccess(const AccessRules& rules, const HttpRequest& request);

// The request's Origin when the rules grant it cross-origin use; null otherwise.
const std::string* grantedOrigin(const AccessRules& rules, const HttpRequest& request);
