#include "DovecotServer.h"

#include <pwd.h>
#include <unistd.h>

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QHostAddress>
#include <QStandardPaths>
#include <QTcpServer>
#include <QTcpSocket>

namespace {

constexpr int StartTimeoutMs = 15000;
constexpr int StopTimeoutMs = 5000;
const char* const SearchPaths[] = {"/usr/sbin", "/usr/local/sbin", "/usr/bin"};

bool writeFile(const QString& path, const std::string& text)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(text.data(), qint64(text.size())) == qint64(text.size());
}

std::string readFile(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll().toStdString() : std::string();
}

int freeLoopbackPort()
{
    QTcpServer probe;
    return probe.listen(QHostAddress::LocalHost, 0) ? probe.serverPort() : 0;
}

// The greeting comes once the login service runs, a little after the master has bound the port.
bool greets(int port)
{
    QTcpSocket socket;
    socket.connectToHost(QHostAddress::LocalHost, quint16(port));
    return socket.waitForConnected(1000) && socket.waitForReadyRead(2000) && socket.readAll().startsWith("+OK");
}

} // namespace

DovecotServer::DovecotServer(const std::string& user, const std::string& password)
{
    m_failure = start(user, password);
}

DovecotServer::~DovecotServer()
{
    if (m_process.state() == QProcess::NotRunning)
        return;
    m_process.terminate();
    if (!m_process.waitForFinished(StopTimeoutMs)) {
        m_process.kill();
        m_process.waitForFinished(StopTimeoutMs);
    }
}

std::string DovecotServer::start(const std::string& user, const std::string& password)
{
    QStringList paths;
    for (const char* path : SearchPaths)
        paths << QString::fromLatin1(path);
    const QString program = QStandardPaths::findExecutable(QStringLiteral("dovecot"), paths);
    if (program.isEmpty())
        return "dovecot is not installed (Debian package dovecot-pop3d)";
    if (!m_dir.isValid())
        return "no temporary folder";

    // Dovecot runs its login and mail processes as unprivileged users: as root, the users its
    // package made; otherwise everything as the user running the test.
    std::string loginUser;
    std::string internalUser;
    const passwd* mailUser = nullptr;
    if (geteuid() == 0) {
        loginUser = "dovenull";
        internalUser = "dovecot";
        mailUser = getpwnam("dovecot");
        if (!mailUser || !getpwnam("dovenull"))
            return "the users dovecot and dovenull are missing (Debian package dovecot-core)";
    } else {
        mailUser = getpwuid(geteuid());
        if (!mailUser)
            return "the current user has no name";
        loginUser = internalUser = mailUser->pw_name;
    }

    const QString dir = m_dir.path();
    const QString mail = dir + QStringLiteral("/mail");
    // The mail processes run as another user and must reach the folder.
    QFile::setPermissions(dir,
                          QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner | QFile::ReadGroup | QFile::ExeGroup
                              | QFile::ReadOther | QFile::ExeOther);
    if (!QDir().mkpath(mail) || chown(QFile::encodeName(mail).constData(), mailUser->pw_uid, mailUser->pw_gid) != 0)
        return "cannot prepare the mail folder";

    m_port = freeLoopbackPort();
    const std::string base = dir.toStdString();
    const std::string config = "base_dir = " + base
        + "/run\n"
          "state_dir = "
        + base
        + "/run\n"
          "log_path = "
        + base
        + "/dovecot.log\n"
          "protocols = pop3\n"
          "listen = 127.0.0.1\n"
          "ssl = no\n"
          "disable_plaintext_auth = no\n"
          "auth_failure_delay = 0\n"
          "auth_username_format = %u\n"
          "default_login_user = "
        + loginUser
        + "\n"
          "default_internal_user = "
        + internalUser
        + "\n"
          "first_valid_uid = 1\n"
          "passdb {\n  driver = passwd-file\n  args = scheme=PLAIN "
        + base
        + "/passwd\n}\n"
          "userdb {\n  driver = static\n  args = uid="
        + std::to_string(mailUser->pw_uid) + " gid=" + std::to_string(mailUser->pw_gid) + " home=" + base
        + "/mail/%u\n}\n"
          "mail_location = maildir:"
        + base
        + "/mail/%u\n"
          "service pop3-login {\n  chroot =\n  inet_listener pop3 {\n    port = "
        + std::to_string(m_port)
        + "\n  }\n}\n"
          "service anvil {\n  chroot =\n}\n";
    if (!writeFile(dir + QStringLiteral("/dovecot.conf"), config)
        || !writeFile(dir + QStringLiteral("/passwd"), user + ":{PLAIN}" + password + "\n"))
        return "cannot write the configuration";

    m_process.setProcessChannelMode(QProcess::MergedChannels);
    m_process.start(program, {QStringLiteral("-F"), QStringLiteral("-c"), dir + QStringLiteral("/dovecot.conf")});
    if (!m_process.waitForStarted())
        return "dovecot did not start: " + m_process.errorString().toStdString();
    for (QDeadlineTimer deadline(StartTimeoutMs); !deadline.hasExpired();) {
        if (greets(m_port))
            return {};
        if (m_process.waitForFinished(100))
            return "dovecot stopped: " + m_process.readAll().toStdString()
                + readFile(dir + QStringLiteral("/dovecot.log"));
    }
    return "dovecot did not answer: " + readFile(dir + QStringLiteral("/dovecot.log"));
}
