#include <signal.h>

#include <string>
#include <vector>

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>

#include <gtest/gtest.h>

#include "LoopbackClient.h"
#include "SocketControl.h"
#include "clsEmailHandler.h"

namespace {

using Texts = std::vector<std::string>;

const QString Python = QStringLiteral("/usr/bin/python3");
const char* const User = "quellpost";
const char* const Password = "Sesame42";

bool aiosmtpdInstalled()
{
    QProcess check;
    check.start(Python, {QStringLiteral("-c"), QStringLiteral("import aiosmtpd")});
    return check.waitForFinished(30000) && check.exitStatus() == QProcess::NormalExit && check.exitCode() == 0;
}

// The server script, running for the test's lifetime; waited on with the event loop, since the
// client under test runs on this thread too.
class AiosmtpdServer {
public:
    AiosmtpdServer()
    {
        m_process.start(Python, {QStringLiteral(QP_AIOSMTPD_SCRIPT), QString::fromLatin1(User), QString::fromLatin1(Password)});
    }
    ~AiosmtpdServer()
    {
        if (m_process.state() != QProcess::NotRunning) {
            ::kill(pid_t(m_process.processId()), SIGTERM);
            m_process.waitForFinished(5000);
        }
    }

    // The port it listens on, 0 when it did not start.
    int WaitUntilReady()
    {
        const std::string line = NextLine(20000);
        return line.starts_with("READY ") ? std::stoi(line.substr(6)) : 0;
    }

    // The next message it received, as its JSON object; empty when none came in time.
    QJsonObject NextMessage() { return QJsonDocument::fromJson(QByteArray::fromStdString(NextLine(10000))).object(); }

    std::string ErrorOutput() { return m_process.readAllStandardError().toStdString(); }

private:
    std::string NextLine(int timeoutMs)
    {
        WaitFor([&] { return m_process.canReadLine() || m_process.state() == QProcess::NotRunning; }, timeoutMs);
        if (!m_process.canReadLine())
            return {};
        return m_process.readLine().trimmed().toStdString();
    }

    QProcess m_process;
};

} // namespace

TEST(Aiosmtpd, LogsInAndDeliversTheMessageIntact)
{
    if (!aiosmtpdInstalled())
        GTEST_SKIP() << "python3-aiosmtpd is not installed";
    AiosmtpdServer server;
    const int port = server.WaitUntilReady();
    ASSERT_NE(port, 0) << server.ErrorOutput();

    Texts failures;
    Texts statuses;
    int successes = 0;
    SocketControl socket;
    clsEmailHandler handler(socket);
    QObject::connect(&handler, &clsEmailHandler::SendFailed, [&](const std::string& text, bool) { failures.push_back(text); });
    QObject::connect(&handler, &clsEmailHandler::Status, [&](const std::string& text) { statuses.push_back(text); });
    QObject::connect(&handler, &clsEmailHandler::SendSuccesful, [&] { ++successes; });

    handler.SetSMTPHost("127.0.0.1");
    handler.SetSMTPPort(port);
    handler.SetConnectTimeout(5);
    handler.SetMessageTimeout(5);
    handler.SetUseAuthentication(true);
    handler.SetUsername(User);
    handler.SetPassword(Password);
    handler.SetFrom("sender@localhost");
    handler.SetFromDisplayName("S\xE9nder");
    handler.SetRecipient("one@localhost;two@localhost");
    handler.SetRecipientDisplayName("One");
    handler.SetCcRecipient("copy@localhost");
    handler.SetBccRecipient("blind@localhost");
    handler.SetReplyToAddress("reply@localhost");
    handler.SetSubject("Third-party check");
    handler.SetPriority(1);
    handler.SetReceipt(true);
    handler.SetMessage("First line\r\n.Leading dot\r\n\r\nCaf\xE9 au lait");
    handler.Send();

    ASSERT_EQ(successes, 1) << ::testing::PrintToString(failures) << ::testing::PrintToString(statuses);
    EXPECT_TRUE(failures.empty());
    EXPECT_NE(std::find(statuses.begin(), statuses.end(), "Host login OK!"), statuses.end());
    const QJsonObject message = server.NextMessage();
    EXPECT_EQ(message[QStringLiteral("login")].toString(), QString::fromLatin1(User));
    EXPECT_EQ(message[QStringLiteral("from")].toString(), QStringLiteral("sender@localhost"));
    EXPECT_EQ(message[QStringLiteral("to")].toArray(),
              QJsonArray({QStringLiteral("one@localhost"), QStringLiteral("two@localhost"),
                          QStringLiteral("copy@localhost"), QStringLiteral("blind@localhost")}));
    const std::string data = message[QStringLiteral("data")].toString().toLatin1().toStdString();
    const std::string header = data.substr(0, data.find("\r\n\r\n") + 2);
    for (const char* line : {"From: =?ISO-8859-1?B?U+luZGVy?= <sender@localhost>\r\n",
                             "To: \"One\" <one@localhost>, \r\n\t\"two@localhost\" <two@localhost>\r\n",
                             "Cc: \"copy@localhost\" <copy@localhost>\r\n", "Subject: Third-party check\r\n",
                             "Reply-to: <reply@localhost>\r\n", "MIME-Version: 1.0\r\n", "X-Priority: 1\r\n",
                             "X-MSMail-Priority: High\r\n", "X-Mailer: Quellpost1.0 (build 0)\r\n",
                             "Disposition-Notification-To: =?ISO-8859-1?B?U+luZGVy?= <sender@localhost>\r\n",
                             "Content-Type: text/plain;\r\n\tcharset=\"iso-8859-1\"\r\n",
                             "Content-Transfer-Encoding: 8bit\r\n"}) {
        EXPECT_NE(header.find(line), std::string::npos) << line << "\nin:\n" << header;
    }
    EXPECT_TRUE(header.starts_with("Message-ID: <")) << header;
    EXPECT_NE(header.find("\r\nDate: "), std::string::npos);
    EXPECT_EQ(header.find("blind@localhost"), std::string::npos);
    EXPECT_EQ(data.substr(header.size()), "\r\nFirst line\r\n.Leading dot\r\n\r\nCaf\xE9 au lait\r\n");

    // The wrong password: the server's refusal is the one failure report.
    failures.clear();
    statuses.clear();
    handler.SetPassword("Wrong");
    handler.Send();
    EXPECT_EQ(failures, (Texts{"535 5.7.8 Authentication credentials invalid\r\n"})) << ::testing::PrintToString(statuses);
    EXPECT_EQ(statuses.back(), "Host login failed!");
    EXPECT_EQ(successes, 1);
    EXPECT_EQ(socket.State(), SocketState::Closed);
}
