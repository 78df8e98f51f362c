#include "HttpRouter.h"

namespace {

int hexValue(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

// A '%' not followed by two hex digits stays as it is.
std::string percentDecoded(std::string_view text)
{
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        const int high = text[i] == '%' && i + 2 < text.size() ? hexValue(text[i + 1]) : -1;
        const int low = high >= 0 ? hexValue(text[i + 2]) : -1;
        if (low < 0) {
            out += text[i];
            continue;
        }
        out += char(high * 16 + low);
        i += 2;
    }
    return out;
}

} // namespace

std::vector<std::string> pathSegments(std::string_view path)
{
    std::vector<std::string> segments;
    while (!path.empty()) {
        const std::size_t slash = path.find('/');
        if (slash != 0)
            segments.push_back(percentDecoded(path.substr(0, slash)));
        if (slash == std::string_view::npos)
            break;
        path.remove_prefix(slash + 1);
    }
    return segments;
}

void HttpRouter::add(std::string method, std::string_view pattern, Handler handler)
{
    m_routes.push_back({std::move(method), pathSegments(pattern), std::move(handler)});
}

const HttpRouter::Handler* HttpRouter::find(std::string_view method, const std::vector<std::string>& segments,
                                            Match& match) const
{
    match = Match::NotFound;
    for (const Route& route : m_routes) {
        if (!matches(route.pattern, segments))
            continue;
        if (route.method == method) {
            match = Match::Found;
            return &route.handler;
        }
        match = Match::WrongMethod;
    }
    return nullptr;
}

bool HttpRouter::matches(const std::vector<std::string>& pattern, const std::vector<std::string>& segments)
{
    const bool rest = !pattern.empty() && pattern.back() == "*";
    if (rest ? segments.size() < pattern.size() : segments.size() != pattern.size())
        return false;
    for (std::size_t i = 0; i < pattern.size(); ++i) {
        const std::string& want = pattern[i];
        const bool any = want == "*" || (want.size() >= 2 && want.front() == '{' && want.back() == '}');
        if (!any && want != segments[i])
            return false;
    }
    return true;
}
