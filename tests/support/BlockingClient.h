#pragma once

#include <string>
#include <string_view>

// For client threads while the server runs the main thread's loop; every wait has a time-out.
class BlockingClient {
public:
    BlockingClient() = default;
    ~BlockingClient() { Close(); }
    BlockingClient(const BlockingClient&) = delete;
    BlockingClient& operator=(const BlockingClient&) = delete;

    bool Connect(int port, int timeoutMs = 20000);
    bool Send(std::string_view bytes);
    // The next line without CR LF; empty on time-out or close.
    std::string readLine();
    // Sends a line and returns the reply's first line.
    std::string command(std::string_view line) { return Send(std::string(line) + "\r\n") ? readLine() : std::string(); }
    void Close();
    // Closes with a reset instead of an orderly close.
    void reset();

private:
    int m_fd = -1;
    std::string m_buffer;
};
