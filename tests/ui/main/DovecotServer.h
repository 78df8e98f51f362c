#pragma once

#include <string>

#include <QProcess>
#include <QTemporaryDir>

// Dovecot as a real POP3 server with one user, configured in a temporary folder, on a free loopback port.
class DovecotServer {
public:
    DovecotServer(const std::string& user, const std::string& password);
    ~DovecotServer();

    // Why the server could not be started; empty when it answers.
    const std::string& failure() const { return m_failure; }
    int port() const { return m_port; }

private:
    std::string start(const std::string& user, const std::string& password);

    QTemporaryDir m_dir;
    QProcess m_process;
    int m_port = 0;
    std::string m_failure;
};
