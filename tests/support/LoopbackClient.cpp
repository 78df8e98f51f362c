#include "LoopbackClient.h"

#include <QHostAddress>

bool LoopbackClient::Connect(int port, int timeoutMs)
{
    m_socket.connectToHost(QHostAddress::LocalHost, quint16(port));
    return waitFor([&] { return m_socket.state() == QAbstractSocket::ConnectedState; }, timeoutMs);
}

void LoopbackClient::Send(std::string_view bytes)
{
    m_socket.write(bytes.data(), qint64(bytes.size()));
    m_socket.flush();
}

std::string LoopbackClient::readLine(int timeoutMs)
{
    std::size_t end = std::string::npos;
    const bool complete = waitFor(
        [&] {
            m_buffer += m_socket.readAll().toStdString();
            return (end = m_buffer.find("\r\n")) != std::string::npos;
        },
        timeoutMs);
    if (!complete)
        return {};
    std::string line = m_buffer.substr(0, end);
    m_buffer.erase(0, end + 2);
    return line;
}
