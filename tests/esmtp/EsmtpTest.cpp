#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>

#include "TestKit.h"
#include "LoopbackClient.h"
#include "RecordingHost.h"
#include "RecordingMessageBoxes.h"
#include "AppError.h"
#include "SmtpListener.h"
#include "TlsCredentials.h"
#include "clsEmailStorage.h"

namespace {

// A mail client as an application or a user runs it, and what the server must have kept of it.
struct Peer {
    const char* name;
    const char* command; // program and arguments; %port and %tlsport stand for the listening ports
    QByteArray input;    // written to its standard input
    std::string sender, recipient, body, authUser; // the message kept
};

class Esmtp : public ::testing::Test {
protected:
    void start(bool extensions)
    {
        listener.setExtensions(extensions);
        listener.setListenAddress(QHostAddress::LocalHost, 0);
        listener.setImplicitTlsAddress(QHostAddress::LocalHost, 0);
        listener.startListening();
        port = listener.listeningPort();
    }
    bool logged(const std::string& start) const
    {
        return std::any_of(host.lines.begin(), host.lines.end(), [&](auto& l) { return l.starts_with(start); });
    }

    RecordingMessageBoxes boxes;
    clsEmailStorage store;
    RecordingHost host;
    SmtpListener listener{store, host};
    int port = 0;
};

class Clients : public Esmtp, public ::testing::WithParamInterface<Peer> { };

TEST_P(Clients, DeliverOverTlsWithALogin)
{
    const Peer& peer = GetParam();
    start(true);
    QStringList arguments = QProcess::splitCommand(QString::fromLatin1(peer.command));
    // The system's own program first: Python's packages, for one, are installed for it.
    const QString name = arguments.takeFirst(), system = QStringLiteral("/usr/bin/") + name;
    const QString program = QFileInfo::exists(system) ? system : QStandardPaths::findExecutable(name);
    if (program.isEmpty())
        GTEST_SKIP() << name.toStdString() << " is not installed";
    if (arguments.front() == QStringLiteral("send.js")
        && !QFileInfo::exists(QStringLiteral(QP_NODEMAILER_DIR "/node_modules/nodemailer")))
        GTEST_SKIP() << "Nodemailer is not installed (npm ci in " QP_NODEMAILER_DIR ")";
    arguments.replaceInStrings(QStringLiteral("%tlsport"), QString::number(listener.implicitTlsPort()));
    arguments.replaceInStrings(QStringLiteral("%port"), QString::number(port));

    QProcess process;
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.setWorkingDirectory(QStringLiteral(QP_NODEMAILER_DIR));
    process.start(program, arguments);
    process.write(peer.input);
    process.closeWriteChannel();
    ASSERT_TRUE(waitFor([&] { return process.state() == QProcess::NotRunning; }, 60000));
    const std::string output = process.readAll().toStdString();
    EXPECT_EQ(process.exitCode(), 0) << output;
    ASSERT_EQ(store.Count(), 1) << output;
    EXPECT_EQ(store.EmailFrom(1), peer.sender);
    EXPECT_EQ(store.EmailTo(1), peer.recipient);
    EXPECT_NE(store.EmailBody(1).find(peer.body), std::string::npos) << store.EmailBody(1);
    EXPECT_EQ(store.emailAuthUser(1), peer.authUser);
    EXPECT_EQ(logged("SMTPServer::Auth, index 1: Logged in as " + peer.authUser + " ("), !peer.authUser.empty());
    EXPECT_TRUE(boxes.boxes().empty());
}

#define SWAKS                                                                                                          \
    " --server 127.0.0.1 --from s@example.org --to r@example.org --body \"Body from swaks\""                           \
    " --auth-user swaks-user --auth-password pw"
#define CURL " -sSk --mail-from c@example.net --mail-rcpt d@example.net --user curl-user:pw -T -"
const QByteArray CurlMessage = "Subject: from curl\r\n\r\nBody from curl\r\n";
const QByteArray Dialogue = "EHLO s-client\r\nMAIL FROM:<o@example.com> BODY=8BITMIME SIZE=100\r\n"
                            "RCPT TO:<p@example.com>\r\nDATA\r\nSubject: s_client\r\n\r\nBody from s_client\r\n.\r\n";
const char* const Smtplib
    = "python3 -c \"import smtplib, sys; s = smtplib.SMTP('127.0.0.1', int(sys.argv[1]), timeout=20); s.starttls(); "
      "s.login('py-user', 'pw'); s.sendmail('a@example.com', ['b@example.com'], "
      "'Subject: smtplib\\r\\n\\r\\nH\\u00e9llo\\r\\n'.encode()); s.quit()\" %port";
// Django's settings as the README gives them.
const char* const Django
    = "python3 -c \"import django, sys; from django.conf import settings; settings.configure(EMAIL_HOST='127.0.0.1', "
      "EMAIL_PORT=int(sys.argv[1]), EMAIL_HOST_USER='django-app', EMAIL_HOST_PASSWORD='secret', EMAIL_USE_TLS=True); "
      "django.setup(); from django.core.mail import send_mail; "
      "send_mail('from Django', 'Body from Django', 'web@example.com', ['dj@example.com'])\" %port";
const char* const SwaksBody = "\r\n\r\nBody from swaks\r\n";

// clang-format off
INSTANTIATE_TEST_SUITE_P(Peers, Clients, ::testing::Values(
    Peer{"SwaksStartTlsPlainPipelined", "swaks --port %port --tls --auth PLAIN --pipeline" SWAKS, {},
         "<s@example.org>", "<r@example.org>", SwaksBody, "swaks-user"},
    Peer{"SwaksImplicitTlsLogin", "swaks --port %tlsport --tls-on-connect --auth LOGIN" SWAKS, {},
         "<s@example.org>", "<r@example.org>", SwaksBody, "swaks-user"},
    Peer{"CurlSslReqdCramMd5", "curl --ssl-reqd smtp://127.0.0.1:%port" CURL, CurlMessage,
         "<c@example.net>", "<d@example.net>", CurlMessage.toStdString(), "curl-user"},
    Peer{"PythonSmtplibStartTlsLogin", Smtplib, {}, "<a@example.com>", "<b@example.com>",
         "Subject: smtplib\r\n\r\nH\xc3\xa9llo\r\n", "py-user"},
    Peer{"OpenSslStartTls", "openssl s_client -quiet -no_ign_eof -starttls smtp -connect 127.0.0.1:%port",
         Dialogue, "<o@example.com>", "<p@example.com>", "Body from s_client\r\n", ""},
    Peer{"Django", Django, {}, "<web@example.com>", "<dj@example.com>", "Body from Django", "django-app"},
    Peer{"Nodemailer", "node send.js %port", {},
         "<app@example.com>", "<user@example.com>", "Body from Nodemailer", "node-app"}),
    [](const auto& paramInfo) { return std::string(paramInfo.param.name); });
// clang-format on

// The user's own certificate is the one clients see; a key of another certificate is refused.
TEST_F(Esmtp, ShowsTheUsersCertificate)
{
    QTemporaryDir dir;
    const auto makeCertificate = [&](const QString& name) {
        QProcess openssl;
        openssl.start(QStringLiteral("openssl"),
                      {"req", "-x509", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:P-256", "-nodes", "-days", "1",
                       "-subj", "/CN=" + name, "-keyout", dir.filePath(name + ".key"), "-out",
                       dir.filePath(name + ".pem")});
        return openssl.waitForFinished(30000) && openssl.exitCode() == 0;
    };
    if (!makeCertificate(QStringLiteral("mail.test")) || !makeCertificate(QStringLiteral("other.test")))
        GTEST_SKIP() << "openssl cannot make certificates here";
    EXPECT_THROW(TlsCredentials::fromFiles(dir.filePath("mail.test.pem"), dir.filePath("other.test.key")), AppError);
    EXPECT_THROW(TlsCredentials::fromFiles(dir.filePath("missing.pem"), dir.filePath("mail.test.key")), AppError);
    listener.setTlsConfiguration(
        TlsCredentials::fromFiles(dir.filePath("mail.test.pem"), dir.filePath("mail.test.key")));
    start(true);

    QProcess client;
    client.setProcessChannelMode(QProcess::MergedChannels);
    client.start(QStringLiteral("openssl"),
                 {"s_client", "-starttls", "smtp", "-no_ign_eof", "-connect", "127.0.0.1:" + QString::number(port)});
    client.closeWriteChannel();
    ASSERT_TRUE(waitFor([&] { return client.state() == QProcess::NotRunning; }, 30000));
    EXPECT_TRUE(client.readAll().contains("subject=CN = mail.test"));
    EXPECT_FALSE(logged("TLS certificate generated"));
}

// What a client sends, then the first line it must get back ("": the server closes and logs why).
struct Step {
    std::string send;
    std::string reply;
};
struct Script {
    const char* name;
    bool extensions;
    bool implicitTls;
    std::vector<Step> steps;
};

class Dialogues : public Esmtp, public ::testing::WithParamInterface<Script> { };

TEST_P(Dialogues, AnswerInOrderAndEndOnlyTheirOwnConnection)
{
    const Script& script = GetParam();
    start(script.extensions);
    LoopbackClient client;
    ASSERT_TRUE(client.Connect(script.implicitTls ? listener.implicitTlsPort() : port));
    if (!script.implicitTls) {
        ASSERT_EQ(client.readLine(), "220 Quellpost");
    }
    std::size_t peakBuffered = 0;
    for (const Step& step : script.steps) {
        SCOPED_TRACE(step.send.substr(0, 40));
        // Sent in slices, as a flood arrives: what the server holds of it must stay small.
        for (std::size_t at = 0; at < step.send.size(); at += 64 * 1024) {
            client.Send(std::string_view(step.send).substr(at, 64 * 1024));
            QCoreApplication::processEvents();
            peakBuffered = std::max(peakBuffered, listener.bufferedBytes());
        }
        if (step.reply.empty()) {
            EXPECT_TRUE(client.waitForClose());
            EXPECT_TRUE(logged("SMTPServer::TlsError, index 1: TLS failed, connection closed: "));
            EXPECT_EQ(client.readLine(100), "") << "text behind STARTTLS was answered in the clear";
            EXPECT_TRUE(waitFor([&] { return listener.connectionCount() == 0; }));
            continue;
        }
        std::string line = client.readLine();
        while (line.starts_with("250-"))
            line = client.readLine();
        EXPECT_EQ(line, step.reply);
    }
    EXPECT_LT(peakBuffered, 16u * 1024);
    EXPECT_TRUE(boxes.boxes().empty());
}

const std::string Flood(1024 * 1024, 'A');

// clang-format off
INSTANTIATE_TEST_SUITE_P(Scripts, Dialogues, ::testing::Values(
    Script{"PlainTextIntoTheTlsPort", true, true, {{"EHLO plain\r\n", ""}}},
    Script{"GarbageAfterStartTls", true, false, {
        {"EHLO x\r\n", "250 AUTH PLAIN LOGIN CRAM-MD5"},
        {"STARTTLS\r\nNOOP\r\n", "220 2.0.0 Ready to start TLS"},
        {"not a handshake\r\n", ""}}},
    Script{"AbsurdAuthData", true, false, {
        {"AUTH PLAIN\r\n", "334 "},
        {Flood + "\r\n", "500 Line too long"},
        {"NOOP\r\n", "250 OK"},
        {"AUTH LOGIN\r\n", "334 VXNlcm5hbWU6"},
        {"*\r\n", "501 5.7.0 Authentication cancelled"},
        {"AUTH PLAIN not-base64\r\n", "501 5.5.2 Cannot decode response"},
        {"AUTH XOAUTH2\r\n", "504 5.5.4 Unrecognized authentication type"}}},
    Script{"DeclaredSize", true, false, {
        {"MAIL FROM:<a@example.com> SIZE=67108865\r\n", "552 5.3.4 Message size exceeds fixed maximum message size"},
        {"MAIL FROM:<a@example.com> SIZE=67108864 BODY=8BITMIME SMTPUTF8\r\n", "250 OK"}}},
    // With the option off the server answers as it always has: no TLS, no login offered.
    Script{"OffAsAlways", false, false, {
        {"EHLO x\r\n", "500 "},
        {"AUTH PLAIN AGFsaWNlAHB3\r\n", "500 "},
        {"STARTTLS\r\n", "500 "},
        {"HELO x\r\n", "250 OK"}}}),
    [](const auto& paramInfo) { return std::string(paramInfo.param.name); });
// clang-format on

} // namespace
