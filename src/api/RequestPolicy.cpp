#include "RequestPolicy.h"

#include <algorithm>

#include "HttpRequestParser.h"

namespace {

bool isNameCharacter(char c)
{
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || c == '-' || c == '.' || c == '_';
}

bool isAddressCharacter(char c)
{
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || c == ':' || c == '.';
}

bool safeMethod(std::string_view method)
{
    return method == "GET" || method == "HEAD" || method == "OPTIONS";
}

} // namespace

std::string hostOf(std::string_view field)
{
    std::string host(field);
    std::transform(host.begin(), host.end(), host.begin(),
                   [](char c) { return c >= 'A' && c <= 'Z' ? char(c + 32) : c; });
    const std::size_t bracket = host.rfind(']');
    const std::size_t colon = host.rfind(':');
    if (colon != std::string::npos && (bracket == std::string::npos || colon > bracket)) {
        const std::string_view port = std::string_view(host).substr(colon + 1);
        if (port.empty() || port.size() > 5
            || !std::all_of(port.begin(), port.end(), [](char c) { return c >= '0' && c <= '9'; }))
            return {};
        host.resize(colon);
    }
    if (host.size() > 2 && host.front() == '[' && host.back() == ']') {
        const bool valid = std::all_of(host.begin() + 1, host.end() - 1, isAddressCharacter);
        return valid ? host : std::string();
    }
    if (!host.empty() && host.back() == '.')
        host.pop_back();
    if (host.empty() || !std::all_of(host.begin(), host.end(), isNameCharacter))
        return {};
    return host;
}

Access checkAccess(const AccessRules& rules, const HttpRequest& request)
{
    const std::string* host = request.field("Host");
    if (host && std::find(rules.hosts.begin(), rules.hosts.end(), hostOf(*host)) == rules.hosts.end())
        return Access::ForeignHost;
    const std::string* upgrade = request.field("Upgrade");
    if (safeMethod(request.method) && !(upgrade && listsToken(*upgrade, "websocket")))
        return Access::Allowed;
    if (const std::string* origin = request.field("Origin")) {
        const bool own = host && equalsFolded(*origin, "http://" + *host);
        return own || grantedOrigin(rules, request) ? Access::Allowed : Access::ForeignOrigin;
    }
    if (const std::string* site = request.field("Sec-Fetch-Site"))
        return *site == "same-origin" || *site == "none" ? Access::Allowed : Access::ForeignOrigin;
    return Access::Allowed;
}

const std::string* grantedOrigin(const AccessRules& rules, const HttpRequest& request)
{
    const std::string* origin = request.field("Origin");
    if (!origin)
        return nullptr;
    const auto granted = std::find_if(rules.corsOrigins.begin(), rules.corsOrigins.end(),
                                      [&](const std::string& allowed) { return equalsFolded(allowed, *origin); });
    return granted == rules.corsOrigins.end() ? nullptr : origin;
}
