#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "RecordingMessageBoxes.h"
#include "SmtpDialogue.h"

using Replies = std::vector<std::string>;

TEST(SmtpEngine, WholeDialogueRepliesExactlyAndKeepsTheMessage)
{
    SmtpDialogue smtp;
    EXPECT_EQ(smtp.client("HELO client.example"),
              (Replies{"250-127.0.0.1 SMTP mode ready\r\n", "250 OK\r\n"}));
    EXPECT_EQ(smtp.client("MAIL FROM:<alice@example.com>"), Replies{"250 OK\r\n"});
    EXPECT_EQ(smtp.client("RCPT TO:<bob@example.com>"), Replies{"250 OK\r\n"});
    EXPECT_EQ(smtp.client("DATA"), Replies{"354 send the mail data, end with .\r\n"});
    EXPECT_EQ(smtp.client("Subject: hi"), Replies{});
    EXPECT_EQ(smtp.client("line two"), Replies{});
    EXPECT_TRUE(smtp.lastResult);
    EXPECT_EQ(smtp.client("."), Replies{"250 OK\r\n"});
    EXPECT_EQ(smtp.client("QUIT"), Replies{"221 127.0.0.1 Service closing transmission channel\r\n"});

    ASSERT_EQ(smtp.stored.size(), 1u);
    EXPECT_EQ(smtp.stored[0].sender, "<alice@example.com>");
    EXPECT_EQ(smtp.stored[0].recipients, "<bob@example.com>");
    EXPECT_EQ(smtp.stored[0].body, "Subject: hi\r\nline two\r\n");
}

TEST(SmtpEngine, CommandTableAndUnknownCommands)
{
    struct Case {
        std::string line;
        std::string reply;
        bool known;
    };
    const Case cases[] = {
        {"EHLO client", "500 \r\n", true},
        {"AUTH LOGIN", "500 \r\n", true},
        {"HELP", "211 \r\n", true},
        {"VRFY bob", "250 OK\r\n", true},
        {"TURN", "250 OK\r\n", true},
        {"noop", "250 OK\r\n", true},
        {"RSET", "250 OK\r\n", true},
        {"SEND", "250 OK\r\n", true},
        {"SOML", "250 OK\r\n", true},
        {"SAML", "250 OK\r\n", true},
        {"EXPN x", "250 OK\r\n", true},
        {"NOOPXYZ", "250 OK\r\n", true}, // only the first four characters count
        {".", "250 OK\r\n", true},       // outside a data phase: nothing to store
        {"", "500 \r\n", false},
        {"XYZW", "500 \r\n", false},
        {"HEL", "500 \r\n", false},
        {".abc", "500 \r\n", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.line);
        SmtpDialogue smtp;
        EXPECT_EQ(smtp.client(c.line), Replies{c.reply});
        EXPECT_EQ(smtp.lastResult, c.known);
        EXPECT_TRUE(smtp.stored.empty());
    }
}

TEST(SmtpEngine, ConnectionsKeepTheirOwnTransactions)
{
    SmtpDialogue first;
    SmtpDialogue second;
    first.client("MAIL FROM:<one@example.com>");
    second.client("MAIL FROM:<two@example.com>");
    first.client("RCPT TO:<a@example.com>");
    second.client("RCPT TO:<b@example.com>");
    first.client("DATA");
    second.client("DATA");
    first.client("first body");
    second.client("second body");
    second.client(".");
    first.client(".");

    ASSERT_EQ(first.stored.size(), 1u);
    ASSERT_EQ(second.stored.size(), 1u);
    EXPECT_EQ(first.stored[0].sender, "<one@example.com>");
    EXPECT_EQ(first.stored[0].recipients, "<a@example.com>");
    EXPECT_EQ(first.stored[0].body, "first body\r\n");
    EXPECT_EQ(second.stored[0].sender, "<two@example.com>");
    EXPECT_EQ(second.stored[0].recipients, "<b@example.com>");
    EXPECT_EQ(second.stored[0].body, "second body\r\n");
}

TEST(SmtpEngine, EveryDataPhaseYieldsExactlyOneMessage)
{
    SmtpDialogue smtp;
    // Neither sender nor recipient could be taken, and the data is empty: still kept.
    smtp.client("MAIL FROM: nobody");
    smtp.client("RCPT TO: nobody");
    smtp.client("DATA");
    EXPECT_EQ(smtp.client("."), Replies{"250 OK\r\n"});
    ASSERT_EQ(smtp.stored.size(), 1u);
    EXPECT_EQ(smtp.stored[0].sender, "");
    EXPECT_EQ(smtp.stored[0].recipients, "");
    EXPECT_EQ(smtp.stored[0].body, "");

    // The next transaction starts empty: no sender or recipient carried over.
    smtp.client("MAIL FROM:<a@example.com>");
    smtp.client("RCPT TO:<b@example.com>");
    smtp.client("DATA");
    smtp.client("x");
    smtp.client(".");
    smtp.client("DATA");
    smtp.client("y");
    smtp.client(".");
    ASSERT_EQ(smtp.stored.size(), 3u);
    EXPECT_EQ(smtp.stored[1].sender, "<a@example.com>");
    EXPECT_EQ(smtp.stored[2].sender, "");
    EXPECT_EQ(smtp.stored[2].recipients, "");
    EXPECT_EQ(smtp.stored[2].body, "y\r\n");

    // A second "." outside the data phase stores nothing more.
    EXPECT_EQ(smtp.client("."), Replies{"250 OK\r\n"});
    EXPECT_EQ(smtp.stored.size(), 3u);
}

TEST(SmtpEngine, RefusedStoreIsNeverAnswered250)
{
    SmtpDialogue smtp;
    smtp.storeRefuses = true;
    smtp.client("MAIL FROM:<a@example.com>");
    smtp.client("RCPT TO:<b@example.com>");
    smtp.client("DATA");
    smtp.client("body");
    const Replies replies = smtp.client(".");
    ASSERT_EQ(replies.size(), 1u);
    EXPECT_EQ(replies[0].substr(0, 4), "452 ");
    EXPECT_GT(replies[0].size(), 6u);
    EXPECT_FALSE(smtp.state.InDataPhase);
    EXPECT_TRUE(smtp.state.PendingSender.empty());
}

TEST(SmtpEngine, AllRecipientsKeptInOrder)
{
    SmtpDialogue smtp;
    smtp.client("MAIL FROM:<old@example.com>");
    smtp.client("RCPT TO:<stale@example.com>");
    smtp.client("MAIL FROM:<a@example.com>"); // a new transaction forgets earlier recipients
    smtp.client("RCPT TO:<b@example.com>");
    EXPECT_EQ(smtp.client("RCPT TO: nothing to take"), Replies{"250 OK\r\n"});
    smtp.client("RCPT TO:<c@example.com>");
    smtp.client("RCPT TO:<d@example.com>");
    smtp.client("DATA");
    smtp.client(".");
    ASSERT_EQ(smtp.stored.size(), 1u);
    EXPECT_EQ(smtp.stored[0].recipients, "<b@example.com>, <c@example.com>, <d@example.com>");

    smtp.client("MAIL FROM:<a@example.com>");
    smtp.client("RCPT TO:<b@example.com>");
    smtp.client("RSET");
    smtp.client("DATA");
    smtp.client(".");
    ASSERT_EQ(smtp.stored.size(), 2u);
    EXPECT_EQ(smtp.stored[1].sender, "");
    EXPECT_EQ(smtp.stored[1].recipients, "");
}

TEST(SmtpEngine, PathExtraction)
{
    struct Case {
        std::string line;
        std::string from;
        std::string to;
    };
    const Case cases[] = {
        {"MAIL FROM:<a@example.com>", "<a@example.com>", ""},
        {"MAIL FROM: <a@example.com>", "<a@example.com>", ""},
        {"MAIL FROM:<a@example.com> SIZE=100 BODY=8BITMIME", "<a@example.com>", ""},
        {"mail from:<a@example.com>", "<a@example.com>", ""},
        {"MAIL FROM:<>", "<>", ""},
        {"MAIL FROM:<a>", "<a>", ""},
        {"MAIL FROM:a@example.com", "", ""},
        {"MAIL  FROM:<a@example.com>", "", ""}, // keyword not where MAIL puts it
        {"MAIL FROM:<a@example.com", "", ""},
        {"RCPT TO:<b@example.com>", "", "<b@example.com>"},
        {"rcpt to: <b@example.com> NOTIFY=NEVER", "", "<b@example.com>"},
        {"RCPT TO:<b>", "", "<b>"},
        {"RCPT TO:b@example.com", "", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.line);
        EXPECT_EQ(mdlSMTP::SmtpExtractFrom(c.line), c.from);
        EXPECT_EQ(mdlSMTP::SmtpExtractTo(c.line), c.to);
    }
}

TEST(SmtpEngine, DataLinesAreTakenVerbatimButForTheStuffedDot)
{
    SmtpDialogue smtp;
    smtp.client("MAIL FROM:<a@example.com>");
    smtp.client("RCPT TO:<b@example.com>");
    smtp.client("DATA");
    smtp.client("..");
    smtp.client("..leading dot");
    smtp.client("QUIT");
    smtp.client("MAIL FROM:<evil@example.com>");
    smtp.client("a lone\rCR and \nLF");
    smtp.client("");
    smtp.client("\xE4\xF6\xFC 8-bit");
    EXPECT_EQ(smtp.replies.size(), 3u); // data lines are not answered
    smtp.client(".");
    ASSERT_EQ(smtp.stored.size(), 1u);
    EXPECT_EQ(smtp.stored[0].sender, "<a@example.com>");
    EXPECT_EQ(smtp.stored[0].body,
              ".\r\n.leading dot\r\nQUIT\r\nMAIL FROM:<evil@example.com>\r\na lone\rCR and \nLF\r\n\r\n"
              "\xE4\xF6\xFC 8-bit\r\n");
}

TEST(SmtpEngine, ReplyTable)
{
    struct Case {
        long code;
        std::string text;
        std::string line;
    };
    const Case cases[] = {
        {211, "", "211 \r\n"}, {214, "help", "214 help\r\n"}, {220, "", "220 Quellpost\r\n"},
        {221, "bye", "221 bye\r\n"}, {250, "", "250 OK\r\n"}, {250, "more", "250-more\r\n"},
        {251, "x", "251 x\r\n"}, {354, "go", "354 go\r\n"}, {421, "x", "421 x\r\n"},
        {450, "x", "450 x\r\n"}, {451, "x", "451 x\r\n"}, {452, "x", "452 x\r\n"},
        {500, "", "500 \r\n"}, {501, "x", "501 x\r\n"}, {502, "x", "502 x\r\n"},
        {503, "x", "503 x\r\n"}, {504, "x", "504 x\r\n"}, {550, "x", "550 x\r\n"},
        {551, "x", "551 x\r\n"}, {552, "x", "552 x\r\n"}, {553, "x", "553 x\r\n"},
        {554, "x", "554 x\r\n"}, {299, "odd", "500 odd\r\n"}, {-1, "", "500 \r\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.code);
        SmtpDialogue smtp;
        mdlSMTP::SmtpReply(smtp, c.code, c.text);
        EXPECT_EQ(smtp.replies, Replies{c.line});
    }
}

TEST(SmtpEngine, FailuresAreReportedNamingTheProcedure)
{
    RecordingMessageBoxes boxes;
    SmtpDialogue smtp;
    smtp.sendFails = true;
    smtp.client("QUIT");
    EXPECT_TRUE(smtp.lastResult); // the line was handled; only its reply was lost
    ASSERT_EQ(boxes.Boxes().size(), 1u);
    EXPECT_EQ(boxes.Boxes()[0].icon, MsgIcon::Critical);
    EXPECT_NE(boxes.Boxes()[0].text.find("\rSource: SmtpReply"), std::string::npos);

    // A bracket beyond what a 16-bit position can hold.
    boxes.Clear();
    const std::string far = "MAIL FROM:" + std::string(40000, ' ') + "<a@example.com>";
    EXPECT_EQ(mdlSMTP::SmtpExtractFrom(far), "");
    ASSERT_EQ(boxes.Boxes().size(), 1u);
    EXPECT_NE(boxes.Boxes()[0].text.find("[6]: Overflow\rSource: SmtpExtractFrom"), std::string::npos);
}

TEST(SmtpEngine, MessagePastTheSizeLimitIsAnswered552AndNotKept)
{
    SmtpDialogue smtp;
    smtp.client("MAIL FROM:<a@example.com>");
    smtp.client("RCPT TO:<b@example.com>");
    smtp.client("DATA");
    const std::string mebibyteLine(1024 * 1024 - 2, 'x');
    for (int i = 0; i < 64; ++i)
        smtp.client(mebibyteLine);
    EXPECT_FALSE(smtp.state.Oversized); // exactly at the limit is still fine
    smtp.client("one line too many");
    EXPECT_TRUE(smtp.state.Oversized);
    EXPECT_EQ(smtp.state.DataBuffer.capacity(), std::string().capacity()); // its memory went back
    const Replies replies = smtp.client(".");
    ASSERT_EQ(replies.size(), 1u);
    EXPECT_TRUE(replies[0].starts_with("552 "));
    EXPECT_TRUE(smtp.stored.empty());

    // The next message is judged on its own.
    smtp.client("MAIL FROM:<a@example.com>");
    smtp.client("DATA");
    smtp.client("small");
    EXPECT_EQ(smtp.client("."), Replies{"250 OK\r\n"});
    ASSERT_EQ(smtp.stored.size(), 1u);
    EXPECT_EQ(smtp.stored[0].body, "small\r\n");
}
