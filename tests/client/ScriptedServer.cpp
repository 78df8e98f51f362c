#include "ScriptedServer.h"

#include <QHostAddress>

#include "Latin1Text.h"

namespace {

std::string commandWord(const std::string& line)
{
    return UpperCase(line.substr(0, line.find(' ')));
}

} // namespace

std::string ReplyFor(const std::map<std::string, std::string>& replies, const std::string& line,
                     const std::string& otherwise)
{
    auto it = replies.find(line);
    if (it == replies.end())
        it = replies.find(commandWord(line));
    return it != replies.end() ? it->second : otherwise;
}

ScriptedServer::ScriptedServer(std::string greeting, Script script)
    : m_greeting(std::move(greeting)), m_script(std::move(script))
{
    QObject::connect(&m_server, &QTcpServer::newConnection, &m_server, [this] { accept(); });
    m_server.listen(QHostAddress::LocalHost, 0);
}

ScriptedServer::~ScriptedServer()
{
    if (m_peer)
        m_peer->abort();
}

void ScriptedServer::Write(const std::string& bytes)
{
    if (m_peer)
        m_peer->write(bytes.data(), qint64(bytes.size()));
}

void ScriptedServer::Hangup()
{
    if (m_peer)
        m_peer->disconnectFromHost();
}

void ScriptedServer::accept()
{
    while (QTcpSocket* socket = m_server.nextPendingConnection()) {
        ++m_connections;
        m_peer = socket;
        m_buffer.clear();
        QObject::connect(socket, &QTcpSocket::readyRead, socket, [this, socket] {
            if (socket == m_peer)
                read();
        });
        QObject::connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
        Write(m_greeting);
    }
}

void ScriptedServer::read()
{
    m_buffer += m_peer->readAll().toStdString();
    for (std::size_t end = m_buffer.find("\r\n"); end != std::string::npos; end = m_buffer.find("\r\n")) {
        const std::string line = m_buffer.substr(0, end);
        m_buffer.erase(0, end + 2);
        m_lines.push_back(line);
        Write(m_script(line));
    }
}

std::string SmtpScript::operator()(const std::string& line)
{
    if (m_inData) {
        if (line != ".") {
            m_data += line + "\r\n";
            return {};
        }
        m_inData = false;
        Messages.push_back(std::move(m_data));
        m_data.clear();
        return ReplyFor(Replies, line, "250 Queued\r\n");
    }
    const std::string word = commandWord(line);
    if (word == "DATA") {
        const std::string reply = ReplyFor(Replies, line, "354 Go ahead\r\n");
        m_inData = reply.starts_with("354");
        return reply;
    }
    if (word == "QUIT")
        return ReplyFor(Replies, line, "221 Bye\r\n");
    return ReplyFor(Replies, line, "250 OK\r\n");
}
