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
    // Replies by whole line, else by upper-case command word ("EHLO", "RCPT"...); "" answers nothing.
    std::map<std::string, std::string> Replies;
    // The message texts received, each with its lines' CR LF, dot-stuffing left as sent.
    std::vector<std::string> Messages;

    std::string operator()(const std::string& line);

private:
    bool m_inData = false;
    std::string m_data;
};

// A POP3 server's answers: "+OK" to everything unless the line or its command word says otherwise.
struct Pop3Script {
    std::map<std::string, std::string> Replies;
    std::string operator()(const std::string& line);
};
