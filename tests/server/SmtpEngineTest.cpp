#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "RecordingMessageBoxes.h"
#include "SmtpDialogue.h"

namespace {

using Replies = std::vector<std::string>;
using Messages = std::vector<SmtpDialogue::Message>;

const std::string Ok = "250 OK\r\n";
const std::string GoAhead = "354 send the mail data, end with .\r\n";

} // namespace

TEST(SmtpEngine, WholeDialogueRepliesExactlyAndKeepsTheMessage)
{
    SmtpDialogue smtp;
    EXPECT_EQ(smtp.client("HELO client.example"), (Replies{"250-127.0.0.1 SMTP mode ready\r\n", Ok}));
    // Data lines are not answered.
    EXPECT_EQ(smtp.script({"MAIL FROM:<alice@example.com>", "RCPT TO:<bob@example.com>", "DATA", "Subject: hi", "two"}),
              (Replies{Ok, Ok, GoAhead}));
    EXPECT_TRUE(smtp.lastResult);
    EXPECT_EQ(smtp.client("."), Replies{Ok});
    EXPECT_EQ(smtp.client("QUIT"), Replies{"221 127.0.0.1 Service closing transmission channel\r\n"});
    EXPECT_EQ(smtp.stored, (Messages{{"<alice@example.com>", "<bob@example.com>", "Subject: hi\r\ntwo\r\n"}}));
}

TEST(SmtpEngine, CommandTableAndUnknownCommands)
{
    struct Case { std::string line, reply; bool known; };
    const Case cases[] = {
        {"EHLO client", "500 \r\n", true}, {"AUTH LOGIN", "500 \r\n", true}, {"HELP", "211 \r\n", true},
        {"VRFY bob", Ok, true}, {"TURN", Ok, true}, {"noop", Ok, true}, {"RSET", Ok, true}, {"SEND", Ok, true},
        {"SOML", Ok, true}, {"SAML", Ok, true}, {"EXPN x", Ok, true},
        {"NOOPXYZ", Ok, true}, // only the first four characters count
        {".", Ok, true},       // outside a data phase: nothing to store
        {"", "500 \r\n", false}, {"XYZW", "500 \r\n", false}, {"HEL", "500 \r\n", false}, {".abc", "500 \r\n", false},
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
    const std::pair<const char*, const char*> steps[] = {
        {"MAIL FROM:<one@x>", "MAIL FROM:<two@x>"}, {"RCPT TO:<a@x>", "RCPT TO:<b@x>"}, {"DATA", "DATA"},
        {"first body", "second body"}};
    for (const auto& [mine, theirs] : steps) {
        first.client(mine);
        second.client(theirs);
    }
    second.client(".");
    first.client(".");
    EXPECT_EQ(first.stored, (Messages{{"<one@x>", "<a@x>", "first body\r\n"}}));
    EXPECT_EQ(second.stored, (Messages{{"<two@x>", "<b@x>", "second body\r\n"}}));
}

// Every data phase yields exactly one message; a transaction starts empty; recipients are kept in
// order; data lines are taken as they are, but for one leading dot.
TEST(SmtpEngine, TransactionsKeepWhatTheirDataPhaseCollected)
{
    struct Case { const char* name; std::vector<std::string> lines; std::size_t replies; Messages stored; };
    const Case cases[] = {
        {"nothing could be taken, not even data", {"MAIL FROM: x", "RCPT TO: y", "DATA", "."}, 4, {{"", "", ""}}},
        {"the next data phase starts empty; a second '.' stores nothing",
         {"MAIL FROM:<a@x>", "RCPT TO:<b@x>", "DATA", "x", ".", "DATA", "y", ".", "."}, 7,
         {{"<a@x>", "<b@x>", "x\r\n"}, {"", "", "y\r\n"}}},
        {"MAIL forgets earlier recipients; all later ones kept in order",
         {"MAIL FROM:<old@x>", "RCPT TO:<stale@x>", "MAIL FROM:<a@x>", "RCPT TO:<b@x>", "RCPT TO: nothing to take",
          "RCPT TO:<c@x>", "RCPT TO:<d@x>", "DATA", "."},
         9, {{"<a@x>", "<b@x>, <c@x>, <d@x>", ""}}},
        {"RSET empties the transaction", {"MAIL FROM:<a@x>", "RCPT TO:<b@x>", "RSET", "DATA", "."}, 5, {{"", "", ""}}},
        {"data lines verbatim but for the stuffed dot",
         {"MAIL FROM:<a@x>", "DATA", "..", "..leading dot", "QUIT", "MAIL FROM:<evil@x>", "a lone\rCR and \nLF", "",
          "\xE4\xF6\xFC 8-bit", "."},
         3, {{"<a@x>", "", ".\r\n.leading dot\r\nQUIT\r\nMAIL FROM:<evil@x>\r\na lone\rCR and \nLF\r\n\r\n"
                           "\xE4\xF6\xFC 8-bit\r\n"}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        SmtpDialogue smtp;
        const Replies replies = smtp.script(c.lines);
        EXPECT_EQ(replies.size(), c.replies);
        for (const std::string& reply : replies)
            EXPECT_TRUE(reply == Ok || reply == GoAhead) << reply;
        EXPECT_EQ(smtp.stored, c.stored);
    }
}

TEST(SmtpEngine, RefusedStoreIsNeverAnswered250)
{
    SmtpDialogue smtp;
    smtp.storeRefuses = true;
    const Replies replies = smtp.script({"MAIL FROM:<a@x>", "RCPT TO:<b@x>", "DATA", "body", "."});
    ASSERT_EQ(replies.size(), 4u);
    EXPECT_TRUE(replies[3].starts_with("452 ") && replies[3].size() > 6) << replies[3];
    EXPECT_FALSE(smtp.state.InDataPhase);
    EXPECT_TRUE(smtp.state.PendingSender.empty());
}

TEST(SmtpEngine, PathExtraction)
{
    struct Case { std::string line, from, to; };
    const Case cases[] = {
        {"MAIL FROM:<a@x.com>", "<a@x.com>", ""}, {"MAIL FROM: <a@x.com>", "<a@x.com>", ""},
        {"MAIL FROM:<a@x.com> SIZE=100 BODY=8BITMIME", "<a@x.com>", ""}, {"mail from:<a@x.com>", "<a@x.com>", ""},
        {"MAIL FROM:<>", "<>", ""}, {"MAIL FROM:<a>", "<a>", ""}, {"MAIL FROM:a@x.com", "", ""},
        {"MAIL  FROM:<a@x.com>", "", ""}, {"MAIL FROM<a@x.com>", "", ""}, // keyword or "<" out of place
        {"MAIL FROM:<a@x.com", "", ""}, {"RCPT TO:<b@x.com>", "", "<b@x.com>"},
        {"rcpt to: <b@x.com> NOTIFY=NEVER", "", "<b@x.com>"}, {"RCPT TO:<b>", "", "<b>"}, {"RCPT TO:b@x.com", "", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.line);
        EXPECT_EQ(mdlSMTP::SmtpExtractFrom(c.line), c.from);
        EXPECT_EQ(mdlSMTP::SmtpExtractTo(c.line), c.to);
    }
}

TEST(SmtpEngine, ReplyTable)
{
    const auto reply = [](long code, std::string_view text) {
        SmtpDialogue smtp;
        mdlSMTP::SmtpReply(smtp, code, text);
        return smtp.replies;
    };
    for (long code : {211, 214, 221, 251, 354, 421, 450, 451, 452, 500, 501, 502, 503, 504, 550, 551, 552, 553, 554}) {
        SCOPED_TRACE(code);
        EXPECT_EQ(reply(code, "x"), Replies{std::to_string(code) + " x\r\n"});
    }
    struct Case { long code; const char* text; const char* line; };
    for (const Case& c : {Case{211, "", "211 \r\n"}, Case{220, "", "220 Quellpost\r\n"}, Case{250, "", "250 OK\r\n"},
                          Case{250, "more", "250-more\r\n"}, Case{299, "odd", "500 odd\r\n"}, Case{-1, "", "500 \r\n"}})
        EXPECT_EQ(reply(c.code, c.text), Replies{c.line}) << c.code;
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
    EXPECT_EQ(mdlSMTP::SmtpExtractFrom("MAIL FROM:" + std::string(40000, ' ') + "<a@x>"), "");
    ASSERT_EQ(boxes.Boxes().size(), 1u);
    EXPECT_NE(boxes.Boxes()[0].text.find("[6]: Overflow\rSource: SmtpExtractFrom"), std::string::npos);
}

TEST(SmtpEngine, MessagePastTheSizeLimitIsAnswered552AndNotKept)
{
    SmtpDialogue smtp;
    smtp.script({"MAIL FROM:<a@x>", "RCPT TO:<b@x>", "DATA"});
    const std::string mebibyteLine(1024 * 1024 - 2, 'x');
    for (int i = 0; i < 64; ++i)
        smtp.client(mebibyteLine);
    EXPECT_FALSE(smtp.state.Oversized); // exactly at the limit is still fine
    smtp.client("one line too many");
    EXPECT_TRUE(smtp.state.Oversized);
    EXPECT_EQ(smtp.state.DataBuffer.capacity(), 0u); // its memory went back
    const Replies replies = smtp.client(".");
    ASSERT_EQ(replies.size(), 1u);
    EXPECT_TRUE(replies[0].starts_with("552 "));
    EXPECT_TRUE(smtp.stored.empty());

    // The next message is judged on its own.
    EXPECT_EQ(smtp.script({"MAIL FROM:<a@x>", "DATA", "small", "."}), (Replies{Ok, GoAhead, Ok}));
    EXPECT_EQ(smtp.bodies(), std::vector<std::string>{"small\r\n"});
}
