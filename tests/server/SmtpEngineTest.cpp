#include "TestKit.h"
#include "RecordingMessageBoxes.h"
#include "SmtpDialogue.h"

namespace {

const std::string Ok = "250 OK\r\n";
const std::string GoAhead = "354 send the mail data, end with .\r\n";

// Replies written one letter each: o for "250 OK", g for the "354" that starts the data.
std::string replies(const std::string& letters)
{
    std::string replies;
    for (char letter : letters)
        replies += letter == 'o' ? Ok : GoAhead;
    return replies;
}

} // namespace

// Each line alone on a new connection: its replies, whether it is known, and nothing kept.
TEST(SmtpEngine, EveryCommandHasItsReply)
{
    const auto expect = [](const std::string& line, const std::string& replies, bool known) {
        SmtpDialogue smtp;
        EXPECT_EQ(smtp.client(line), replies) << line;
        EXPECT_EQ(smtp.lastResult, known) << line;
        EXPECT_TRUE(smtp.stored.empty()) << line;
    };
    expect("HELO client.example", "250-127.0.0.1 SMTP mode ready\r\n" + Ok, true);
    expect("QUIT", "221 127.0.0.1 Service closing transmission channel\r\n", true);
    expect("DATA", GoAhead, true);
    expect("HELP", "211 \r\n", true);
    for (const char* line : {"EHLO client", "AUTH LOGIN"})
        expect(line, "500 \r\n", true);
    // Only the first four characters count; "." outside a data phase has nothing to store.
    for (const char* line : {"VRFY bob", "TURN", "noop", "RSET", "SEND", "SOML", "SAML", "EXPN x", "NOOPXYZ", "."})
        expect(line, Ok, true);
    for (const char* line : {"", "XYZW", "HEL", ".abc"})
        expect(line, "500 \r\n", false);
}

// One message per data phase, taken verbatim but for a leading dot; recipients kept in order.
TEST(SmtpEngine, TransactionsKeepWhatTheirDataPhaseCollected)
{
    struct Case {
        const char* name;
        std::vector<std::string> lines;
        const char* replies;
        std::vector<SmtpDialogue::Message> stored;
    };
    const Case cases[] = {
        {"nothing could be taken, not even data", {"MAIL FROM: x", "RCPT TO: y", "DATA", "."}, "oogo", {{"", "", ""}}},
        {"the next data phase starts empty; a second '.' stores nothing",
         {"MAIL FROM:<a@x>", "RCPT TO:<b@x>", "DATA", "x", ".", "DATA", "y", ".", "."},
         "oogogoo",
         {{"<a@x>", "<b@x>", "x\r\n"}, {"", "", "y\r\n"}}},
        {"MAIL forgets earlier recipients; all later ones kept in order",
         {"MAIL FROM:<old@x>", "RCPT TO:<stale@x>", "MAIL FROM:<a@x>", "RCPT TO:<b@x>", "RCPT TO: nothing to take",
          "RCPT TO:<c@x>", "RCPT TO:<d@x>", "DATA", "."},
         "ooooooogo",
         {{"<a@x>", "<b@x>, <c@x>, <d@x>", ""}}},
        {"RSET empties the transaction",
         {"MAIL FROM:<a@x>", "RCPT TO:<b@x>", "RSET", "DATA", "."},
         "ooogo",
         {{"", "", ""}}},
        {"data lines verbatim but for the stuffed dot",
         {"MAIL FROM:<a@x>", "DATA", "..", "..leading dot", "QUIT", "MAIL FROM:<evil@x>", "a lone\rCR and \nLF", "",
          "\xE4\xF6\xFC 8-bit", "."},
         "ogo",
         {{"<a@x>", "",
           ".\r\n.leading dot\r\nQUIT\r\nMAIL FROM:<evil@x>\r\na lone\rCR and \nLF\r\n\r\n"
           "\xE4\xF6\xFC 8-bit\r\n"}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        SmtpDialogue smtp;
        EXPECT_EQ(smtp.script(c.lines), replies(c.replies));
        EXPECT_EQ(smtp.stored, c.stored);
    }
}

// RFC 5321 has the server close after QUIT; the plain dialogue leaves it to the client.
TEST(SmtpEngine, QuitEndsTheSessionInTheModernDialogueOnly)
{
    for (bool modern : {false, true}) {
        SmtpDialogue smtp;
        smtp.state.extensions = modern;
        smtp.client("QUIT");
        EXPECT_EQ(smtp.ended, modern);
    }
}

TEST(SmtpEngine, PathExtraction)
{
    struct Case {
        std::string line, from, to;
    };
    const Case cases[] = {
        {"MAIL FROM: <a@x.com>", "<a@x.com>", ""},
        {"MAIL FROM:<a@x.com> SIZE=100 BODY=8BITMIME", "<a@x.com>", ""},
        {"mail from:<a@x.com>", "<a@x.com>", ""},
        {"MAIL FROM:<>", "<>", ""},
        {"MAIL FROM:a@x.com", "", ""},
        {"MAIL  FROM:<a@x.com>", "", ""},
        {"MAIL FROM<a@x.com>", "", ""}, // keyword or "<" out of place
        {"MAIL FROM:<a@x.com", "", ""},
        {"rcpt to: <b@x.com> NOTIFY=NEVER", "", "<b@x.com>"},
        {"RCPT TO:<b>", "", "<b>"},
        {"RCPT TO:b@x.com", "", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.line);
        EXPECT_EQ(mdlSMTP::SmtpExtractFrom(c.line), c.from);
        EXPECT_EQ(mdlSMTP::SmtpExtractTo(c.line), c.to);
    }
}

TEST(SmtpEngine, ALostReplyIsReportedNamingTheProcedure)
{
    RecordingMessageBoxes boxes;
    SmtpDialogue smtp;
    smtp.sendFails = true;
    smtp.client("QUIT");
    EXPECT_TRUE(smtp.lastResult); // the line was handled; only its reply was lost
    ASSERT_EQ(boxes.boxes().size(), 1u);
    EXPECT_TRUE(boxes.boxes()[0].text.ends_with("\rSource: SmtpReply")) << boxes.boxes()[0].text;
}
