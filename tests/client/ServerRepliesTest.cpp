#include <optional>

#include "TestKit.h"
#include "ServerReplies.h"

TEST(ServerReplies, SmtpReplyEndsAtItsLastLine)
{
    struct Case {
        const char* buffer;
        std::optional<std::string> reply;
        const char* rest;
    } cases[] = {
        {"250-first\r\n", std::nullopt, "250-first\r\n"},
        {"250-first\r\n250-AUTH LOGIN\r\n250 OK\r\n221 bye\r\n", "250-first\r\n250-AUTH LOGIN\r\n250 OK\r\n",
         "221 bye\r\n"},
        {"250 OK", std::nullopt, "250 OK"},
        // A line that is not a numbered continuation ends the reply, whatever it says.
        {"hello\r\n", "hello\r\n", ""},
        {"500 \r\n", "500 \r\n", ""},
        {"ab-c\r\nx\r\n", "ab-c\r\n", "x\r\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.buffer);
        std::string buffer = c.buffer;
        EXPECT_EQ(takeSmtpReply(buffer), c.reply);
        EXPECT_EQ(buffer, c.rest);
    }
}

TEST(ServerReplies, LoginOffersComeFromCapabilityLines)
{
    struct Case {
        const char* reply;
        bool authLogin;
        bool authEqualsLogin;
    } cases[] = {
        {"250 AUTH LOGIN\r\n", false, false}, // the first line greets
        {"250-host\r\n250-AUTH=LOGIN\r\n250 OK\r\n", false, true},
        {"250-host\r\n250-auth plain login\r\n250-Auth=Login\r\n250 OK\r\n", true, true},
        {"250-host\r\n250-AUTH PLAIN\r\n250 LOGIN\r\n", false, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.reply);
        const LoginOffers offers = examineLoginOffers(c.reply);
        EXPECT_EQ(offers.authLogin, c.authLogin);
        EXPECT_EQ(offers.authEqualsLogin, c.authEqualsLogin);
    }
}

TEST(ServerReplies, LoginPromptsByTheirDecodedText)
{
    struct Case {
        const char* reply;
        LoginPrompt prompt;
    } cases[] = {
        // "USERNAME:"; "Password:" between blanks.
        {"334 VVNFUk5BTUU6\r\n", LoginPrompt::Username},
        {"334   UGFzc3dvcmQ6  \r\n", LoginPrompt::Password},
        {"334 not Base64!\r\n", LoginPrompt::Other},
        {"334\r\n", LoginPrompt::Other},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.reply);
        EXPECT_EQ(classifyLoginPrompt(c.reply), c.prompt);
    }
}
