#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "HttpRequestParser.h"
#include "HttpRouter.h"
#include "RequestPolicy.h"
#include "WebSocketFrames.h"

namespace {

using State = HttpRequestParser::State;

struct ParseCase {
    const char* name;
    std::string input;
    State state;
    int status; // of a refusal
    std::string path, query, body;
    std::size_t taken; // of the input; npos for all of it
};

// Fed whole, and fed a byte at a time: the same request, and the rest left for the next.
TEST(HttpRequestParser, ReadsOneRequestAtATimeWithinItsBounds)
{
    const std::size_t all = std::string::npos;
    const ParseCase cases[] = {
        {"plain", "GET /a?b=c HTTP/1.1\r\nHost: x\r\n\r\n", State::Complete, 0, "/a", "b=c", "", all},
        {"bare LF line ends", "GET /a HTTP/1.1\nHost: x\n\n", State::Complete, 0, "/a", "", "", all},
        {"stray line ends first", "\r\n\r\nGET / HTTP/1.1\r\nHost: x\r\n\r\n", State::Complete, 0, "/", "", "", all},
        {"pipelined: one at a time", "GET /1 HTTP/1.1\r\nHost: x\r\n\r\nGET /2 HTTP/1.1\r\n", State::Complete, 0, "/1",
         "", "", 28},
        {"body by length", "DELETE /m HTTP/1.1\r\nHost: x\r\nContent-Length: 4\r\n\r\nabcdGET", State::Complete, 0,
         "/m", "", "abcd", 54},
        {"HTTP/1.0 needs no Host", "GET / HTTP/1.0\r\n\r\n", State::Complete, 0, "/", "", "", all},
        {"header incomplete", "GET / HTTP/1.1\r\nHost: x\r\n", State::Header, 0, "", "", "", all},
        {"no Host", "GET / HTTP/1.1\r\n\r\n", State::Refused, 400, "", "", "", all},
        {"two Hosts", "GET / HTTP/1.1\r\nHost: a\r\nHost: b\r\n\r\n", State::Refused, 400, "", "", "", all},
        {"chunked", "POST / HTTP/1.1\r\nHost: x\r\nTransfer-Encoding: chunked\r\n\r\n", State::Refused, 411, "", "", "",
         all},
        {"body over the bound", "POST / HTTP/1.1\r\nHost: x\r\nContent-Length: 101\r\n\r\n", State::Refused, 413, "",
         "", "", all},
        {"length beyond numbers", "POST / HTTP/1.1\r\nHost: x\r\nContent-Length: 99999999999999999999999\r\n\r\n",
         State::Refused, 413, "", "", "", all},
        {"lengths disagree", "POST / HTTP/1.1\r\nHost: x\r\nContent-Length: 1\r\nContent-Length: 2\r\n\r\n",
         State::Refused, 400, "", "", "", all},
        {"signed length", "POST / HTTP/1.1\r\nHost: x\r\nContent-Length: +1\r\n\r\n", State::Refused, 400, "", "", "",
         all},
        {"blank before colon", "GET / HTTP/1.1\r\nHost : x\r\n\r\n", State::Refused, 400, "", "", "", all},
        {"folded line", "GET / HTTP/1.1\r\nHost: x\r\n y\r\n\r\n", State::Refused, 400, "", "", "", all},
        {"control in a value", std::string("GET / HTTP/1.1\r\nHost: x\0y\r\n\r\n", 29), State::Refused, 400, "", "", "",
         all},
        {"absolute target", "GET http://x/ HTTP/1.1\r\nHost: x\r\n\r\n", State::Refused, 400, "", "", "", all},
        {"HTTP/2.0", "GET / HTTP/2.0\r\n\r\n", State::Refused, 505, "", "", "", all},
        {"header over the bound", "GET / HTTP/1.1\r\nX: " + std::string(300, 'a'), State::Refused, 431, "", "", "",
         256},
        {"target over the bound", "GET /" + std::string(300, 'a'), State::Refused, 414, "", "", "", 256},
    };
    for (const ParseCase& c : cases) {
        for (const bool bytewise : {false, true}) {
            SCOPED_TRACE(std::string(c.name) + (bytewise ? ", a byte at a time" : ""));
            HttpRequestParser parser(256, 100);
            std::size_t taken = 0;
            while (taken < c.input.size() && (parser.state() == State::Header || parser.state() == State::Body)) {
                const std::size_t step
                    = parser.feed(std::string_view(c.input).substr(taken, bytewise ? 1 : std::string::npos));
                if (step == 0)
                    break;
                taken += step;
            }
            EXPECT_EQ(parser.state(), c.state);
            EXPECT_EQ(taken, c.taken == all ? c.input.size() : c.taken);
            if (c.state == State::Refused) {
                EXPECT_EQ(parser.refusalStatus(), c.status);
            }
            if (c.state != State::Complete)
                continue;
            const HttpRequest request = parser.take();
            EXPECT_EQ(request.path, c.path);
            EXPECT_EQ(request.query, c.query);
            EXPECT_EQ(request.body, c.body);
            EXPECT_EQ(parser.state(), State::Header);
        }
    }
}

HttpRequest request(std::string method, std::vector<std::pair<std::string, std::string>> fields, int minor = 1)
{
    HttpRequest r;
    r.method = std::move(method);
    r.fields = std::move(fields);
    r.minorVersion = minor;
    return r;
}

TEST(HttpRequest, KeepsTheConnectionAsTheVersionAndConnectionFieldSay)
{
    EXPECT_TRUE(request("GET", {}).keepAlive());
    EXPECT_FALSE(request("GET", {{"connection", "Close"}}).keepAlive());
    EXPECT_FALSE(request("GET", {}, 0).keepAlive());
    EXPECT_TRUE(request("GET", {{"Connection", "foo, Keep-Alive"}}, 0).keepAlive());
}

TEST(RequestPolicy, RefusesForeignHostsAndCrossOriginChanges)
{
    const AccessRules rules{{"localhost", "127.0.0.1", "[::1]", "dev.box"}, {"http://app.test:3000"}};
    struct Case {
        const char* name;
        HttpRequest request;
        Access access;
    } const cases[] = {
        {"loopback name with port", request("GET", {{"Host", "LocalHost:8025"}}), Access::Allowed},
        {"IPv6 loopback", request("GET", {{"Host", "[::1]:8025"}}), Access::Allowed},
        {"added name, final dot", request("GET", {{"Host", "dev.box."}}), Access::Allowed},
        {"rebound name", request("GET", {{"Host", "evil.example:8025"}}), Access::ForeignHost},
        {"loopback name as a prefix", request("GET", {{"Host", "localhost.evil.example"}}), Access::ForeignHost},
        {"malformed port", request("GET", {{"Host", "localhost:80x"}}), Access::ForeignHost},
        {"read from anywhere", request("GET", {{"Host", "localhost"}, {"Origin", "http://evil.example"}}),
         Access::Allowed},
        {"delete without browser fields", request("DELETE", {{"Host", "localhost:1"}}), Access::Allowed},
        {"delete from own page", request("DELETE", {{"Host", "localhost:1"}, {"Origin", "http://localhost:1"}}),
         Access::Allowed},
        {"delete from another port", request("DELETE", {{"Host", "localhost:1"}, {"Origin", "http://localhost:2"}}),
         Access::ForeignOrigin},
        {"delete from a granted origin", request("POST", {{"Host", "localhost"}, {"Origin", "http://app.test:3000"}}),
         Access::Allowed},
        {"delete from an opaque origin", request("PUT", {{"Host", "localhost"}, {"Origin", "null"}}),
         Access::ForeignOrigin},
        {"cross-site without Origin", request("DELETE", {{"Host", "localhost"}, {"Sec-Fetch-Site", "cross-site"}}),
         Access::ForeignOrigin},
        {"typed into the address bar", request("DELETE", {{"Host", "localhost"}, {"Sec-Fetch-Site", "none"}}),
         Access::Allowed},
        {"WebSocket from elsewhere",
         request("GET", {{"Host", "localhost:1"}, {"Upgrade", "websocket"}, {"Origin", "http://evil.example"}}),
         Access::ForeignOrigin},
        {"WebSocket from own page",
         request("GET", {{"Host", "localhost:1"}, {"Upgrade", "websocket"}, {"Origin", "http://localhost:1"}}),
         Access::Allowed},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(checkAccess(rules, c.request), c.access);
    }
    EXPECT_NE(grantedOrigin(rules, request("GET", {{"Origin", "http://APP.test:3000"}})), nullptr);
    EXPECT_EQ(grantedOrigin(rules, request("GET", {{"Origin", "http://app.test:3001"}})), nullptr);
}

TEST(HttpRouter, MatchesPatternsAndTellsAWrongMethodFromNoRoute)
{
    HttpRouter router;
    router.add("GET", "/api/v1/messages", {});
    router.add("GET", "/api/v1/message/*", {});
    router.add("DELETE", "/api/v1/message/{id}", {});
    struct Case {
        const char* method;
        const char* path;
        HttpRouter::Match match;
    } const cases[] = {
        {"GET", "/api//v1/messages/", HttpRouter::Match::Found},
        {"GET", "/api/v1/message/1/part/2", HttpRouter::Match::Found},
        {"GET", "/api/v1/message", HttpRouter::Match::NotFound},
        {"DELETE", "/api/v1/message/%31", HttpRouter::Match::Found},
        {"PUT", "/api/v1/messages", HttpRouter::Match::WrongMethod},
        {"GET", "/api/v1/other", HttpRouter::Match::NotFound},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.path);
        HttpRouter::Match match{};
        router.find(c.method, pathSegments(c.path), match);
        EXPECT_EQ(match, c.match);
    }
    EXPECT_EQ(pathSegments("/a%2Fb/%zz"), (std::vector<std::string>{"a/b", "%zz"}));
}

// A client's frame: masked, as RFC 6455 requires of clients.
std::string clientFrame(std::uint8_t first, const std::string& payload, bool masked = true)
{
    std::string frame = WebSocketFrames::frame(WebSocketFrames::Opcode(first & 0x0f), payload);
    frame[0] = char(first);
    if (!masked)
        return frame;
    const std::size_t header = frame.size() - payload.size();
    frame[1] = char(frame[1] | 0x80);
    const char mask[4] = {1, 2, 3, 4};
    std::string out = frame.substr(0, header) + std::string(mask, 4);
    for (std::size_t i = 0; i < payload.size(); ++i)
        out += char(payload[i] ^ mask[i % 4]);
    return out;
}

TEST(WebSocketFrames, AnswersControlFramesAndBoundsMessages)
{
    using Kind = WebSocketFrames::Reader::Event::Kind;
    struct Case {
        const char* name;
        std::string input;
        Kind kind;
        std::string payload;
        std::uint16_t code;
    } const cases[] = {
        {"ping", clientFrame(0x89, "hi"), Kind::Ping, "hi", 0},
        {"close", clientFrame(0x88, std::string("\x03\xe9", 2)), Kind::Close, "", 1001},
        {"text dropped, then ping", clientFrame(0x81, std::string(300, 'x')) + clientFrame(0x89, ""), Kind::Ping, "",
         0},
        {"fragments within the bound",
         clientFrame(0x01, std::string(600, 'x')) + clientFrame(0x80, std::string(400, 'y')) + clientFrame(0x89, "p"),
         Kind::Ping, "p", 0},
        {"fragments over the bound",
         clientFrame(0x01, std::string(600, 'x')) + clientFrame(0x80, std::string(500, 'y')), Kind::Fault, "", 1009},
        {"announced too long", clientFrame(0x82, std::string(70000, 'x')).substr(0, 14), Kind::Fault, "", 1009},
        {"unmasked", clientFrame(0x89, "hi", false), Kind::Fault, "", 1002},
        {"fragmented ping", clientFrame(0x09, "hi"), Kind::Fault, "", 1002},
        {"continuation first", clientFrame(0x80, "x"), Kind::Fault, "", 1002},
        {"reserved bit", clientFrame(0xc1, "x"), Kind::Fault, "", 1002},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        WebSocketFrames::Reader reader(1024);
        WebSocketFrames::Reader::Event event;
        std::size_t taken = 0;
        while (taken < c.input.size() && event.kind == Kind::None)
            taken += reader.feed(std::string_view(c.input).substr(taken, 7), event);
        EXPECT_EQ(event.kind, c.kind);
        EXPECT_EQ(event.payload, c.payload);
        EXPECT_EQ(event.code, c.code);
    }
    EXPECT_EQ(WebSocketFrames::frame(WebSocketFrames::Text, std::string(126, 'a')).substr(0, 4),
              std::string("\x81\x7e\x00\x7e", 4));
}

} // namespace
