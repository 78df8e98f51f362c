#include <map>
#include <regex>

#include <QHostAddress>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QObject>
#include <QPointer>
#include <QProcess>
#include <QScopeGuard>
#include <QTcpServer>
#include <QTcpSocket>

#include "TestKit.h"
#include "Latin1Text.h"
#include "LoopbackClient.h"
#include "SocketControl.h"
#include "clsEmailHandler.h"

namespace {

using ReplyTable = std::map<std::string, std::string>;

// A loopback server on the test's thread: greets, records each line received, writes what the script answers.
class ScriptedServer {
public:
    ScriptedServer(std::string greeting, std::function<std::string(const std::string&)> script)
    {
        QObject::connect(&m_server, &QTcpServer::newConnection, &m_server, [this, greeting, script] {
            while (QTcpSocket* socket = m_server.nextPendingConnection()) {
                ++m_connections;
                m_peer = socket;
                QObject::connect(socket, &QTcpSocket::readyRead, socket,
                                 [this, socket, script, buffer = std::string()]() mutable {
                                     buffer += socket->readAll().toStdString();
                                     for (std::size_t end; (end = buffer.find("\r\n")) != std::string::npos;
                                          buffer.erase(0, end + 2)) {
                                         m_lines.push_back(buffer.substr(0, end));
                                         socket->write(QByteArray::fromStdString(script(m_lines.back())));
                                     }
                                 });
                QObject::connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
                write(greeting);
            }
        });
        m_server.listen(QHostAddress::LocalHost, 0);
    }

    int port() const { return m_server.serverPort(); }
    const Texts& lines() const { return m_lines; }
    int connections() const { return m_connections; }
    // Writes to, or hangs up, the connection of the moment.
    void write(const std::string& bytes) { m_peer->write(bytes.data(), qint64(bytes.size())); }
    void hangup() { m_peer->disconnectFromHost(); }

private:
    QTcpServer m_server; // owns the connections
    QPointer<QTcpSocket> m_peer;
    Texts m_lines;
    int m_connections = 0;
};

// The reply to a line by the line itself, else by its command word, else otherwise; "" answers nothing.
std::string replyFor(const ReplyTable& replies, const std::string& line, const std::string& otherwise)
{
    auto it = replies.find(line);
    if (it == replies.end())
        it = replies.find(upperCase(line.substr(0, line.find(' '))));
    return it != replies.end() ? it->second : otherwise;
}

// 250 to all, 354 to DATA, 221 to QUIT unless Replies say otherwise; messages kept with CR LF and dots as sent.
struct SmtpScript {
    std::string operator()(const std::string& line)
    {
        if (inData && line != ".") {
            data += line + "\r\n";
            return {};
        }
        if (std::exchange(inData, false)) {
            messages.push_back(std::exchange(data, {}));
            return replyFor(replies, line, "250 Queued\r\n");
        }
        const std::string word = upperCase(line.substr(0, line.find(' ')));
        const std::string reply = replyFor(replies, line,
                                           word == "DATA"       ? "354 Go ahead\r\n"
                                               : word == "QUIT" ? "221 Bye\r\n"
                                                                : "250 OK\r\n");
        inData = word == "DATA" && reply.starts_with("354");
        return reply;
    }

    ReplyTable replies;
    Texts messages;
    bool inData = false;
    std::string data;
};

// Every event of the client in order: "Status: ", "Ext: ", "Failed: " ("Failed+: " if more follow), "Success".
struct Recorder {
    explicit Recorder(clsEmailHandler& handler)
    {
        const auto record = [this](std::string prefix) {
            return [this, prefix](const std::string& text) { events.push_back(prefix + text); };
        };
        QObject::connect(&handler, &clsEmailHandler::Status, &context, record("Status: "));
        QObject::connect(&handler, &clsEmailHandler::ExtendedStatus, &context, record("Ext: "));
        QObject::connect(&handler, &clsEmailHandler::SendFailed, &context, [this](const std::string& text, bool more) {
            events.push_back((more ? "Failed+: " : "Failed: ") + text);
        });
        QObject::connect(&handler, &clsEmailHandler::Progress, &context,
                         [this](long percent) { events.push_back("Progress: " + std::to_string(percent)); });
        QObject::connect(&handler, &clsEmailHandler::SendSuccesful, &context, [this] { events.push_back("Success"); });
    }

    // The events whose text starts with prefix, prefix removed (kept for the failures).
    Texts only(const std::string& prefix) const
    {
        Texts texts;
        for (const std::string& event : events)
            if (event.starts_with(prefix))
                texts.push_back(prefix == "Failed" ? event : event.substr(prefix.size()));
        return texts;
    }
    Texts statuses() const { return only("Status: "); }
    Texts failures() const { return only("Failed"); }
    long Count(const std::string& event) const { return std::ranges::count(events, event); }
    bool succeeded() const { return Count("Success") == 1 && events.back() == "Success"; }

    Texts events;
    QObject context;
};

// The message text with its generated lines checked against their layouts and masked.
std::string masked(const std::string& text)
{
    static const std::regex generated(
        R"((^|\n)(Message-ID: )<\d{17}\.[A-Za-z0-8]{20}@127\.0\.0\.1>\r|(^|\n)(Date: )(Sun|Mon|Tue|Wed|Thu|Fri|Sat), )"
        R"(\d{1,2} (Jan|Feb|Mar|Apr|May|Jun|Jul|Aug|Sep|Oct|Nov|Dec) \d{4} \d\d:\d\d:\d\d [+-]\d{4}\r)");
    return std::regex_replace(text, generated, "$1$2$3$4*\r");
}

// A message with every optional header line and an 8-bit sender name.
void composeFullMessage(clsEmailHandler& handler)
{
    handler.setFromDisplayName("S\xE9nder");
    handler.setRecipient("a@localhost;b@localhost");
    handler.setRecipientDisplayName("\xC4nn");
    handler.setCcRecipient("c@localhost");
    handler.setBccRecipient("d@localhost");
    handler.setReplyToAddress("r@localhost");
    handler.setPriority(1);
    handler.setReceipt(true);
    handler.setMessage("Line one\r\n.dot line\r\n\r\nCaf\xE9");
}

// What composeFullMessage sends up to the body; the Bcc recipient is in the envelope only.
const std::string FullMessageHeader
    = "Message-ID: *\r\nFrom: =?ISO-8859-1?B?U+luZGVy?= <me@localhost>\r\n"
      "To: =?ISO-8859-1?B?xG5u?= <a@localhost>, \r\n\t\"b@localhost\" <b@localhost>\r\nCc: \"c@localhost\" "
      "<c@localhost>\r\n"
      "Subject: Hi\r\nReply-to: <r@localhost>\r\nDate: *\r\nMIME-Version: 1.0\r\nX-Priority: 1\r\n"
      "X-MSMail-Priority: High\r\nX-Mailer: Quellpost1.0 (build 0)\r\n"
      "Disposition-Notification-To: =?ISO-8859-1?B?U+luZGVy?= <me@localhost>\r\n"
      "Content-Type: text/plain;\r\n\tcharset=\"iso-8859-1\"\r\nContent-Transfer-Encoding: 8bit\r\n\r\n";

class Driver : public ::testing::Test {
protected:
    Driver()
    {
        handler.setSMTPHost("127.0.0.1");
        handler.setFrom("me@localhost");
        handler.setRecipient("you@localhost");
        handler.setSubject("Hi");
        handler.setMessage("Hello");
        handler.setConnectTimeout(5);
        handler.setMessageTimeout(5);
        handler.setSMTPPort(server.port());
    }

    // A server answering as the script says; tests set its replies before they send.
    SmtpScript smtp;
    ScriptedServer server{"220 fake ESMTP\r\n", std::ref(smtp)};
    SocketControl socket;
    clsEmailHandler handler{socket};
    Recorder events{handler};
};

} // namespace

TEST_F(Driver, AReplyCutInPiecesIsOneReply)
{
    // The greeting and the HELO reply each in two pieces, the second once the client has the first.
    std::string pending = "0 fake\r\n";
    ScriptedServer cut("22", [&](const std::string& line) {
        if (!line.starts_with("HELO"))
            return smtp(line);
        pending = "250 OK\r\n";
        return std::string("250-fake\r\n");
    });
    int pieces = 0;
    QObject::connect(&socket, &SocketControl::DataArrival, &events.context, [&](long) {
        if (!pending.empty()) {
            ++pieces;
            cut.write(std::exchange(pending, {}));
        }
    });
    handler.setSMTPPort(cut.port());
    handler.Send();

    EXPECT_EQ(pieces, 2);
    EXPECT_TRUE(events.succeeded()) << ::testing::PrintToString(events.events);
    const Texts received = events.only("Ext: << ");
    ASSERT_GE(received.size(), 2u);
    EXPECT_EQ(Texts(received.begin(), received.begin() + 2), (Texts{"220 fake\r\n", "250-fake\r\n250 OK\r\n"}));
    EXPECT_EQ(smtp.messages.size(), 1u);
}

TEST_F(Driver, NegativeRepliesEndTheSendEachReportedOnce)
{
    struct Case {
        const char* name;
        bool login;
        ReplyTable replies;
        Texts sent; // none: not checked
        Texts failures;
        std::string lastStatus = "Closing connection to server...";
    } cases[] = {
        {"refused recipient",
         false,
         {{"RCPT", "550 No such user\r\n"}},
         {"HELO localhost", "MAIL FROM: <me@localhost>", "RCPT TO: <you@localhost>", "QUIT"},
         {"Failed: 550 No such user\r\n"}},
        // The second refusal is taken while the report of the first closes the connection.
        {"two refusals at once",
         false,
         {{"RCPT", "550 No such user\r\n554 Nor anyone else\r\n"}},
         {},
         {"Failed: 550 No such user\r\n", "Failed: 554 Nor anyone else\r\n"}},
        // Reported while the client looks for AUTH LOGIN: no missing offer, no going on without a login.
        {"refusal behind the EHLO reply",
         true,
         {{"EHLO", "250 fake\r\n421 Closing down\r\n"}},
         {"EHLO localhost", "QUIT"},
         {"Failed: 421 Closing down\r\n"}},
        // Left open, the unanswered login's connection would carry the next Send unauthenticated.
        {"login unanswered",
         true,
         {{"EHLO", "250-fake\r\n250 AUTH LOGIN\r\n"}, {"AUTH", ""}},
         {"EHLO localhost", "AUTH LOGIN", "QUIT"},
         {"Failed: Timeout occurred: The SMTP host did not respond to the request"}},
        // A POP3 answer at the SMTP port is no reason to send a user name there.
        {"POP3 answer from an SMTP server",
         false,
         {{"HELO", "+OK\r\n"}},
         {"HELO localhost", "QUIT"},
         {"Failed: +OK\r\n"}},
        // A prompt for neither the name nor the password ("Your name?") is cancelled with "*".
        {"login prompt asking for neither",
         true,
         {{"EHLO", "250-fake\r\n250 AUTH LOGIN\r\n"},
          {"AUTH", "334 WW91ciBuYW1lPw==\r\n"},
          {"", ""},
          {"*", "501 Authentication cancelled\r\n"}},
         {"EHLO localhost", "AUTH LOGIN", "", "*", "QUIT"},
         {"Failed: 501 Authentication cancelled\r\n"},
         "Host login failed!"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        events.events.clear();
        const std::size_t before = server.lines().size();
        smtp.replies = c.replies;
        handler.setUseAuthentication(c.login);
        handler.Send();
        const Texts sent(server.lines().begin() + static_cast<std::ptrdiff_t>(before), server.lines().end());
        EXPECT_TRUE(c.sent.empty() || sent == c.sent) << ::testing::PrintToString(sent);
        EXPECT_EQ(events.failures(), c.failures) << ::testing::PrintToString(events.events);
        EXPECT_EQ(events.statuses().back(), c.lastStatus);
        EXPECT_EQ(events.Count("Status: Login not supported by host, continuing..."), 0);
        EXPECT_EQ(events.Count("Success"), 0);
        EXPECT_EQ(socket.State(), SocketState::Closed);
    }
    EXPECT_EQ(events.Count("Ext: >> \r\n*"), 1);
    EXPECT_TRUE(smtp.messages.empty());
}

TEST_F(Driver, SilentServerTimesOut)
{
    smtp.replies = {{"MAIL", ""}};
    handler.setMessageTimeout(1);
    handler.Send();
    EXPECT_EQ(events.failures(), (Texts{"Failed: Timeout occurred: The SMTP host did not respond to the request"}));
    EXPECT_EQ(server.connections(), 1);
    EXPECT_EQ(socket.State(), SocketState::Closed);
}

TEST_F(Driver, SettingErrorsAreReportedBeforeAnyConnection)
{
    handler.setSMTPPort(0);
    handler.setFrom("");
    handler.setRecipient("");
    handler.Send();
    EXPECT_EQ(events.events,
              (Texts{"Failed+: Invalid remote port", "Failed+: Missing or invalid sender Email address",
                     "Failed: No Recipient E-mail address specified"}));
    events.events.clear();
    handler.setRecipient("a@localhost;b@localhost");
    handler.setMaxRecipients(1);
    handler.Send();
    EXPECT_EQ(events.failures(),
              (Texts{"Failed+: Missing or invalid sender Email address", "Failed: Too many recipients"}));

    EXPECT_EQ(server.connections(), 0);
}

TEST_F(Driver, KeptConnectionCarriesSeveralMessages)
{
    ASSERT_TRUE(handler.Connect());
    handler.Send();
    handler.Send();
    EXPECT_EQ(events.Count("Success"), 2);
    EXPECT_EQ(smtp.messages.size(), 2u);
    EXPECT_EQ(server.connections(), 1);
    EXPECT_NE(server.lines().back(), "QUIT");
    EXPECT_EQ(socket.State(), SocketState::Connected);

    handler.Disconnect();
    EXPECT_EQ(server.lines().back(), "QUIT");
    EXPECT_EQ(socket.State(), SocketState::Closed);
    EXPECT_EQ(events.statuses().back(), "Closing connection to server...");

    // A kept connection that the server ends is opened afresh by the next Send.
    ASSERT_TRUE(handler.Connect());
    server.hangup();
    ASSERT_TRUE(waitFor([&] { return socket.State() == SocketState::Closed; }, 5000));
    handler.Send();
    EXPECT_EQ(server.connections(), 3);
    EXPECT_EQ(smtp.messages.size(), 3u);
}

TEST_F(Driver, NestedSendIsRefused)
{
    QObject::connect(&handler, &clsEmailHandler::Status, &events.context, [&](const std::string& status) {
        if (status == "Sending message to server...")
            handler.Send();
    });
    handler.Send();
    EXPECT_TRUE(events.succeeded()) << ::testing::PrintToString(events.events);
    EXPECT_TRUE(events.failures().empty());
    EXPECT_EQ(std::ranges::count(server.lines(), "MAIL FROM: <me@localhost>"), 1);
    EXPECT_EQ(smtp.messages.size(), 1u);
}

class Pop3BeforeSmtp : public Driver {
protected:
    Pop3BeforeSmtp()
    {
        handler.setUsePopAuthentication(true);
        handler.setPOP3Host("127.0.0.1");
        handler.setUsername("user");
        handler.setPassword("secret");
        handler.setPop3Port(pop3.port());
    }

    // How the server ends the dialogue after QUIT: real servers answer and close at once.
    enum class QuitEnd { AnswerAndClose, CloseUnanswered, AnswerOnly, Nothing };

    std::string pop3Reply(const std::string& line)
    {
        if (line != "QUIT")
            return replyFor(pop3Replies, line, "+OK\r\n");
        if (quitEnd == QuitEnd::AnswerAndClose || quitEnd == QuitEnd::AnswerOnly)
            pop3.write("+OK bye\r\n");
        if (quitEnd == QuitEnd::AnswerAndClose || quitEnd == QuitEnd::CloseUnanswered)
            pop3.hangup();
        return {};
    }

    ReplyTable pop3Replies;
    QuitEnd quitEnd = QuitEnd::AnswerAndClose;
    ScriptedServer pop3{"+OK POP3 ready\r\n", [this](const std::string& line) { return pop3Reply(line); }};
};

TEST_F(Pop3BeforeSmtp, LogsInThenSendsHoweverTheServerEndsIt)
{
    for (QuitEnd end : {QuitEnd::AnswerAndClose, QuitEnd::CloseUnanswered, QuitEnd::AnswerOnly, QuitEnd::Nothing}) {
        SCOPED_TRACE(int(end));
        quitEnd = end;
        events.events.clear();
        handler.Send();
        EXPECT_TRUE(events.succeeded()) << ::testing::PrintToString(events.events);
        EXPECT_EQ(events.statuses().at(1), "POP3 authentication successful...");
        EXPECT_EQ(events.Count("Ext: >> PASS {password...}"), 1);
        for (const std::string& event : events.events)
            EXPECT_EQ(event.find("secret"), std::string::npos) << event;
    }
    EXPECT_EQ(pop3.connections(), 4);
    EXPECT_EQ(std::ranges::count(pop3.lines(), "PASS secret"), 4);
    EXPECT_EQ(smtp.messages.size(), 4u);
}

// A refused password is the self-test's, against a real server.
TEST_F(Pop3BeforeSmtp, FailuresStopEverything)
{
    pop3Replies = {{"USER", ""}};
    handler.setConnectTimeout(1);
    handler.Send();
    EXPECT_EQ(events.failures(), (Texts{"Failed: Timeout occurred: The POP3 host did not respond to the request"}));
    EXPECT_EQ(events.statuses(), (Texts{"Connecting to POP3 Server (127.0.0.1)..."}));
    EXPECT_EQ(socket.State(), SocketState::Closed);

    // A server that hangs up before the login is through.
    events.events.clear();
    pop3Replies = {{"USER", ""}};
    QObject::connect(&handler, &clsEmailHandler::ExtendedStatus, &events.context, [this](const std::string& text) {
        if (text == ">> USER {username...}")
            pop3.hangup();
    });
    handler.Send();
    EXPECT_EQ(events.failures(), (Texts{"Failed: The POP3 host closed the connection before the login was complete"}));
    EXPECT_EQ(events.statuses(), (Texts{"Connecting to POP3 Server (127.0.0.1)..."}));

    EXPECT_EQ(pop3.connections(), 2);
    EXPECT_EQ(server.connections(), 0);
}

// A real third-party server, run from Python for the test's lifetime; it undoes the dot-stuffing.
TEST_F(Driver, AiosmtpdAcceptsTheLoginAndTheMessageIntact)
{
    const char* const user = "quellpost";
    const char* const password = "Sesame42";
    QProcess python;
    python.start(QStringLiteral("/usr/bin/python3"),
                 {QStringLiteral(QP_AIOSMTPD_SCRIPT), QString::fromLatin1(user), QString::fromLatin1(password)});
    // Read with the event loop turning: the client under test runs on this thread too.
    const auto nextLine = [&](int timeoutMs) {
        waitFor([&] { return python.canReadLine() || python.state() == QProcess::NotRunning; }, timeoutMs);
        return python.canReadLine() ? python.readLine().trimmed().toStdString() : std::string();
    };
    const auto stop = qScopeGuard([&] {
        python.terminate();
        python.waitForFinished(5000);
    });
    const std::string ready = nextLine(20000);
    if (!ready.starts_with("READY ")) {
        const std::string errors = python.readAllStandardError().toStdString();
        if (python.error() == QProcess::FailedToStart || errors.find("No module named 'aiosmtpd'") != std::string::npos)
            GTEST_SKIP() << "python3 with aiosmtpd is not installed";
        FAIL() << errors;
    }

    handler.setSMTPPort(std::stoi(ready.substr(6)));
    handler.setUseAuthentication(true);
    handler.setUsername(user);
    handler.setPassword(password);
    composeFullMessage(handler);
    handler.Send();

    ASSERT_TRUE(events.succeeded()) << ::testing::PrintToString(events.events);
    // The narration shows every line sent but the credentials and the message text.
    const Texts narrated = events.only("Ext: >> ");
    for (const char* hidden : {"{username...}", "{password...}", "{message text...}", "Subject: Hi"})
        EXPECT_EQ(std::ranges::count(narrated, hidden), 1) << hidden;
    for (const std::string& event : events.events)
        for (const char* secret : {"cXVlbGxwb3N0", "U2VzYW1lNDI=", password, "Line one"})
            EXPECT_EQ(event.find(secret), std::string::npos) << event;

    const QJsonObject message = QJsonDocument::fromJson(QByteArray::fromStdString(nextLine(10000))).object();
    EXPECT_EQ(message[QStringLiteral("login")].toString(), QString::fromLatin1(user));
    EXPECT_EQ(message[QStringLiteral("from")].toString(), QStringLiteral("me@localhost"));
    EXPECT_EQ(message[QStringLiteral("to")].toArray(),
              QJsonArray({QStringLiteral("a@localhost"), QStringLiteral("b@localhost"), QStringLiteral("c@localhost"),
                          QStringLiteral("d@localhost")}));
    EXPECT_EQ(masked(message[QStringLiteral("data")].toString().toLatin1().toStdString()),
              FullMessageHeader + "Line one\r\n.dot line\r\n\r\nCaf\xE9\r\n");

    // The wrong password: the server's refusal is the one failure report.
    events.events.clear();
    handler.setPassword("Wrong");
    handler.Send();
    EXPECT_EQ(events.failures(), (Texts{"Failed: 535 5.7.8 Authentication credentials invalid\r\n"}))
        << ::testing::PrintToString(events.events);
    EXPECT_EQ(events.statuses().back(), "Host login failed!");
    EXPECT_EQ(events.Count("Success"), 0);
    EXPECT_EQ(socket.State(), SocketState::Closed);
}
