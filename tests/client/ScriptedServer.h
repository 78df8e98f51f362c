#pragma once

#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include <QPointer>
#include <QTcpServer>
#include <QTcpSocket>

// A loopback server for client tests: greets each connection, records every line it receives
// (without CR LF) and writes whatever the script returns for it. Runs on the test's thread, so
// it is served while the client's waits let events run.
class ScriptedServer {
public:
    using Script = std::function<std::string(const std::string& line)>;

    ScriptedServer(std::string greeting, Script script);
    ~ScriptedServer();

    int Port() const { return m_server.serverPort(); }
    const std::vector<std::string>& Lines() const { return m_lines; }
    int Connections() const { return m_connections; }
    // Writes to the connection of the moment.
    void Write(const std::string& bytes);
    // Closes the connection of the moment from the server's side.
    void Hangup();

private:
    void accept();
    void read();

    QTcpServer m_server;
    QPointer<QTcpSocket> m_peer;
    std::string m_greeting;
    Script m_script;
    std::string m_buffer;
    std::vector<std::string> m_lines;
    int m_connections = 0;
};

// An SMTP server's answers: 250 to everything, 354 to DATA, the message text collected until ".",
// 221 to QUIT; the answer to any command word can be replaced.
class SmtpScript {
public:
    // Replies as ReplyFor finds them.
    std::map<std::string, std::string> Replies;
    // The message texts received, each with its lines' CR LF, dot-stuffing left as sent.
    std::vector<std::string> Messages;

    std::string operator()(const std::string& line);

private:
    bool m_inData = false;
    std::string m_data;
};

// The reply to a line by the line itself, else by its upper-case command word ("EHLO", "RCPT"...),
// else otherwise; "" answers nothing.
std::string ReplyFor(const std::map<std::string, std::string>& replies, const std::string& line,
                     const std::string& otherwise);
