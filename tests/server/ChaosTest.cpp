#include "TestKit.h"
#include "ChaosTriggers.h"
#include "SmtpDialogue.h"

// The command line's form: every malformed item refused with a reason, steps not named reset.
TEST(Chaos, TriggersFromTheCommandLine)
{
    struct Case {
        const char* text;
        bool valid;
        ChaosTrigger sender, recipient, data, authentication;
    };
    const Case cases[] = {
        {"", true, {451, 0}, {451, 0}, {451, 0}, {535, 0}},
        {"Recipient:421:100", true, {451, 0}, {421, 100}, {451, 0}, {535, 0}},
        {"sender:550:5, RECIPIENTS:452:50,data:554:100,auth:454:1", true, {550, 5}, {452, 50}, {554, 100}, {454, 1}},
        {"authentication:599:0", true, {451, 0}, {451, 0}, {451, 0}, {599, 0}},
        {"recipient:399:100", false, {}, {}, {}, {}},
        {"recipient:600:100", false, {}, {}, {}, {}},
        {"recipient:4510:100", false, {}, {}, {}, {}},
        {"recipient:451:101", false, {}, {}, {}, {}},
        {"recipient:451:-1", false, {}, {}, {}, {}},
        {"recipient:451:5.5", false, {}, {}, {}, {}},
        {"recipient:451", false, {}, {}, {}, {}},
        {"helo:451:100", false, {}, {}, {}, {}},
        {"sender:451:100,", true, {451, 100}, {451, 0}, {451, 0}, {535, 0}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        ChaosTriggers chaos;
        chaos.set(ChaosStep::Data, {500, 7}); // replaced by any valid setting
        std::string error;
        ASSERT_EQ(chaos.configure(c.text, error), c.valid) << error;
        EXPECT_EQ(error.empty(), c.valid);
        if (!c.valid) {
            EXPECT_EQ(chaos.trigger(ChaosStep::Data), (ChaosTrigger{500, 7})) << "a refused setting changes nothing";
            continue;
        }
        EXPECT_EQ(chaos.trigger(ChaosStep::Sender), c.sender);
        EXPECT_EQ(chaos.trigger(ChaosStep::Recipient), c.recipient);
        EXPECT_EQ(chaos.trigger(ChaosStep::Data), c.data);
        EXPECT_EQ(chaos.trigger(ChaosStep::Authentication), c.authentication);
    }
}

// 0 and 100 are certain; between, a seed gives the same draws every time, near the probability.
TEST(Chaos, DrawsAreCertainAtTheEndsAndRepeatForASeed)
{
    ChaosTriggers chaos;
    chaos.set(ChaosStep::Sender, {450, 100});
    chaos.set(ChaosStep::Recipient, {550, 30});
    EXPECT_EQ(chaos.fire(ChaosStep::Sender), 0) << "off until switched on";
    chaos.setEnabled(true);
    const auto draws = [&chaos](std::uint64_t seed) {
        chaos.seed(seed);
        std::string fired;
        for (int i = 0; i < 1000; ++i) {
            EXPECT_EQ(chaos.fire(ChaosStep::Sender), 450);
            EXPECT_EQ(chaos.fire(ChaosStep::Data), 0);
            fired += chaos.fire(ChaosStep::Recipient) == 550 ? '1' : '0';
        }
        return fired;
    };
    const std::string first = draws(42);
    EXPECT_EQ(draws(42), first);
    EXPECT_NE(draws(43), first);
    const auto count = std::count(first.begin(), first.end(), '1');
    EXPECT_GT(count, 240);
    EXPECT_LT(count, 360);
}

// Each step refused at its command: the reply as configured, the step not taken, nothing kept;
// switched off, the same triggers leave the dialogue as it always was.
TEST(Chaos, EachStepIsRefusedWhereItsCommandIsAnswered)
{
    const std::string Ok = "250 OK\r\n";
    const std::string GoAhead = "354 send the mail data, end with .\r\n";
    struct Case {
        ChaosStep step;
        int code;
        std::vector<std::string> lines;
        std::string replies;
    };
    const std::vector<std::string> mail{"MAIL FROM:<a@x>", "RCPT TO:<b@x>", "DATA", "body", "."};
    const Case cases[] = {
        {ChaosStep::Sender, 451, mail,
         "451 Chaos sender error\r\n" + Ok + "503 5.5.1 Error: the sender was refused\r\n500 \r\n" + Ok},
        {ChaosStep::Recipient, 550, mail,
         Ok + "550 Chaos recipient error\r\n554 5.5.1 Error: no valid recipients\r\n500 \r\n" + Ok},
        {ChaosStep::Data, 554, mail, Ok + Ok + GoAhead + "554 Chaos data error\r\n"},
        {ChaosStep::Authentication,
         535,
         {"EHLO x", "AUTH PLAIN AGFwcABzZWNyZXQ=", "AUTH NTLM"},
         "535 Chaos authentication error\r\n504 5.5.4 Unrecognized authentication type\r\n"},
    };
    for (bool enabled : {true, false}) {
        for (const Case& c : cases) {
            SCOPED_TRACE(std::string(ChaosTriggers::stepName(c.step)) + (enabled ? " on" : " off"));
            ChaosTriggers chaos;
            chaos.setEnabled(enabled);
            chaos.set(c.step, {c.code, 100});
            SmtpDialogue smtp;
            smtp.state.extensions = c.step == ChaosStep::Authentication;
            smtp.state.chaos = &chaos;
            const std::string replies = smtp.script(c.lines);
            if (!enabled) {
                EXPECT_EQ(replies.find("Chaos"), std::string::npos);
                continue;
            }
            const std::size_t ehlo = replies.find("AUTH PLAIN LOGIN CRAM-MD5\r\n");
            EXPECT_EQ(ehlo == std::string::npos ? replies : replies.substr(ehlo + 27), c.replies);
            EXPECT_TRUE(smtp.stored.empty());
            EXPECT_TRUE(smtp.state.authUser.empty());
        }
    }
}

// A refused recipient among accepted ones leaves the message to them; a new transaction
// forgets the refusal; 421 closes the connection, as RFC 5321 gives it.
TEST(Chaos, RefusalsLastOneTransaction)
{
    ChaosTriggers chaos;
    chaos.setEnabled(true);
    SmtpDialogue smtp;
    smtp.state.chaos = &chaos;
    smtp.script({"MAIL FROM:<a@x>", "RCPT TO:<b@x>"});
    chaos.set(ChaosStep::Recipient, {421, 100});
    EXPECT_EQ(smtp.client("RCPT TO:<c@x>"), "421 Chaos recipient error\r\n");
    EXPECT_TRUE(smtp.ended);
    chaos.set(ChaosStep::Recipient, {451, 0});
    smtp.script({"DATA", "x", "."});
    ASSERT_EQ(smtp.stored.size(), 1U);
    EXPECT_EQ(smtp.stored[0][1], "<b@x>");
    chaos.set(ChaosStep::Sender, {451, 100});
    smtp.client("MAIL FROM:<a@x>");
    chaos.set(ChaosStep::Sender, {451, 0});
    EXPECT_EQ(smtp.script({"MAIL FROM:<a@x>", "DATA"}), "250 OK\r\n354 send the mail data, end with .\r\n");
}
