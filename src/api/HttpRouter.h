#pragma once

#include <functional>
#include <string>
#include <string_view>
#include <vector>

struct HttpRequest;
class HttpResponder;

// The segments of a path, percent-decoded, empty ones skipped: "/api//v1/" is {"api", "v1"}.
std::vector<std::string> pathSegments(std::string_view path);

// A server's routes as (method, pattern, handler) rows. A pattern is a path whose segments
// match themselves, "{name}" any one segment, and a last "*" one segment or more.
class HttpRouter {
public:
    using Handler = std::function<void(const HttpRequest&, HttpResponder&)>;
    enum class Match { Found, WrongMethod, NotFound };

    void add(std::string method, std::string_view pattern, Handler handler);
    // The first row for this method and path; null with WrongMethod when the path has rows for
    // other methods only.
    const Handler* find(std::string_view method, const std::vector<std::string>& segments, Match& match) const;

private:
    struct Route {
        std::string method;
        std::vector<std::string> pattern;
        Handler handler;
    };
    static bool matches(const std::vector<std::string>& pattern, const std::vector<std::string>& segments);

    std::vector<Route> m_routes;
};
