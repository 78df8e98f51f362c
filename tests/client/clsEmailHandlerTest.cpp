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
    static constexpr bool Pop3 = true;

    Texts errors() const { return handler.PendingErrorTexts(); }
    // Whether the SMTP (or POP3) host stored is host, with the errors pending.
    ::testing::AssertionResult holds(const std::string& host, const Texts& pending, bool pop3 = false) const
    {
        const std::string stored = pop3 ? handler.POP3Host() : handler.SMTPHost();
        if (stored == host && errors() == pending)
            return ::testing::AssertionSuccess();
        return ::testing::AssertionFailure() << "holds " << ::testing::PrintToString(stored) << " with errors "
                                             << ::testing::PrintToString(errors());
    }

    SocketControl socket;
    clsEmailHandler handler{socket};
};

} // namespace

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
    const std::int32_t lowest = std::numeric_limits<std::int32_t>::min();
    struct Case {
        void (clsEmailHandler::*set)(std::int32_t);
        std::int32_t (clsEmailHandler::*get)() const;
        std::vector<std::pair<std::int32_t, std::int32_t>> setAndRead;
        std::string outOfRangeError{}; // none: values out of range are ignored silently
    } cases[] = {
        {&clsEmailHandler::SetSMTPPort, &clsEmailHandler::SMTPPort, {{0, 25}, {65536, 25}, {587, 587}, {65535, 65535}}, PortError},
        {&clsEmailHandler::SetConnectRetry, &clsEmailHandler::ConnectRetry, {{0, 4}, {21, 4}, {-4, 4}, {20, 20}, {1, 1}}},
        {&clsEmailHandler::SetConnectTimeout, &clsEmailHandler::ConnectTimeout, {{0, 40}, {121, 40}, {-40, 40}, {120, 120}}},
        // Magnitudes; the one a 32-bit number cannot hold leaves the previous value.
        {&clsEmailHandler::SetMaxRecipients, &clsEmailHandler::MaxRecipients, {{-5, 5}, {lowest, 5}}},
        {&clsEmailHandler::SetMessageTimeout, &clsEmailHandler::MessageTimeout, {{-5, 5}, {lowest, 5}}},
    };
    for (const Case& c : cases)
        for (auto [value, read] : c.setAndRead) {
            SCOPED_TRACE(value);
            (handler.*c.set)(value);
            EXPECT_EQ((handler.*c.get)(), read);
            EXPECT_EQ(errors(), value == read || c.outOfRangeError.empty() ? Texts{} : Texts{c.outOfRangeError});
        }

    // Only 1, 3 and 5 have names; another number keeps the name before it.
    const std::pair<std::int32_t, const char*> priorities[] = {{2, ""}, {1, "High"}, {2, "High"}, {5, "Low"}, {3, "Normal"}};
    for (auto [priority, name] : priorities) {
        SCOPED_TRACE(priority);
        handler.SetPriority(priority);
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

    // Stuffed and found 8-bit on the wire in the driver's tests; a plain text stays 7-bit.
    handler.SetMessage("Hello ~\r\n\tthere");
    EXPECT_FALSE(handler.EightBitText());
}

TEST_F(EmailHandlerTest, HostsResolvedByDefault)
{
    handler.SetSMTPHost(" 127.0.0.1 ");
    EXPECT_TRUE(holds(LoopbackWithNul, {}));
    // The stored NUL is dropped before the check and appended again by it.
    handler.SetSMTPHost(handler.SMTPHost());
    EXPECT_TRUE(holds(LoopbackWithNul, {}));

    handler.SetSMTPHost(UnresolvableSMTPHost);
    EXPECT_TRUE(holds(LoopbackWithNul, {SMTPHostError}));
    handler.SetPOP3Host(UnresolvablePOP3Host);
    EXPECT_TRUE(holds("", {SMTPHostError, POP3HostError}, Pop3));
    handler.SetPOP3Host(Loopback);
    EXPECT_TRUE(holds(LoopbackWithNul, {SMTPHostError}, Pop3));

    // An empty host, also one made of NULs only, is taken without a check.
    handler.SetSMTPHost(std::string(2, '\0'));
    EXPECT_TRUE(holds("", {}));
}

TEST_F(EmailHandlerTest, HostsCheckedBySyntaxOrNotAtAll)
{
    handler.SetSMTPHostValidation(1);
    handler.SetSMTPHost(" localhost ");
    EXPECT_TRUE(holds(" localhost ", {}));
    handler.SetSMTPHost(std::string("mail.example.com") + '\0');
    EXPECT_TRUE(holds("mail.example.com", {}));
    handler.SetSMTPHost("mail");
    EXPECT_TRUE(holds("mail.example.com", {SMTPHostError}));

    for (std::int32_t unchecked : {0, 4, -1}) {
        handler.SetSMTPHostValidation(unchecked);
        handler.SetSMTPHost("not a host");
        EXPECT_TRUE(holds("not a host", {})) << unchecked;
    }
}

TEST_F(EmailHandlerTest, ModeChangeChecksTheHostLastAskedFor)
{
    handler.SetSMTPHostValidation(0);
    handler.SetSMTPHost(UnresolvableSMTPHost);
    handler.SetPOP3Host(UnresolvablePOP3Host);
    // Only the SMTP host is checked again, and a refusal keeps it.
    handler.SetSMTPHostValidation(3);
    EXPECT_TRUE(holds(UnresolvableSMTPHost, {SMTPHostError}));
    EXPECT_TRUE(holds(UnresolvablePOP3Host, {SMTPHostError}, Pop3));
    handler.SetSMTPHostValidation(0);
    EXPECT_TRUE(holds(UnresolvableSMTPHost, {}));

    // A passing check under the new mode stores the host in that mode's form.
    handler.SetSMTPHost(Loopback);
    handler.SetSMTPHostValidation(3);
    EXPECT_TRUE(holds(LoopbackWithNul, {}));
    handler.SetSMTPHostValidation(1);
    EXPECT_TRUE(holds(Loopback, {}));

    // The host in use is checked, not its spelling as assigned: blanks that resolution trimmed stay trimmed.
    handler.SetSMTPHost(" " + std::string(Loopback) + " ");
    handler.SetSMTPHostValidation(3);
    EXPECT_TRUE(holds(LoopbackWithNul, {}));
    for (int mode : {1, 4}) {
        handler.SetSMTPHostValidation(mode);
        EXPECT_TRUE(holds(Loopback, {})) << mode;
    }

    // Checking the host kept after a refusal instead of the refused one would pass and hide the refusal.
    handler.SetSMTPHostValidation(3);
    handler.SetSMTPHost(UnresolvableSMTPHost);
    handler.SetSMTPHostValidation(3);
    EXPECT_TRUE(holds(LoopbackWithNul, {SMTPHostError}));
    // Under a mode that accepts it, the host asked for is taken.
    handler.SetSMTPHostValidation(0);
    EXPECT_TRUE(holds(UnresolvableSMTPHost, {}));
}

TEST_F(EmailHandlerTest, HostsCheckedByPing)
{
    handler.SetSMTPHostValidation(2);
    // The echo takes dotted addresses only: a name fails before anything is sent.
    handler.SetSMTPHost("localhost");
    handler.SetPOP3Host("localhost");
    EXPECT_TRUE(holds("", {SMTPHostError, POP3HostError}));

    const mdlPing::EchoSocket probe = mdlPing::OpenEchoSocket(::inet_addr("127.0.0.1"));
    if (probe.fd < 0)
        GTEST_SKIP() << "this system allows neither ICMP datagram sockets (net.ipv4.ping_group_range) "
                        "nor raw sockets (CAP_NET_RAW), so no echo can be sent to 127.0.0.1";
    ::close(probe.fd);
    handler.SetSMTPHost(Loopback);
    handler.SetPOP3Host(LoopbackWithNul);
    EXPECT_TRUE(holds(Loopback, {}));
    EXPECT_TRUE(holds(Loopback, {}, Pop3));
}

TEST(EmailHandlerLifetime, DestructionClosesAnOpenSocketButNotAGoneOne)
{
    auto listening = std::make_unique<SocketControl>(), early = std::make_unique<SocketControl>();
    for (SocketControl* socket : {listening.get(), early.get()}) {
        socket->SetLocalAddress(QHostAddress::LocalHost);
        socket->Listen();
    }
    ASSERT_NE(listening->State(), SocketState::Closed);
    {
        clsEmailHandler handler(*listening);
        handler.Shutdown();
        EXPECT_NE(listening->State(), SocketState::Closed);
    }
    EXPECT_EQ(listening->State(), SocketState::Closed);

    // A socket that goes first is not touched afterwards.
    auto handler = std::make_unique<clsEmailHandler>(*early);
    early.reset();
    handler.reset();
}
