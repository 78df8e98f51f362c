#include <cstdint>
#include <limits>
#include <memory>
#include <string>
#include <vector>

#include <arpa/inet.h>
#include <unistd.h>

#include <QHostAddress>

#include <gtest/gtest.h>

#include "HostLookup.h"
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

std::string withNul(const std::string& text)
{
    return text + '\0';
}

class EmailHandlerTest : public ::testing::Test {
protected:
    SocketControl socket;
    clsEmailHandler handler{socket};
};

} // namespace

TEST_F(EmailHandlerTest, Defaults)
{
    EXPECT_EQ(handler.Recipient(), "");
    EXPECT_EQ(handler.RecipientDisplayName(), "");
    EXPECT_EQ(handler.CcRecipient(), "");
    EXPECT_EQ(handler.CcDisplayName(), "");
    EXPECT_EQ(handler.BccRecipient(), "");
    EXPECT_EQ(handler.From(), "");
    EXPECT_EQ(handler.Message(), "");
    EXPECT_EQ(handler.Delimiter(), ";");
    EXPECT_EQ(handler.Priority(), 3);
    EXPECT_EQ(handler.PriorityName(), "");
    EXPECT_EQ(handler.SMTPHost(), "");
    EXPECT_EQ(handler.POP3Host(), "");
    EXPECT_EQ(handler.SMTPPort(), 25);
    EXPECT_EQ(handler.ConnectTimeout(), 40);
    EXPECT_EQ(handler.ConnectRetry(), 4);
    EXPECT_EQ(handler.MessageTimeout(), 60);
    EXPECT_EQ(handler.EncodeType(), 0);
    EXPECT_EQ(handler.EmailAddressValidation(), 1);
    EXPECT_EQ(handler.SMTPHostValidation(), 3);
    EXPECT_EQ(handler.MaxRecipients(), 100);
    EXPECT_FALSE(handler.Receipt());
    EXPECT_FALSE(handler.UseAuthentication());
    EXPECT_FALSE(handler.UsePopAuthentication());
    EXPECT_EQ(handler.pop3Port(), 110);
    EXPECT_TRUE(handler.PendingErrorTexts().empty());
    EXPECT_EQ(handler.TimeZoneText(), TimeZoneText(LocalTimeZoneOffsetMinutes()));
}

TEST_F(EmailHandlerTest, AddressChecks)
{
    // The cases in detail are the address check's own; here: the property reaches it.
    struct Case {
        const char* address;
        bool valid;
    } cases[] = {
        {"user@example.com", true}, {"a@b@example.com", false}, {"user@LocalHost", true}, {"user@example", false}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.address);
        EXPECT_EQ(handler.IsValidEmailAddress(c.address), c.valid);
        handler.SetRecipient(c.address);
        EXPECT_EQ(handler.Recipient(), c.address);
        EXPECT_EQ(handler.PendingErrorTexts(), c.valid ? Texts{} : Texts{RecipientError});
    }
}

TEST_F(EmailHandlerTest, EachAddressPropertyHasItsOwnError)
{
    handler.SetFrom("  sender  ");
    handler.SetRecipient("a@example.com;nobody");
    handler.SetCcRecipient("nobody");
    handler.SetBccRecipient("x@y@z.com");
    EXPECT_EQ(handler.From(), "sender");
    EXPECT_EQ(handler.PendingErrorTexts(), (Texts{SenderError, RecipientError, CcError, BccError}));

    // An empty value has no entries and passes; the other errors keep their places.
    handler.SetRecipient("");
    EXPECT_EQ(handler.Recipient(), "");
    EXPECT_EQ(handler.PendingErrorTexts(), (Texts{SenderError, CcError, BccError}));

    handler.SetFrom(" me@localhost ");
    handler.SetCcRecipient("c@localhost");
    handler.SetBccRecipient("b@localhost");
    EXPECT_EQ(handler.From(), "me@localhost");
    EXPECT_TRUE(handler.PendingErrorTexts().empty());
}

TEST_F(EmailHandlerTest, ListsSplitCleanAndJoin)
{
    // A trailing separator is kept as an empty entry, and that entry fails the check.
    handler.SetRecipient("a@example.com;");
    EXPECT_EQ(handler.Recipient(), "a@example.com;");
    EXPECT_EQ(handler.PendingErrorTexts(), Texts{RecipientError});

    // The blank after ", " is cleaned off the stored entry; the check, which trims the domain, passes.
    handler.SetDelimiter(", ");
    EXPECT_EQ(handler.Delimiter(), ",");
    handler.SetRecipient("a@example.com, b@example.org");
    EXPECT_EQ(handler.Recipient(), "a@example.com,b@example.org");
    EXPECT_TRUE(handler.PendingErrorTexts().empty());

    // Reading joins with the separator current at the time.
    handler.SetDelimiter(";");
    EXPECT_EQ(handler.Recipient(), "a@example.com;b@example.org");

    handler.SetRecipientDisplayName(" Ann \t;\r\nBob\r\n ; Cy\rD\n");
    EXPECT_EQ(handler.RecipientDisplayName(), "Ann ;Bob;Cy\rD\n");

    // A letter as separator splits at both of its cases.
    handler.SetDelimiter("x");
    handler.SetCcDisplayName("OnexTwoXThree");
    handler.SetDelimiter("|");
    EXPECT_EQ(handler.CcDisplayName(), "One|Two|Three");

    // No separator: the whole value is one entry.
    handler.SetDelimiter("");
    EXPECT_EQ(handler.Delimiter(), "");
    handler.SetBccRecipient("a@example.com;b@example.com");
    EXPECT_EQ(handler.BccRecipient(), "a@example.com;b@example.com");
    EXPECT_EQ(handler.PendingErrorTexts(), Texts{BccError});
}

TEST_F(EmailHandlerTest, AddressValidationOff)
{
    handler.SetRecipient("nobody");
    EXPECT_EQ(handler.PendingErrorTexts(), Texts{RecipientError});
    handler.SetEmailAddressValidation(0);
    EXPECT_EQ(handler.PendingErrorTexts(), Texts{RecipientError});
    handler.SetRecipient("nobody");
    EXPECT_TRUE(handler.PendingErrorTexts().empty());
    handler.SetEmailAddressValidation(2);
    handler.SetFrom("nobody");
    EXPECT_TRUE(handler.PendingErrorTexts().empty());
}

TEST_F(EmailHandlerTest, NumericSettings)
{
    handler.SetSMTPPort(0);
    EXPECT_EQ(handler.SMTPPort(), 25);
    EXPECT_EQ(handler.PendingErrorTexts(), Texts{PortError});
    handler.SetSMTPPort(65536);
    EXPECT_EQ(handler.SMTPPort(), 25);
    EXPECT_EQ(handler.PendingErrorTexts(), Texts{PortError});
    handler.SetSMTPPort(587);
    EXPECT_EQ(handler.SMTPPort(), 587);
    EXPECT_TRUE(handler.PendingErrorTexts().empty());
    handler.SetSMTPPort(65535);
    EXPECT_EQ(handler.SMTPPort(), 65535);

    for (std::int32_t ignored : {0, 21, -4}) {
        SCOPED_TRACE(ignored);
        handler.SetConnectRetry(ignored);
        EXPECT_EQ(handler.ConnectRetry(), 4);
    }
    handler.SetConnectRetry(20);
    EXPECT_EQ(handler.ConnectRetry(), 20);
    handler.SetConnectRetry(1);
    EXPECT_EQ(handler.ConnectRetry(), 1);

    for (std::int32_t ignored : {0, 121, -40}) {
        SCOPED_TRACE(ignored);
        handler.SetConnectTimeout(ignored);
        EXPECT_EQ(handler.ConnectTimeout(), 40);
    }
    handler.SetConnectTimeout(120);
    EXPECT_EQ(handler.ConnectTimeout(), 120);

    handler.SetMaxRecipients(-5);
    handler.SetMessageTimeout(-5);
    EXPECT_EQ(handler.MaxRecipients(), 5);
    EXPECT_EQ(handler.MessageTimeout(), 5);
    // The one magnitude a 32-bit number cannot hold leaves the previous value.
    handler.SetMaxRecipients(std::numeric_limits<std::int32_t>::min());
    handler.SetMessageTimeout(std::numeric_limits<std::int32_t>::min());
    EXPECT_EQ(handler.MaxRecipients(), 5);
    EXPECT_EQ(handler.MessageTimeout(), 5);

    handler.SetPriority(2);
    EXPECT_EQ(handler.Priority(), 2);
    EXPECT_EQ(handler.PriorityName(), "");
    handler.SetPriority(1);
    EXPECT_EQ(handler.PriorityName(), "High");
    handler.SetPriority(2);
    EXPECT_EQ(handler.Priority(), 2);
    EXPECT_EQ(handler.PriorityName(), "High");
    handler.SetPriority(5);
    EXPECT_EQ(handler.PriorityName(), "Low");
    handler.SetPriority(3);
    EXPECT_EQ(handler.PriorityName(), "Normal");

    EXPECT_TRUE(handler.PendingErrorTexts().empty());
}

TEST_F(EmailHandlerTest, TextSettings)
{
    handler.SetFromDisplayName("  Jane Doe  ");
    handler.SetReplyToAddress("  reply@example.com ");
    handler.SetSubject("  Subject  ");
    handler.SetUsername(" user ");
    handler.SetPassword(" secret ");
    EXPECT_EQ(handler.FromDisplayName(), "Jane Doe");
    EXPECT_EQ(handler.ReplyToAddress(), "reply@example.com");
    EXPECT_EQ(handler.Subject(), "  Subject  ");
    EXPECT_EQ(handler.Username(), " user ");
    EXPECT_EQ(handler.Password(), " secret ");

    handler.SetMessage("Hello\r\n.\r\nBye");
    EXPECT_EQ(handler.Message(), "Hello\r\n..\r\nBye");
    EXPECT_FALSE(handler.EightBitText());
    handler.SetMessage("Gr\xFC\xDF" "e");
    EXPECT_TRUE(handler.EightBitText());
    handler.SetMessage("");
    EXPECT_FALSE(handler.EightBitText());
}

TEST_F(EmailHandlerTest, HostsResolvedByDefault)
{
    handler.SetSMTPHost(" 127.0.0.1 ");
    EXPECT_EQ(handler.SMTPHost(), withNul("127.0.0.1"));
    EXPECT_TRUE(handler.PendingErrorTexts().empty());
    // The stored NUL is dropped before the check and appended again by it.
    handler.SetSMTPHost(handler.SMTPHost());
    EXPECT_EQ(handler.SMTPHost(), withNul("127.0.0.1"));

    handler.SetSMTPHost(UnresolvableSMTPHost);
    EXPECT_EQ(handler.SMTPHost(), withNul("127.0.0.1"));
    EXPECT_EQ(handler.PendingErrorTexts(), Texts{SMTPHostError});

    handler.SetPOP3Host(UnresolvablePOP3Host);
    EXPECT_EQ(handler.POP3Host(), "");
    EXPECT_EQ(handler.PendingErrorTexts(), (Texts{SMTPHostError, POP3HostError}));
    handler.SetPOP3Host("127.0.0.1");
    EXPECT_EQ(handler.POP3Host(), withNul("127.0.0.1"));
    EXPECT_EQ(handler.PendingErrorTexts(), Texts{SMTPHostError});

    // An empty host, also one made of NULs only, is taken without a check.
    handler.SetSMTPHost(std::string(2, '\0'));
    EXPECT_EQ(handler.SMTPHost(), "");
    EXPECT_TRUE(handler.PendingErrorTexts().empty());
}

TEST_F(EmailHandlerTest, HostsCheckedBySyntaxOrNotAtAll)
{
    handler.SetSMTPHostValidation(1);
    handler.SetSMTPHost(" localhost ");
    EXPECT_EQ(handler.SMTPHost(), " localhost ");
    handler.SetSMTPHost(withNul("mail.example.com"));
    EXPECT_EQ(handler.SMTPHost(), "mail.example.com");
    EXPECT_TRUE(handler.PendingErrorTexts().empty());
    handler.SetSMTPHost("mail");
    EXPECT_EQ(handler.SMTPHost(), "mail.example.com");
    EXPECT_EQ(handler.PendingErrorTexts(), Texts{SMTPHostError});

    for (std::int32_t unchecked : {0, 4, -1}) {
        SCOPED_TRACE(unchecked);
        handler.SetSMTPHostValidation(unchecked);
        handler.SetSMTPHost("not a host");
        EXPECT_EQ(handler.SMTPHost(), "not a host");
        EXPECT_TRUE(handler.PendingErrorTexts().empty());
    }
}

TEST_F(EmailHandlerTest, ModeChangeChecksTheSMTPHostAgain)
{
    handler.SetSMTPHostValidation(0);
    handler.SetSMTPHost(UnresolvableSMTPHost);
    handler.SetPOP3Host(UnresolvablePOP3Host);
    EXPECT_TRUE(handler.PendingErrorTexts().empty());

    // Only the SMTP host is checked again, and a refusal keeps it.
    handler.SetSMTPHostValidation(3);
    EXPECT_EQ(handler.SMTPHost(), UnresolvableSMTPHost);
    EXPECT_EQ(handler.POP3Host(), UnresolvablePOP3Host);
    EXPECT_EQ(handler.PendingErrorTexts(), Texts{SMTPHostError});
    handler.SetSMTPHostValidation(0);
    EXPECT_TRUE(handler.PendingErrorTexts().empty());

    // A passing check under the new mode stores the host in that mode's form.
    handler.SetSMTPHost("127.0.0.1");
    handler.SetSMTPHostValidation(3);
    EXPECT_EQ(handler.SMTPHost(), withNul("127.0.0.1"));
    handler.SetSMTPHostValidation(1);
    EXPECT_EQ(handler.SMTPHost(), "127.0.0.1");
}

TEST_F(EmailHandlerTest, ModeChangeDoesNotClearARefusal)
{
    handler.SetSMTPHost("127.0.0.1");
    handler.SetSMTPHost(UnresolvableSMTPHost);
    EXPECT_EQ(handler.PendingErrorTexts(), Texts{SMTPHostError});

    // Checking the kept host instead of the refused one would pass and hide the refusal.
    handler.SetSMTPHostValidation(3);
    EXPECT_EQ(handler.SMTPHost(), withNul("127.0.0.1"));
    EXPECT_EQ(handler.PendingErrorTexts(), Texts{SMTPHostError});

    // Under a mode that accepts it, the host asked for is taken.
    handler.SetSMTPHostValidation(0);
    EXPECT_EQ(handler.SMTPHost(), UnresolvableSMTPHost);
    EXPECT_TRUE(handler.PendingErrorTexts().empty());
}

TEST_F(EmailHandlerTest, HostsCheckedByPing)
{
    handler.SetSMTPHostValidation(2);
    // The echo takes dotted addresses only: a name fails before anything is sent.
    handler.SetSMTPHost("localhost");
    EXPECT_EQ(handler.SMTPHost(), "");
    EXPECT_EQ(handler.PendingErrorTexts(), Texts{SMTPHostError});
    handler.SetPOP3Host("localhost");
    EXPECT_EQ(handler.PendingErrorTexts(), (Texts{SMTPHostError, POP3HostError}));

    const mdlPing::EchoSocket probe = mdlPing::OpenEchoSocket(::inet_addr("127.0.0.1"));
    if (probe.fd < 0)
        GTEST_SKIP() << "this system allows neither ICMP datagram sockets (net.ipv4.ping_group_range) "
                        "nor raw sockets (CAP_NET_RAW), so no echo can be sent to 127.0.0.1";
    ::close(probe.fd);

    handler.SetSMTPHost("127.0.0.1");
    EXPECT_EQ(handler.SMTPHost(), "127.0.0.1");
    handler.SetPOP3Host(withNul("127.0.0.1"));
    EXPECT_EQ(handler.POP3Host(), "127.0.0.1");
    EXPECT_TRUE(handler.PendingErrorTexts().empty());
}

TEST_F(EmailHandlerTest, NameLookups)
{
    std::string name = "  127.0.0.1  ";
    EXPECT_EQ(handler.GetIPAddress(name), "127.0.0.1");
    EXPECT_EQ(name, withNul("127.0.0.1"));
    EXPECT_EQ(handler.GetIPHost(), GetIPHost());
}

TEST(EmailHandlerLifetime, DestructionClosesAnOpenSocket)
{
    SocketControl socket;
    socket.SetLocalAddress(QHostAddress::LocalHost);
    socket.SetLocalPort(0);
    socket.Listen();
    ASSERT_NE(socket.State(), SocketState::Closed);
    {
        clsEmailHandler handler(socket);
        handler.Shutdown();
        EXPECT_NE(socket.State(), SocketState::Closed);
    }
    EXPECT_EQ(socket.State(), SocketState::Closed);

    // A socket that goes first is not touched afterwards.
    auto early = std::make_unique<SocketControl>();
    early->SetLocalAddress(QHostAddress::LocalHost);
    early->Listen();
    auto handler = std::make_unique<clsEmailHandler>(*early);
    early.reset();
    handler.reset();
}
