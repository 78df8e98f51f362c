#include <algorithm>
#include <functional>
#include <regex>
#include <string>
#include <utility>
#include <vector>

#include <QObject>
#include <QTcpServer>

#include <gtest/gtest.h>

#include "LoopbackClient.h"
#include "ScriptedServer.h"
#include "SocketControl.h"
#include "clsEmailHandler.h"

namespace {

using Texts = std::vector<std::string>;

const std::string SmtpTimeout = "Timeout occurred: The SMTP host did not respond to the request";
const std::string Pop3Timeout = "Timeout occurred: The POP3 host did not respond to the request";
const std::string Greeting = "220 fake ESMTP\r\n";

// Every event of the client in order: "Status: ", "Ext: ", "Failed: " (or "Failed+: " when more
// follow), "Progress: ", "Success".
class Recorder {
public:
    explicit Recorder(clsEmailHandler& handler)
    {
        QObject::connect(&handler, &clsEmailHandler::Status, &m_context,
                         [this](const std::string& text) { Events.push_back("Status: " + text); });
        QObject::connect(&handler, &clsEmailHandler::ExtendedStatus, &m_context,
                         [this](const std::string& text) { Events.push_back("Ext: " + text); });
        QObject::connect(&handler, &clsEmailHandler::SendFailed, &m_context,
                         [this](const std::string& text, bool following) {
                             Events.push_back((following ? "Failed+: " : "Failed: ") + text);
                         });
        QObject::connect(&handler, &clsEmailHandler::Progress, &m_context,
                         [this](long percent) { Events.push_back("Progress: " + std::to_string(percent)); });
        QObject::connect(&handler, &clsEmailHandler::SendSuccesful, &m_context,
                         [this] { Events.push_back("Success"); });
    }

    // The events whose text starts with prefix, prefix removed.
    Texts Only(const std::string& prefix) const
    {
        Texts texts;
        for (const std::string& event : Events)
            if (event.starts_with(prefix))
                texts.push_back(event.substr(prefix.size()));
        return texts;
    }
    Texts Statuses() const { return Only("Status: "); }
    Texts Failures() const
    {
        Texts texts;
        for (const std::string& event : Events)
            if (event.starts_with("Failed"))
                texts.push_back(event);
        return texts;
    }
    bool Succeeded() const { return std::count(Events.begin(), Events.end(), "Success") == 1 && Events.back() == "Success"; }

    Texts Events;

private:
    QObject m_context;
};

// A port on which nothing listens.
int closedPort()
{
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost, 0);
    return probe.serverPort();
}

class Driver : public ::testing::Test {
protected:
    Driver()
    {
        handler.SetSMTPHost("127.0.0.1");
        handler.SetFrom("me@localhost");
        handler.SetRecipient("you@localhost");
        handler.SetSubject("Hi");
        handler.SetMessage("Hello");
        handler.SetConnectTimeout(5);
        handler.SetMessageTimeout(5);
    }

    void Use(const ScriptedServer& server) { handler.SetSMTPPort(server.Port()); }

    SocketControl socket;
    clsEmailHandler handler{socket};
    Recorder events{handler};
};

// The message text with its generated lines checked and blanked out.
std::string withGeneratedLinesChecked(const std::string& text)
{
    static const std::regex messageId(R"(Message-ID: <\d{17}\.[A-Za-z0-8]{20}@127\.0\.0\.1>)");
    static const std::regex date(
        R"(Date: (Sun|Mon|Tue|Wed|Thu|Fri|Sat), \d{1,2} (Jan|Feb|Mar|Apr|May|Jun|Jul|Aug|Sep|Oct|Nov|Dec) \d{4} \d\d:\d\d:\d\d [+-]\d{4})");
    std::string out;
    std::size_t start = 0;
    for (std::size_t end = text.find("\r\n"); end != std::string::npos; end = text.find("\r\n", start)) {
        std::string line = text.substr(start, end - start);
        if (line.starts_with("Message-ID: ")) {
            EXPECT_TRUE(std::regex_match(line, messageId)) << line;
            line = "Message-ID: *";
        } else if (line.starts_with("Date: ")) {
            EXPECT_TRUE(std::regex_match(line, date)) << line;
            line = "Date: *";
        }
        out += line + "\r\n";
        start = end + 2;
    }
    return out + text.substr(start);
}

} // namespace

TEST_F(Driver, SendsTheWholeTransactionWithLogin)
{
    SmtpScript smtp;
    smtp.Replies = {{"EHLO", "250-fake\r\n250-AUTH LOGIN PLAIN\r\n250-AUTH=LOGIN\r\n250 OK\r\n"},
                    {"AUTH", "334 VXNlcm5hbWU6\r\n"},
                    {"dXNlcg==", "334 UGFzc3dvcmQ6\r\n"},
                    {"c2VjcmV0", "235 Authenticated\r\n"}};
    ScriptedServer server(Greeting, std::ref(smtp));
    Use(server);
    handler.SetUseAuthentication(true);
    handler.SetUsername("user");
    handler.SetPassword("secret");
    handler.SetFromDisplayName("Me");
    handler.SetRecipient("a@localhost;b@localhost");
    handler.SetRecipientDisplayName("Ann");
    handler.SetCcRecipient("c@localhost");
    handler.SetBccRecipient("d@localhost");
    handler.SetReplyToAddress("r@localhost");
    handler.SetPriority(5);
    handler.SetMessage("Line one\r\n.dot line");
    handler.Send();

    ASSERT_TRUE(events.Succeeded()) << ::testing::PrintToString(events.Events);
    EXPECT_EQ(events.Statuses(), (Texts{"Connecting to SMTP server (127.0.0.1)...", "Initializing communications...",
                                        "Sending login authentication...", "Host login OK!",
                                        "Sending sender information to server...",
                                        "Sending recipient information to server...", "Sending message to server...",
                                        "Transmission Complete...", "Closing connection to server..."}));
    Texts shown = events.Only("Ext: ");
    for (std::string& line : shown)
        if (line.starts_with(">> Date: "))
            line = ">> Date: *";
    // The connection and the greeting may be handled in the same turn of the wait.
    ASSERT_GE(shown.size(), 3u);
    std::sort(shown.begin() + 1, shown.begin() + 3);
    EXPECT_EQ(shown, (Texts{"Trying to connect (1/4)...",
                            "<< 220 fake ESMTP\r\n",
                            "No further connection retries.",
                            ">> EHLO localhost",
                            "<< 250-fake\r\n250-AUTH LOGIN PLAIN\r\n250-AUTH=LOGIN\r\n250 OK\r\n",
                            ">> AUTH LOGIN",
                            "<< 334 VXNlcm5hbWU6\r\n",
                            ">> {username...}",
                            "<< 334 UGFzc3dvcmQ6\r\n",
                            ">> {password...}",
                            "<< 235 Authenticated\r\n",
                            ">> MAIL FROM: <me@localhost> AUTH=me@localhost",
                            "<< 250 OK\r\n",
                            ">> RCPT TO: <a@localhost>",
                            "<< 250 OK\r\n",
                            ">> RCPT TO: <b@localhost>",
                            "<< 250 OK\r\n",
                            ">> RCPT TO: <c@localhost>",
                            "<< 250 OK\r\n",
                            ">> RCPT TO: <d@localhost>",
                            "<< 250 OK\r\n",
                            ">> DATA",
                            "<< 354 Go ahead\r\n",
                            ">> From: \"Me\" <me@localhost>",
                            ">> To: \"Ann\" <a@localhost>, \r\n\t\"b@localhost\" <b@localhost>",
                            ">> Cc: \"c@localhost\" <c@localhost>",
                            ">> Subject: Hi",
                            ">> Reply-to: <r@localhost>",
                            ">> Date: *",
                            ">> MIME-Version: 1.0",
                            ">> Content-Type: text/plain;",
                            ">> \tcharset=\"iso-8859-1\"",
                            ">> Content-Transfer-Encoding: 7bit",
                            ">> {message text...}",
                            "<< 250 Queued\r\n",
                            ">> QUIT",
                            "<< 221 Bye\r\n"}));

    // The Bcc recipient is in the envelope only; the body's leading dot was doubled on the wire.
    const Texts lines = server.Lines();
    ASSERT_GE(lines.size(), 10u);
    EXPECT_EQ(Texts(lines.begin(), lines.begin() + 10),
              (Texts{"EHLO localhost", "AUTH LOGIN", "dXNlcg==", "c2VjcmV0", "MAIL FROM: <me@localhost> AUTH=me@localhost",
                     "RCPT TO: <a@localhost>", "RCPT TO: <b@localhost>", "RCPT TO: <c@localhost>",
                     "RCPT TO: <d@localhost>", "DATA"}));
    EXPECT_EQ(lines.back(), "QUIT");
    ASSERT_EQ(smtp.Messages.size(), 1u);
    EXPECT_EQ(withGeneratedLinesChecked(smtp.Messages[0]),
              "Message-ID: *\r\n"
              "From: \"Me\" <me@localhost>\r\n"
              "To: \"Ann\" <a@localhost>, \r\n"
              "\t\"b@localhost\" <b@localhost>\r\n"
              "Cc: \"c@localhost\" <c@localhost>\r\n"
              "Subject: Hi\r\n"
              "Reply-to: <r@localhost>\r\n"
              "Date: *\r\n"
              "MIME-Version: 1.0\r\n"
              "X-Priority: 5\r\n"
              "X-MSMail-Priority: Low\r\n"
              "X-Mailer: Quellpost1.0 (build 0)\r\n"
              "Content-Type: text/plain;\r\n"
              "\tcharset=\"iso-8859-1\"\r\n"
              "Content-Transfer-Encoding: 7bit\r\n"
              "\r\n"
              "Line one\r\n"
              "..dot line\r\n");

    // Progress rises to 100 with the server's acceptance and does not move after it.
    const Texts progress = events.Only("Progress: ");
    ASSERT_FALSE(progress.empty());
    std::vector<int> percents;
    for (const std::string& p : progress)
        percents.push_back(std::stoi(p));
    EXPECT_TRUE(std::is_sorted(percents.begin(), percents.end())) << ::testing::PrintToString(progress);
    EXPECT_EQ(percents.back(), 100);
    const auto complete = std::find(events.Events.begin(), events.Events.end(), "Status: Transmission Complete...");
    ASSERT_NE(complete, events.Events.begin());
    EXPECT_EQ(*(complete - 1), "Progress: 100");
    EXPECT_EQ(std::count_if(complete, events.Events.end(), [](const std::string& e) { return e.starts_with("Progress"); }), 0);
    EXPECT_EQ(socket.State(), SocketState::Closed);
}

TEST_F(Driver, AReplyCutInPiecesIsOneReply)
{
    // The greeting and the HELO reply each come in two pieces; the second piece is written only
    // once the client has been handed the first.
    std::string pending;
    SmtpScript smtp;
    ScriptedServer server("22", [&](const std::string& line) {
        std::string reply = smtp(line);
        if (line.starts_with("HELO")) {
            pending = "250 OK\r\n";
            return std::string("250-fake\r\n");
        }
        return reply;
    });
    pending = "0 fake\r\n";
    int pieces = 0;
    QObject context;
    QObject::connect(&socket, &SocketControl::DataArrival, &context, [&](long) {
        if (!pending.empty()) {
            ++pieces;
            server.Write(std::exchange(pending, {}));
        }
    });
    Use(server);
    handler.Send();

    EXPECT_EQ(pieces, 2);
    EXPECT_TRUE(events.Succeeded()) << ::testing::PrintToString(events.Events);
    EXPECT_TRUE(events.Failures().empty());
    const Texts received = events.Only("Ext: << ");
    ASSERT_GE(received.size(), 2u);
    EXPECT_EQ(received[0], "220 fake\r\n");
    EXPECT_EQ(received[1], "250-fake\r\n250 OK\r\n");
    EXPECT_EQ(smtp.Messages.size(), 1u);
}

TEST_F(Driver, RefusedConnection)
{
    handler.SetSMTPPort(closedPort());
    handler.Send();
    EXPECT_EQ(events.Events, (Texts{"Status: Connecting to SMTP server (127.0.0.1)...", "Ext: Trying to connect (1/4)...",
                                    "Failed: Connection refused", "Status: Closing connection to server...",
                                    "Ext: No further connection retries."}));
    EXPECT_EQ(socket.State(), SocketState::Closed);
}

TEST_F(Driver, NegativeReplyEndsTheSend)
{
    SmtpScript smtp;
    smtp.Replies = {{"RCPT", "550 No such user\r\n"}};
    ScriptedServer server(Greeting, std::ref(smtp));
    Use(server);
    handler.Send();
    EXPECT_EQ(events.Failures(), (Texts{"Failed: 550 No such user\r\n"}));
    EXPECT_EQ(std::count(events.Events.begin(), events.Events.end(), "Success"), 0);
    EXPECT_EQ(server.Lines(), (Texts{"HELO localhost", "MAIL FROM: <me@localhost>", "RCPT TO: <you@localhost>", "QUIT"}));
    EXPECT_EQ(socket.State(), SocketState::Closed);
}

TEST_F(Driver, SilentServerTimesOut)
{
    SmtpScript smtp;
    smtp.Replies = {{"MAIL", ""}};
    ScriptedServer server(Greeting, std::ref(smtp));
    Use(server);

    // No time at all: the first wait gives up at once, silently, and the connection stays.
    handler.SetMessageTimeout(0);
    handler.Send();
    EXPECT_TRUE(events.Failures().empty());
    EXPECT_EQ(std::count(events.Events.begin(), events.Events.end(), "Success"), 0);
    EXPECT_EQ(socket.State(), SocketState::Connected);

    // The next Send finds the connection open and waits its one second in vain.
    events.Events.clear();
    handler.SetMessageTimeout(1);
    handler.Send();
    EXPECT_EQ(events.Statuses(), (Texts{"Sending sender information to server...", "Closing connection to server..."}));
    EXPECT_EQ(events.Failures(), (Texts{"Failed: " + SmtpTimeout}));
    EXPECT_EQ(server.Connections(), 1);
    EXPECT_EQ(socket.State(), SocketState::Closed);
}

TEST_F(Driver, SettingErrorsAreReportedBeforeAnyConnection)
{
    ScriptedServer server(Greeting, SmtpScript());
    Use(server);
    handler.SetSMTPPort(0);
    handler.SetFrom("");
    handler.SetRecipient("");
    handler.Send();
    EXPECT_EQ(events.Events, (Texts{"Failed+: Invalid remote port", "Failed+: Missing or invalid sender Email address",
                                    "Failed: No Recipient E-mail address specified"}));

    // Display names are fitted to their addresses even by a Send that goes no further.
    events.Events.clear();
    handler.SetRecipient("a@localhost;b@localhost");
    handler.SetRecipientDisplayName("");
    handler.SetCcRecipient("c@localhost");
    handler.SetCcDisplayName("C;D;E");
    handler.SetMaxRecipients(2);
    handler.Send();
    EXPECT_EQ(events.Events, (Texts{"Failed+: Missing or invalid sender Email address", "Failed: Too many recipients"}));
    EXPECT_EQ(handler.RecipientDisplayName(), ";");
    EXPECT_EQ(handler.CcDisplayName(), "C");
    EXPECT_EQ(server.Connections(), 0);
}

TEST_F(Driver, KeptConnectionCarriesSeveralMessages)
{
    SmtpScript smtp;
    ScriptedServer server(Greeting, std::ref(smtp));
    Use(server);
    ASSERT_TRUE(handler.Connect());
    handler.Send();
    handler.Send();
    EXPECT_EQ(std::count(events.Events.begin(), events.Events.end(), "Success"), 2);
    EXPECT_EQ(smtp.Messages.size(), 2u);
    EXPECT_EQ(server.Connections(), 1);
    EXPECT_NE(server.Lines().back(), "QUIT");
    EXPECT_EQ(socket.State(), SocketState::Connected);

    handler.Disconnect();
    EXPECT_EQ(server.Lines().back(), "QUIT");
    EXPECT_EQ(socket.State(), SocketState::Closed);
    EXPECT_EQ(events.Statuses().back(), "Closing connection to server...");

    // A kept connection that the server ends is opened afresh by the next Send.
    ASSERT_TRUE(handler.Connect());
    server.Hangup();
    ASSERT_TRUE(WaitFor([&] { return socket.State() == SocketState::Closed; }, 5000));
    handler.Send();
    EXPECT_EQ(server.Connections(), 3);
    EXPECT_EQ(smtp.Messages.size(), 3u);
}

TEST_F(Driver, NestedSendIsRefused)
{
    SmtpScript smtp;
    ScriptedServer server(Greeting, std::ref(smtp));
    Use(server);
    QObject context;
    QObject::connect(&handler, &clsEmailHandler::Status, &context, [&](const std::string& status) {
        if (status == "Sending message to server...")
            handler.Send();
    });
    handler.Send();
    EXPECT_TRUE(events.Succeeded()) << ::testing::PrintToString(events.Events);
    EXPECT_TRUE(events.Failures().empty());
    EXPECT_EQ(std::count(server.Lines().begin(), server.Lines().end(), "MAIL FROM: <me@localhost>"), 1);
    EXPECT_EQ(smtp.Messages.size(), 1u);
}

TEST_F(Driver, LoginPromptThatAsksForNeitherIsCancelled)
{
    SmtpScript smtp;
    smtp.Replies = {{"EHLO", "250-fake\r\n250 AUTH LOGIN\r\n"},
                    {"AUTH", "334 WW91ciBuYW1lPw==\r\n"}, // "Your name?"
                    {"", ""},
                    {"*", "501 Authentication cancelled\r\n"}};
    ScriptedServer server(Greeting, std::ref(smtp));
    Use(server);
    handler.SetUseAuthentication(true);
    handler.SetUsername("user");
    handler.Send();
    EXPECT_EQ(server.Lines(), (Texts{"EHLO localhost", "AUTH LOGIN", "", "*", "QUIT"}));
    EXPECT_EQ(events.Failures(), (Texts{"Failed: 501 Authentication cancelled\r\n"}));
    const Texts statuses = events.Statuses();
    EXPECT_EQ(statuses.back(), "Host login failed!");
    EXPECT_NE(std::find(events.Events.begin(), events.Events.end(), "Ext: >> \r\n*"), events.Events.end());
    EXPECT_TRUE(smtp.Messages.empty());
}

class Pop3BeforeSmtp : public Driver {
protected:
    Pop3BeforeSmtp()
    {
        handler.SetUsePopAuthentication(true);
        handler.SetPOP3Host("127.0.0.1");
        handler.SetUsername("user");
        handler.SetPassword("secret");
        handler.setPop3Port(pop3.Port());
        Use(smtp);
    }

    Pop3Script pop3Script;
    ScriptedServer pop3{"+OK POP3 ready\r\n", std::ref(pop3Script)};
    SmtpScript smtpScript;
    ScriptedServer smtp{Greeting, std::ref(smtpScript)};
};

TEST_F(Pop3BeforeSmtp, LogsInThenSends)
{
    handler.Send();
    EXPECT_EQ(pop3.Lines(), (Texts{"USER user", "PASS secret", "QUIT"}));
    EXPECT_TRUE(events.Succeeded()) << ::testing::PrintToString(events.Events);
    const Texts statuses = events.Statuses();
    ASSERT_GE(statuses.size(), 3u);
    EXPECT_EQ(Texts(statuses.begin(), statuses.begin() + 3),
              (Texts{"Connecting to POP3 Server (127.0.0.1)...", "POP3 authentication successful...",
                     "Connecting to SMTP server (127.0.0.1)..."}));
    const Texts sent = events.Only("Ext: >> ");
    ASSERT_GE(sent.size(), 3u);
    EXPECT_EQ(Texts(sent.begin(), sent.begin() + 3), (Texts{"USER {username...}", "PASS {password...}", "QUIT"}));
    for (const std::string& event : events.Events)
        EXPECT_EQ(event.find("secret"), std::string::npos) << event;
    EXPECT_EQ(smtpScript.Messages.size(), 1u);
}

TEST_F(Pop3BeforeSmtp, RefusedPasswordStopsEverything)
{
    pop3Script.Replies = {{"PASS", "-ERR invalid password\r\n"}};
    handler.Send();
    EXPECT_EQ(events.Failures(), (Texts{"Failed: -ERR invalid password\r\n"}));
    EXPECT_EQ(std::count(events.Events.begin(), events.Events.end(), "Status: POP3 authentication successful..."), 0);
    EXPECT_EQ(smtp.Connections(), 0);
    EXPECT_EQ(socket.State(), SocketState::Closed);
}

TEST_F(Pop3BeforeSmtp, SilentServerIsATimeOut)
{
    pop3Script.Replies = {{"USER", ""}};
    handler.SetConnectTimeout(1);
    handler.Send();
    EXPECT_EQ(events.Failures(), (Texts{"Failed: " + Pop3Timeout}));
    EXPECT_EQ(events.Statuses(), (Texts{"Connecting to POP3 Server (127.0.0.1)..."}));
    EXPECT_EQ(smtp.Connections(), 0);
    EXPECT_EQ(socket.State(), SocketState::Closed);
}

TEST_F(Pop3BeforeSmtp, PortTheSocketRefusesIsAConnectError)
{
    handler.setPop3Port(0);
    handler.Send();
    EXPECT_EQ(events.Events, (Texts{"Status: Connecting to POP3 Server (127.0.0.1)...", "Status: Connect error: Invalid port number"}));
    EXPECT_EQ(smtp.Connections(), 0);
}

TEST_F(Pop3BeforeSmtp, MissingHost)
{
    handler.SetPOP3Host("");
    handler.Send();
    EXPECT_EQ(events.Events, (Texts{"Status: Connecting to POP3 Server ()...", "Failed: Invalid or missing POP3 host name"}));
    EXPECT_EQ(pop3.Connections(), 0);
}
