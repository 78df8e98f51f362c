#pragma once

#include <string>
#include <string_view>

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QTcpSocket>

// Runs the event loop until done() holds or the deadline passes; true when it held.
template <class Done> bool waitFor(Done done, int timeoutMs = 10000)
{
    QDeadlineTimer deadline(timeoutMs);
    while (!done()) {
        if (deadline.hasExpired())
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents, 5);
    }
    return true;
}

// A client on the server's own thread: every wait turns the event loop, with a deadline.
class LoopbackClient {
public:
    bool Connect(int port, int timeoutMs = 5000);
    void Send(std::string_view bytes);
    // The next line without its CR LF; empty when none came in time.
    std::string readLine(int timeoutMs = 5000);
    // Sends a command line and returns the first line of the reply.
    std::string command(std::string_view line, int timeoutMs = 5000)
    {
        Send(std::string(line) + "\r\n");
        return readLine(timeoutMs);
    }
    // Waits until the server has closed the connection.
    bool waitForClose(int timeoutMs = 5000)
    {
        return waitFor([&] { return m_socket.state() == QAbstractSocket::UnconnectedState; }, timeoutMs);
    }
    void Close() { m_socket.disconnectFromHost(); }

private:
    QTcpSocket m_socket;
    std::string m_buffer;
};
