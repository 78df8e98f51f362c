#include <gtest/gtest.h>

#include "BasicAuth.h"
#include "Htpasswd.h"

namespace {

// Cost 4, the cheapest bcrypt: "s3cret" and "pässwort".
constexpr const char* AliceHash = "$2b$04$Q2VuJsSM0AQdxbXl2/LL4OCnsuj/kjSr9mo2OeEQg5CmcnAK97N26";
constexpr const char* JoergHash = "$2b$04$QLDFF0XEH00yw1Ehp/aiq.DHLOVRZBRxbCIRZ/l4y9JF9lC37VPz2";

Htpasswd users()
{
    std::string error;
    // htpasswd -B writes $2y$, which names the same algorithm.
    const std::string text = std::string("# test users\r\nalice:") + AliceHash + "\r\n\njörg:$2y$"
        + std::string(JoergHash).substr(4) + "\n";
    auto parsed = Htpasswd::parse(text, error);
    EXPECT_TRUE(parsed) << error;
    return std::move(*parsed);
}

TEST(Htpasswd, TakesOnlyBcryptEntries)
{
    const struct {
        std::string text;
        bool valid;
    } cases[] = {
        {std::string("alice:") + AliceHash, true},
        {"alice:$apr1$abc$0123456789abcdefghijkl", false}, // Apache MD5: cheap to guess at
        {"alice:{SHA}W6ph5Mm5Pz8GgiULbPgzG37mj9g=", false},
        {"alice:secret", false},
        {std::string(":") + AliceHash, false},
        {std::string("alice ") + AliceHash, false},
        {std::string("alice:") + AliceHash + "x", false},
        {"# nobody\n\n", false},
        {"", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        std::string error;
        EXPECT_EQ(Htpasswd::parse(c.text, error).has_value(), c.valid);
        EXPECT_EQ(error.empty(), c.valid);
    }
}

TEST(Htpasswd, AcceptsTheRightPasswordOnly)
{
    Htpasswd file = users();
    const struct {
        std::string user, password;
        bool accepted;
    } cases[] = {
        {"alice", "s3cret", true},
        {"alice", "s3cret", true}, // remembered
        {"alice", "S3cret", false},
        {"alice", "s3cre", false},
        {"alice", "s3cretx", false},
        {"alice", std::string("s3cret\0x", 8), false}, // crypt would read up to the NUL only
        {"Alice", "s3cret", false},
        {"bob", "s3cret", false},
        {"jörg", "pässwort", true},
        {"", "", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.user + ":" + c.password);
        EXPECT_EQ(file.accepts(c.user, c.password), c.accepted);
    }
}

TEST(BasicAuth, ReadsTheAuthorizationField)
{
    BasicAuth auth(users());
    const struct {
        QByteArray field;
        bool allowed;
    } cases[] = {
        {"Basic " + QByteArray("alice:s3cret").toBase64(), true},
        {"basic  " + QByteArray("alice:s3cret").toBase64(), true},
        {"Basic " + QByteArray("alice:wrong").toBase64(), false},
        {"Basic " + QByteArray("alice").toBase64(), false},
        {"Basic !!!!", false},
        {"Bearer " + QByteArray("alice:s3cret").toBase64(), false},
        {"", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.field.toStdString());
        EXPECT_EQ(auth.allows(c.field), c.allowed);
    }
    const WebAnswer challenge = BasicAuth::challenge();
    EXPECT_EQ(challenge.status, 401);
    EXPECT_TRUE(std::count_if(challenge.headers.begin(), challenge.headers.end(),
                              [](const auto& h) { return h.first == "WWW-Authenticate"; }));
}

} // namespace
