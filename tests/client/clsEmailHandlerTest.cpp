#include <cstdint>
#include <limits>

#include <QHostAddress>

#include "TestKit.h"
#include "SocketControl.h"
#include "clsEmailHandler.h"

namespace {

const std::string RecipientError = "Missing or invalid recipient Email address";
const std::string SenderError = "Missing or invalid sender Email address";
const std::string CcError = "Invalid Cc: recipient Email address";
const std::string BccError = "Invalid Bcc: recipient Email address";
const std::string SMTPHostError = "Invalid or missing SMTP host name";
const std::string PortError = "Invalid remote port";

// Names under "invalid" never resolve (RFC 6761); no resolver is asked about them.
const std::string UnresolvableSMTPHost = "smtp.quellpost.invalid";
const std::string Loopback = "127.0.0.1";
const std::string LoopbackWithNul = std::string("127.0.0.1") + '\0';

class EmailHandlerTest : public ::testing::Test {
protected:
    Texts errors() const { return handler.pendingErrorTexts(); }
    // Whether the SMTP host stored is host, with the errors pending.
    ::testing::AssertionResult holds(const std::string& host, const Texts& pending) const
    {
        const std::string stored = handler.SMTPHost();
        if (stored == host && errors() == pending)
            return ::testing::AssertionSuccess();
        return ::testing::AssertionFailure()
            << "holds " << ::testing::PrintToString(stored) << " with errors " << ::testing::PrintToString(errors());
    }

    SocketControl socket;
    clsEmailHandler handler{socket};
};

} // namespace

TEST_F(EmailHandlerTest, EachAddressPropertyHasItsOwnError)
{
    handler.setFrom("  sender  ");
    handler.setRecipient("a@example.com;nobody");
    handler.setCcRecipient("nobody");
    handler.setBccRecipient("x@y@z.com");
    EXPECT_EQ(handler.From(), "sender");
    EXPECT_EQ(errors(), (Texts{SenderError, RecipientError, CcError, BccError}));

    // An empty value has no entries and passes; the other errors keep their places.
    handler.setRecipient("");
    EXPECT_EQ(errors(), (Texts{SenderError, CcError, BccError}));
    handler.setFrom(" me@localhost ");
    handler.setCcRecipient("c@localhost");
    handler.setBccRecipient("b@localhost");
    EXPECT_EQ(handler.From(), "me@localhost");
    EXPECT_TRUE(errors().empty());
}

TEST_F(EmailHandlerTest, ListsSplitCleanAndJoin)
{
    // A trailing separator is kept as an empty entry, and that entry fails the check.
    handler.setRecipient("a@example.com;");
    EXPECT_EQ(handler.Recipient(), "a@example.com;");
    EXPECT_EQ(errors(), Texts{RecipientError});

    // The blank after ", " is cleaned off the stored entry; the check, which trims the domain, passes.
    handler.setDelimiter(", ");
    EXPECT_EQ(handler.Delimiter(), ",");
    handler.setRecipient("a@example.com, b@example.org");
    EXPECT_EQ(handler.Recipient(), "a@example.com,b@example.org");
    EXPECT_TRUE(errors().empty());

    // Reading joins with the separator current at the time.
    handler.setDelimiter(";");
    EXPECT_EQ(handler.Recipient(), "a@example.com;b@example.org");
}

// A port out of range is refused aloud; a magnitude 32 bits cannot hold must not overflow in abs().
TEST_F(EmailHandlerTest, OutOfRangeNumbersLeaveThePreviousValue)
{
    handler.setSMTPPort(65536);
    EXPECT_EQ(handler.SMTPPort(), 25);
    EXPECT_EQ(errors(), Texts{PortError});
    for (std::int32_t value : {-5, std::numeric_limits<std::int32_t>::min()}) {
        handler.setMaxRecipients(value);
        handler.setMessageTimeout(value);
    }
    EXPECT_EQ(handler.MaxRecipients(), 5);
    EXPECT_EQ(handler.MessageTimeout(), 5);
}

// One script of assignments, each followed by the SMTP host held and the errors pending.
TEST_F(EmailHandlerTest, HostsCheckedUnderEachMode)
{
    enum What { Smtp, Mode };
    struct Step {
        What what;
        std::string value;
        std::string smtp;
        Texts errors;
    };
    const Step steps[] = {
        // Resolution, the default, keeps the host trimmed with a NUL; a stored NUL is dropped before the check.
        {Smtp, " 127.0.0.1 ", LoopbackWithNul, {}},
        {Smtp, UnresolvableSMTPHost, LoopbackWithNul, {SMTPHostError}},
        // An empty host, also one of NULs only, is taken without a check.
        {Smtp, std::string(2, '\0'), "", {}},
        // Syntax keeps blanks, drops NULs and refuses a bare name; other modes check nothing.
        {Mode, "1", "", {}},
        {Smtp, "mail.example.com" + std::string(1, '\0'), "mail.example.com", {}},
        {Smtp, "mail", "mail.example.com", {SMTPHostError}},
        {Mode, "0", "mail", {}}, // the refused host, now taken
        // A new mode checks the SMTP host again; after a refusal the refused host is checked: checking the one kept
        // would hide the refusal.
        {Smtp, " 127.0.0.1 ", " 127.0.0.1 ", {}},
        {Mode, "3", LoopbackWithNul, {}},
        // The host in use is checked, not its spelling as assigned: the blanks resolution trimmed stay trimmed.
        {Mode, "1", Loopback, {}},
        {Mode, "3", LoopbackWithNul, {}},
        {Smtp, UnresolvableSMTPHost, LoopbackWithNul, {SMTPHostError}},
        {Mode, "3", LoopbackWithNul, {SMTPHostError}},
        {Mode, "0", UnresolvableSMTPHost, {}},
    };
    for (std::size_t i = 0; i < std::size(steps); ++i) {
        const Step& step = steps[i];
        SCOPED_TRACE(i);
        if (step.what == Smtp)
            handler.setSMTPHost(step.value);
        else
            handler.setSMTPHostValidation(std::stoi(step.value));
        EXPECT_TRUE(holds(step.smtp, step.errors));
    }
}

TEST(EmailHandlerLifetime, DestructionClosesAnOpenSocketButNotAGoneOne)
{
    auto listening = std::make_unique<SocketControl>(), early = std::make_unique<SocketControl>();
    for (SocketControl* socket : {listening.get(), early.get()}) {
        socket->setLocalAddress(QHostAddress::LocalHost);
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
