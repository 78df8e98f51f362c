#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

// One HTTP/1.x request as it came off the wire: origin-form target, fields as sent, the body
// whole (a Content-Length body; chunked ones are refused).
struct HttpRequest {
    std::string method;
    std::string path;  // before '?', still percent-encoded
    std::string query; // after '?', as sent
    int minorVersion = 1;
    std::vector<std::pair<std::string, std::string>> fields; // names as sent, values without blanks around
    std::string body;

    // The first value of a field (name compared without regard to case); null when absent.
    const std::string* field(std::string_view name) const;
    // Whether the connection stays open after the answer (RFC 9112 9.3).
    bool keepAlive() const;
};

// Whether a comma-separated field value lists token (case ignored): "keep-alive, Upgrade".
bool listsToken(std::string_view value, std::string_view token);
bool equalsFolded(std::string_view a, std::string_view b);

// Reads one request at a time from the bytes of a connection, holding at most the header's
// bound plus the announced body. A refusal names its status; the connection then closes,
// since the end of the refused request cannot be known.
class HttpRequestParser {
public:
    enum class State { Header, Body, Complete, Refused };

    HttpRequestParser(std::size_t maxHeaderBytes, std::size_t maxBodyBytes)
        : m_maxHeaderBytes(maxHeaderBytes), m_maxBodyBytes(maxBodyBytes)
    {
    }

    // Takes bytes up to the end of the current request; returns how many it took. The rest
    // belongs to the next request and stays with the caller.
    std::size_t feed(std::string_view data);

    State state() const { return m_state; }
    // Once the header is read: the body's announced length.
    std::size_t bodyLength() const { return m_bodyLength; }
    // Whether any byte of the current request has come (an idle connection has none).
    bool started() const { return !m_head.empty() || m_state != State::Header; }
    const HttpRequest& request() const { return m_request; }
    int refusalStatus() const { return m_refusalStatus; }
    const char* refusalText() const { return m_refusalText; }

    // Hands the complete request over and waits for the next.
    HttpRequest take();

private:
    // The steps of feed: the header up to its blank line, then the body up to its length.
    std::size_t feedHeader(std::string_view data);
    std::size_t feedBody(std::string_view data);
    void parseHead();
    bool parseRequestLine(std::string_view line);
    bool parseField(std::string_view line);
    bool checkFraming();
    void refuse(int status, const char* text);

    std::size_t m_maxHeaderBytes;
    std::size_t m_maxBodyBytes;
    State m_state = State::Header;
    std::string m_head;
    std::size_t m_bodyLength = 0;
    HttpRequest m_request;
    int m_refusalStatus = 0;
    const char* m_refusalText = "";
};
