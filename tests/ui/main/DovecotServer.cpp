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

bool writeFile(const QString& path, const std::string& text)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(text.data(), qint64(text.size())) == qint64(text.size());
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
    m_process.terminate();
    if (!m_process.waitForFinished(StopTimeoutMs))
        m_process.kill();
    m_process.waitForFinished(StopTimeoutMs);
}

std::string DovecotServer::start(const std::string& user, const std::string& password)
{
    const QString program = QStandardPaths::findExecutable(
        QStringLiteral("dovecot"),
        {QStringLiteral("/usr/sbin"), QStringLiteral("/usr/local/sbin"), QStringLiteral("/usr/bin")});
    if (program.isEmpty())
        return "dovecot is not installed (Debian package dovecot-pop3d)";
    if (!m_dir.isValid())
        return "no temporary folder";

    // Dovecot runs its login and mail processes as unprivileged users: as root, the users its
    // package made; otherwise everything as the user running the test.
    const bool root = geteuid() == 0;
    const passwd* mailUser = root ? getpwnam("dovecot") : getpwuid(geteuid());
    if (!mailUser || (root && !getpwnam("dovenull")))
        return root ? "the users dovecot and dovenull are missing (Debian package dovecot-core)"
                    : "the current user has no name";
    const std::string loginUser = root ? "dovenull" : mailUser->pw_name;
    const std::string internalUser = root ? "dovecot" : mailUser->pw_name;

    const QString dir = m_dir.path();
    const QString mail = dir + QStringLiteral("/mail");
    // The mail processes run as another user and must reach the folder.
    QFile::setPermissions(dir,
                          QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner | QFile::ReadGroup | QFile::ExeGroup
                              | QFile::ReadOther | QFile::ExeOther);
    if (!QDir().mkpath(mail) || chown(QFile::encodeName(mail).constData(), mailUser->pw_uid, mailUser->pw_gid) != 0)
        return "cannot prepare the mail folder";

    QTcpServer probe;
    m_port = probe.listen(QHostAddress::LocalHost, 0) ? probe.serverPort() : 0;
    probe.close();
    const QString config
        = QStringLiteral(R"(base_dir = %1/run
state_dir = %1/run
log_path = %1/dovecot.log
protocols = pop3
listen = 127.0.0.1
ssl = no
disable_plaintext_auth = no
auth_failure_delay = 0
auth_username_format = %u
default_login_user = %2
default_internal_user = %3
first_valid_uid = 1
passdb {
  driver = passwd-file
  args = scheme=PLAIN %1/passwd
}
userdb {
  driver = static
  args = uid=%4 gid=%5 home=%1/mail/%u
}
mail_location = maildir:%1/mail/%u
service pop3-login {
  chroot =
  inet_listener pop3 {
    port = %6
  }
}
service anvil {
  chroot =
}
)")
              .arg(dir, QString::fromStdString(loginUser), QString::fromStdString(internalUser),
                   QString::number(mailUser->pw_uid), QString::number(mailUser->pw_gid), QString::number(m_port));
    if (!writeFile(dir + QStringLiteral("/dovecot.conf"), config.toStdString())
        || !writeFile(dir + QStringLiteral("/passwd"), user + ":{PLAIN}" + password + "\n"))
        return "cannot write the configuration";

    m_process.setProcessChannelMode(QProcess::MergedChannels);
    m_process.start(program, {QStringLiteral("-F"), QStringLiteral("-c"), dir + QStringLiteral("/dovecot.conf")});
    if (!m_process.waitForStarted())
        return "dovecot did not start: " + m_process.errorString().toStdString();
    QFile log(dir + QStringLiteral("/dovecot.log"));
    for (QDeadlineTimer deadline(StartTimeoutMs); !deadline.hasExpired();) {
        if (greets(m_port))
            return {};
        if (m_process.waitForFinished(100))
            break;
    }
    return "dovecot did not answer: " + m_process.readAll().toStdString()
        + (log.open(QIODevice::ReadOnly) ? log.readAll().toStdString() : std::string());
}
