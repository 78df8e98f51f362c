#pragma once

#include <string>

#include <QProcess>
#include <QTemporaryDir>

// A real POP3 server for the test's own use: Dovecot with a throw-away configuration in a
// temporary folder (one passwd-file user, an empty mail folder, no system service), listening on
// a free loopback port until the object goes.
class DovecotServer {
public:
    DovecotServer(const std::string& user, const std::string& password);
    ~DovecotServer();

    DovecotServer(const DovecotServer&) = delete;
    DovecotServer& operator=(const DovecotServer&) = delete;

    // Why the server could not be started; empty when it answers.
    const std::string& Failure() const { return m_failure; }
    int Port() const { return m_port; }

private:
    std::string start(const std::string& user, const std::string& password);

    QTemporaryDir m_dir;
    QProcess m_process;
    int m_port = 0;
    std::string m_failure;
};
