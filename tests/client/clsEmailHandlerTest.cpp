#include <cstdint>
#include <limits>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include <arpa/inet.h>
#include <unistd.h>

#include <QHostAddress>

#include <gtest/gtest.h>

#include "SocketControl.h"
#include "clsEmailHandler.h"
#include "mdlPing.h"

namespace {

using Texts = std::vector<std::string>;

const std::string RecipientError = "Missing or invalid recipient Email address";
const std::string SenderError = "Missing or invalid sender Email address";
const std::string CcError = "Invalid Cc: recipient Email address";
const std::string BccError = "Invalid Bcc: recipient Email address";
const std::string SMTPHostError = "Invalid or missing SMTP host name";
const std::string POP3HostError = "Invalid or missing POP3 host name";
const std::string PortError = "Invalid remote port";

// Names under "invalid" never resolve (RFC 6761); no resolver is asked about them.
const std::string UnresolvableSMTPHost = "smtp.quellpost.invalid";
const std::string UnresolvablePOP3Host = "pop.quellpost.invalid";
const std::string Loopback = "127.0.0.1";
const std::string LoopbackWithNul = std::string("127.0.0.1") + '\0';

class EmailHandlerTest : public ::testing::Test {
protected:
    Texts errors() const { return handler.PendingErrorTexts(); }

    SocketControl socket;
    clsEmailHandler handler{socket};
};

} // namespace

TEST_F(EmailHandlerTest, Defaults)
{
    // The others show in the tests that change them or in the transmissions of the driver's tests.
    EXPECT_EQ(handler.Priority(), 3);
    EXPECT_EQ(handler.PriorityName(), "");
    EXPECT_EQ(handler.pop3Port(), 110);
    EXPECT_EQ(handler.MessageTimeout(), 60);
    EXPECT_EQ(handler.MaxRecipients(), 100);
    EXPECT_EQ(handler.TimeZoneText(), TimeZoneText(LocalTimeZoneOffsetMinutes()));
}

TEST_F(EmailHandlerTest, EachAddressPropertyHasItsOwnError)
{
    handler.SetFrom("  sender  ");
    handler.SetRecipient("a@example.com;nobody");
    handler.SetCcRecipient("nobody");
    handler.SetBccRecipient("x@y@z.com");
    EXPECT_EQ(handler.From(), "sender");
    EXPECT_EQ(errors(), (Texts{SenderError, RecipientError, CcError, BccError}));

    // An empty value has no entries and passes; the other errors keep their places.
    handler.SetRecipient("");
    EXPECT_EQ(errors(), (Texts{SenderError, CcError, BccError}));
    handler.SetFrom(" me@localhost ");
    handler.SetCcRecipient("c@localhost");
    handler.SetBccRecipient("b@localhost");
    EXPECT_EQ(handler.From(), "me@localhost");
    EXPECT_TRUE(errors().empty());

    // Turned off, a check leaves its error until the property is assigned again.
    handler.SetRecipient("nobody");
    handler.SetEmailAddressValidation(0);
    EXPECT_EQ(errors(), Texts{RecipientError});
    handler.SetRecipient("nobody");
    handler.SetEmailAddressValidation(2);
    handler.SetFrom("nobody");
    EXPECT_TRUE(errors().empty());
}

TEST_F(EmailHandlerTest, ListsSplitCleanAndJoin)
{
    // A trailing separator is kept as an empty entry, and that entry fails the check.
    handler.SetRecipient("a@example.com;");
    EXPECT_EQ(handler.Recipient(), "a@example.com;");
    EXPECT_EQ(errors(), Texts{RecipientError});

    // The blank after ", " is cleaned off the stored entry; the check, which trims the domain, passes.
    handler.SetDelimiter(", ");
    EXPECT_EQ(handler.Delimiter(), ",");
    handler.SetRecipient("a@example.com, b@example.org");
    EXPECT_EQ(handler.Recipient(), "a@example.com,b@example.org");
    EXPECT_TRUE(errors().empty());

    // Reading joins with the separator current at the time.
    handler.SetDelimiter(";");
    EXPECT_EQ(handler.Recipient(), "a@example.com;b@example.org");
    handler.SetRecipientDisplayName(" Ann \t;\r\nBob\r\n ; Cy\rD\n");
    EXPECT_EQ(handler.RecipientDisplayName(), "Ann ;Bob;Cy\rD\n");
}

TEST_F(EmailHandlerTest, NumericAndTextSettings)
{
    // A port out of range leaves an error and the previous port until one in range comes.
    for (std::int32_t port : {0, 65536}) {
        handler.SetSMTPPort(port);
        EXPECT_EQ(handler.SMTPPort(), 25);
        EXPECT_EQ(errors(), Texts{PortError});
    }
    handler.SetSMTPPort(587);
    EXPECT_EQ(handler.SMTPPort(), 587);
    EXPECT_TRUE(errors().empty());
    handler.SetSMTPPort(65535);
    EXPECT_EQ(handler.SMTPPort(), 65535);

    // Retries and connect time-outs out of range are ignored.
    for (std::int32_t ignored : {0, 21, -4})
        handler.SetConnectRetry(ignored);
    EXPECT_EQ(handler.ConnectRetry(), 4);
    handler.SetConnectRetry(20);
    EXPECT_EQ(handler.ConnectRetry(), 20);
    handler.SetConnectRetry(1);
    EXPECT_EQ(handler.ConnectRetry(), 1);
    for (std::int32_t ignored : {0, 121, -40})
        handler.SetConnectTimeout(ignored);
    EXPECT_EQ(handler.ConnectTimeout(), 40);
    handler.SetConnectTimeout(120);
    EXPECT_EQ(handler.ConnectTimeout(), 120);

    // Magnitudes; the one a 32-bit number cannot hold leaves the previous value.
    for (std::int32_t value : {-5, std::numeric_limits<std::int32_t>::min()}) {
        handler.SetMaxRecipients(value);
        handler.SetMessageTimeout(value);
    }
    EXPECT_EQ(handler.MaxRecipients(), 5);
    EXPECT_EQ(handler.MessageTimeout(), 5);

    // Only 1, 3 and 5 have names; another number keeps the name before it.
    const std::pair<std::int32_t, const char*> priorities[] = {{2, ""}, {1, "High"}, {2, "High"}, {5, "Low"}, {3, "Normal"}};
    for (auto [priority, name] : priorities) {
        SCOPED_TRACE(priority);
        handler.SetPriority(priority);
        EXPECT_EQ(handler.Priority(), priority);
        EXPECT_EQ(handler.PriorityName(), name);
    }

    handler.SetFromDisplayName("  Jane Doe  ");
    handler.SetReplyToAddress("  reply@example.com ");
    handler.SetSubject("  Subject  ");
    handler.SetUsername(" user ");
    EXPECT_EQ(handler.FromDisplayName(), "Jane Doe");
    EXPECT_EQ(handler.ReplyToAddress(), "reply@example.com");
    EXPECT_EQ(handler.Subject(), "  Subject  ");
    EXPECT_EQ(handler.Username(), " user ");

    handler.SetMessage("Hello\r\n.\r\nBye");
    EXPECT_EQ(handler.Message(), "Hello\r\n..\r\nBye");
    EXPECT_FALSE(handler.EightBitText());
    handler.SetMessage("Gr\xFC\xDF" "e");
    EXPECT_TRUE(handler.EightBitText());
    EXPECT_TRUE(errors().empty());
}

TEST_F(EmailHandlerTest, HostsResolvedByDefault)
{
    handler.SetSMTPHost(" 127.0.0.1 ");
    EXPECT_EQ(handler.SMTPHost(), LoopbackWithNul);
    EXPECT_TRUE(errors().empty());
    // The stored NUL is dropped before the check and appended again by it.
    handler.SetSMTPHost(handler.SMTPHost());
    EXPECT_EQ(handler.SMTPHost(), LoopbackWithNul);

    handler.SetSMTPHost(UnresolvableSMTPHost);
    EXPECT_EQ(handler.SMTPHost(), LoopbackWithNul);
    EXPECT_EQ(errors(), Texts{SMTPHostError});
    handler.SetPOP3Host(UnresolvablePOP3Host);
    EXPECT_EQ(handler.POP3Host(), "");
    EXPECT_EQ(errors(), (Texts{SMTPHostError, POP3HostError}));
    handler.SetPOP3Host(Loopback);
    EXPECT_EQ(handler.POP3Host(), LoopbackWithNul);
    EXPECT_EQ(errors(), Texts{SMTPHostError});

    // An empty host, also one made of NULs only, is taken without a check.
    handler.SetSMTPHost(std::string(2, '\0'));
    EXPECT_EQ(handler.SMTPHost(), "");
    EXPECT_TRUE(errors().empty());
}

TEST_F(EmailHandlerTest, HostsCheckedBySyntaxOrNotAtAll)
{
    handler.SetSMTPHostValidation(1);
    handler.SetSMTPHost(" localhost ");
    EXPECT_EQ(handler.SMTPHost(), " localhost ");
    handler.SetSMTPHost(std::string("mail.example.com") + '\0');
    EXPECT_EQ(handler.SMTPHost(), "mail.example.com");
    EXPECT_TRUE(errors().empty());
    handler.SetSMTPHost("mail");
    EXPECT_EQ(handler.SMTPHost(), "mail.example.com");
    EXPECT_EQ(errors(), Texts{SMTPHostError});

    for (std::int32_t unchecked : {0, 4, -1}) {
        SCOPED_TRACE(unchecked);
        handler.SetSMTPHostValidation(unchecked);
        handler.SetSMTPHost("not a host");
        EXPECT_EQ(handler.SMTPHost(), "not a host");
        EXPECT_TRUE(errors().empty());
    }
}

TEST_F(EmailHandlerTest, ModeChangeChecksTheHostLastAskedFor)
{
    handler.SetSMTPHostValidation(0);
    handler.SetSMTPHost(UnresolvableSMTPHost);
    handler.SetPOP3Host(UnresolvablePOP3Host);
    // Only the SMTP host is checked again, and a refusal keeps it.
    handler.SetSMTPHostValidation(3);
    EXPECT_EQ(handler.SMTPHost(), UnresolvableSMTPHost);
    EXPECT_EQ(handler.POP3Host(), UnresolvablePOP3Host);
    EXPECT_EQ(errors(), Texts{SMTPHostError});
    handler.SetSMTPHostValidation(0);
    EXPECT_TRUE(errors().empty());

    // A passing check under the new mode stores the host in that mode's form.
    handler.SetSMTPHost(Loopback);
    handler.SetSMTPHostValidation(3);
    EXPECT_EQ(handler.SMTPHost(), LoopbackWithNul);
    handler.SetSMTPHostValidation(1);
    EXPECT_EQ(handler.SMTPHost(), Loopback);

    // Checking the host kept after a refusal instead of the refused one would pass and hide the refusal.
    handler.SetSMTPHostValidation(3);
    handler.SetSMTPHost(UnresolvableSMTPHost);
    handler.SetSMTPHostValidation(3);
    EXPECT_EQ(handler.SMTPHost(), LoopbackWithNul);
    EXPECT_EQ(errors(), Texts{SMTPHostError});
    // Under a mode that accepts it, the host asked for is taken.
    handler.SetSMTPHostValidation(0);
    EXPECT_EQ(handler.SMTPHost(), UnresolvableSMTPHost);
    EXPECT_TRUE(errors().empty());
}

TEST_F(EmailHandlerTest, HostsCheckedByPing)
{
    handler.SetSMTPHostValidation(2);
    // The echo takes dotted addresses only: a name fails before anything is sent.
    handler.SetSMTPHost("localhost");
    EXPECT_EQ(handler.SMTPHost(), "");
    handler.SetPOP3Host("localhost");
    EXPECT_EQ(errors(), (Texts{SMTPHostError, POP3HostError}));

    const mdlPing::EchoSocket probe = mdlPing::OpenEchoSocket(::inet_addr("127.0.0.1"));
    if (probe.fd < 0)
        GTEST_SKIP() << "this system allows neither ICMP datagram sockets (net.ipv4.ping_group_range) "
                        "nor raw sockets (CAP_NET_RAW), so no echo can be sent to 127.0.0.1";
    ::close(probe.fd);
    handler.SetSMTPHost(Loopback);
    EXPECT_EQ(handler.SMTPHost(), Loopback);
    handler.SetPOP3Host(LoopbackWithNul);
    EXPECT_EQ(handler.POP3Host(), Loopback);
    EXPECT_TRUE(errors().empty());
}

TEST(EmailHandlerLifetime, DestructionClosesAnOpenSocketButNotAGoneOne)
{
    auto listening = [] {
        auto socket = std::make_unique<SocketControl>();
        socket->SetLocalAddress(QHostAddress::LocalHost);
        socket->SetLocalPort(0);
        socket->Listen();
        return socket;
    };
    const auto socket = listening();
    ASSERT_NE(socket->State(), SocketState::Closed);
    {
        clsEmailHandler handler(*socket);
        handler.Shutdown();
        EXPECT_NE(socket->State(), SocketState::Closed);
    }
    EXPECT_EQ(socket->State(), SocketState::Closed);

    // A socket that goes first is not touched afterwards.
    auto early = listening();
    auto handler = std::make_unique<clsEmailHandler>(*early);
    early.reset();
    handler.reset();
}
