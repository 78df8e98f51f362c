#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "MessageHeader.h"

namespace {

using Lines = std::vector<HeaderLine>;

HeaderLine shown(std::string text)
{
    return {std::move(text), true};
}

HeaderLine quiet(std::string text)
{
    return {std::move(text), false};
}

} // namespace

TEST(MessageHeader, FullBlockInOrder)
{
    const std::string from = FromHeaderValue("me@localhost", "Me Myself");
    const std::vector<std::string> to{"a@localhost", "b@localhost"};
    const std::vector<std::string> toNames{"", "B\xE9\x62\xE9"};
    const std::vector<std::string> cc{"c@localhost"};
    const std::string toList = AddressListValue(to, toNames);
    const std::string ccList = AddressListValue(cc, {});
    const Lines lines = ComposeHeaderLines({
        .MessageId = "20260101120000000.abc@127.0.0.1",
        .FromHeader = from,
        .ToList = toList,
        .CcList = ccList,
        .Subject = "Hello",
        .ReplyToAddress = "r@localhost",
        .Date = "Thu, 1 Jan 2026 12:00:00 +0000",
        .EncodeType = 0,
        .Priority = 1,
        .PriorityName = "High",
        .Receipt = true,
        .EightBitText = true,
    });
    EXPECT_EQ(lines, (Lines{
                         quiet("Message-ID: <20260101120000000.abc@127.0.0.1>"),
                         shown("From: \"Me Myself\" <me@localhost>"),
                         shown("To: \"a@localhost\" <a@localhost>, \r\n\t=?ISO-8859-1?B?Quli6Q==?= <b@localhost>"),
                         shown("Cc: \"c@localhost\" <c@localhost>"),
                         shown("Subject: Hello"),
                         shown("Reply-to: <r@localhost>"),
                         shown("Date: Thu, 1 Jan 2026 12:00:00 +0000"),
                         shown("MIME-Version: 1.0"),
                         quiet("X-Priority: 1"),
                         quiet("X-MSMail-Priority: High"),
                         quiet("X-Mailer: Quellpost1.0 (build 0)"),
                         quiet("Disposition-Notification-To: \"Me Myself\" <me@localhost>"),
                         shown("Content-Type: text/plain;"),
                         shown("\tcharset=\"iso-8859-1\""),
                         shown("Content-Transfer-Encoding: 8bit"),
                     }));
}

TEST(MessageHeader, OptionalLinesFollowTheirConditions)
{
    // Copies only: the To line is still there, empty. Normal priority, no receipt, 7-bit body.
    MessageHeaderFields fields{.MessageId = "id@h", .FromHeader = "\"me@h\" <me@h>", .CcList = "\"c@h\" <c@h>",
                               .Subject = "S", .Date = "D", .Priority = 3, .PriorityName = "Normal"};
    EXPECT_EQ(ComposeHeaderLines(fields),
              (Lines{quiet("Message-ID: <id@h>"), shown("From: \"me@h\" <me@h>"), shown("To: "),
                     shown("Cc: \"c@h\" <c@h>"), shown("Subject: S"), shown("Date: D"), shown("MIME-Version: 1.0"),
                     quiet("X-Mailer: Quellpost1.0 (build 0)"), shown("Content-Type: text/plain;"),
                     shown("\tcharset=\"iso-8859-1\""), shown("Content-Transfer-Encoding: 7bit")}));

    // Any priority but normal names itself, whatever name it has.
    fields.Priority = 2;
    fields.PriorityName = "";
    const Lines withPriority = ComposeHeaderLines(fields);
    EXPECT_EQ(withPriority[7], quiet("X-Priority: 2"));
    EXPECT_EQ(withPriority[8], quiet("X-MSMail-Priority: "));

    // Any encode type but 0 ends the block at the date, priority and receipt included.
    fields.EncodeType = 1;
    fields.Receipt = true;
    const Lines plain = ComposeHeaderLines(fields);
    ASSERT_EQ(plain.size(), 6u);
    EXPECT_EQ(plain.back(), shown("Date: D"));
}

TEST(MessageHeader, AddressListsFoldAndQuote)
{
    const std::vector<std::string> three{"a@h", "b@h", "c@h"};
    EXPECT_EQ(AddressListValue(three, std::vector<std::string>{"Ann", "", "Cy"}),
              "\"Ann\" <a@h>, \r\n\t\"b@h\" <b@h>, \r\n\t\"Cy\" <c@h>");
    EXPECT_EQ(AddressListValue(std::vector<std::string>{"a@h"}, {}), "\"a@h\" <a@h>");
    EXPECT_EQ(AddressListValue({}, {}), "");
    // Quotes inside a plain name are not escaped: the name goes out as given.
    EXPECT_EQ(FromHeaderValue("me@h", "  "), "\"me@h\" <me@h>");
    EXPECT_EQ(FromHeaderValue("me@h", "The \"Boss\""), "\"The \"Boss\"\" <me@h>");
}

TEST(MessageHeader, EnvelopeCommands)
{
    EXPECT_EQ(MailFromCommand("me@h", false), "MAIL FROM: <me@h>");
    EXPECT_EQ(MailFromCommand("me@h", true), "MAIL FROM: <me@h> AUTH=me@h");
    EXPECT_EQ(RcptToCommand("you@h"), "RCPT TO: <you@h>");
    EXPECT_EQ(SenderDomain("me@example.com"), "example.com");
    EXPECT_EQ(SenderDomain("a@b@c"), "b@c");
    EXPECT_EQ(SenderDomain("nobody"), "nobody");
}

TEST(MessageHeader, DisplayNamesFitTheirAddresses)
{
    std::vector<std::string> names;
    FitDisplayNames(names, 2);
    EXPECT_EQ(names, (std::vector<std::string>{"", ""}));
    names = {"A", "B", "C"};
    FitDisplayNames(names, 2);
    EXPECT_EQ(names, (std::vector<std::string>{"A", "B"}));
    FitDisplayNames(names, 0);
    EXPECT_EQ(names, (std::vector<std::string>{"A", "B"}));
}
