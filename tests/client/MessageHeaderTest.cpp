#include "TestKit.h"
#include "MessageHeader.h"

using Lines = std::vector<HeaderLine>;
const auto shown = [](std::string text) { return HeaderLine{std::move(text), true}; };
const auto quiet = [](std::string text) { return HeaderLine{std::move(text), false}; };

TEST(MessageHeader, OptionalLinesFollowTheirConditions)
{
    // Copies only: the To line is still there, empty. Normal priority, no receipt, 7-bit body.
    MessageHeaderFields fields{.messageId = "id@h",
                               .FromHeader = "\"me@h\" <me@h>",
                               .CcList = "\"c@h\" <c@h>",
                               .Subject = "S",
                               .date = "D",
                               .Priority = 3,
                               .PriorityName = "Normal"};
    const Lines lines = composeHeaderLines(fields);
    ASSERT_EQ(lines.size(), 11u);
    EXPECT_EQ(lines[2], shown("To: "));
    EXPECT_EQ(lines[7], quiet("X-Mailer: Quellpost1.0 (build 0)"));
    EXPECT_EQ(lines[10], shown("Content-Transfer-Encoding: 7bit"));

    // Any encode type but 0 ends the block at the date, priority and receipt included.
    fields.EncodeType = 1;
    fields.Receipt = true;
    const Lines plain = composeHeaderLines(fields);
    ASSERT_EQ(plain.size(), 6u);
    EXPECT_EQ(plain.back(), shown("Date: D"));
}

TEST(MessageHeader, LineBreaksInValuesNeverStartALine)
{
    const MessageHeaderFields fields{
        .Subject = "Hi\r\nBcc: all@h", .ReplyToAddress = "r@h\nX: y", .date = "D", .EncodeType = 1};
    const Lines lines = composeHeaderLines(fields);
    ASSERT_EQ(lines.size(), 6u);
    EXPECT_EQ(lines[3], shown("Subject: Hi Bcc: all@h"));
    EXPECT_EQ(lines[4], shown("Reply-to: <r@h X: y>"));
    EXPECT_EQ(fromHeaderValue("me@h", "Me\rX: y"), "\"Me X: y\" <me@h>");
    const std::string addresses[] = {"a@h\r\n"};
    const std::string names[] = {"A\r\nB"};
    EXPECT_EQ(addressListValue(addresses, names), "\"A B\" <a@h >");
    EXPECT_EQ(mailFromCommand("me@h>\r\nRCPT TO:<x@h", true),
              "MAIL FROM: <me@h> RCPT TO:<x@h> AUTH=me@h> RCPT TO:<x@h");
    EXPECT_EQ(rcptToCommand("x@h\r\nDATA"), "RCPT TO: <x@h DATA>");
    EXPECT_EQ(senderDomain("me@h\r\nMAIL"), "h MAIL");
    // The greeting names what follows the first "@", or the whole sender without one.
    EXPECT_EQ(senderDomain("a@b@c"), "b@c");
    EXPECT_EQ(senderDomain("nobody"), "nobody");
}
