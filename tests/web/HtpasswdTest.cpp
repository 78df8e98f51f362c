#include <gtest/gtest.h>

#include "BasicAuth.h"
#include "Htpasswd.h"

namespace {

// Cost 4, the cheapest bcrypt, of "s3cret" and "pässwort"; htpasswd -B writes $2y$, the same algorithm.
const std::string Alice = "alice:$2b$04$Q2VuJsSM0AQdxbXl2/LL4OCnsuj/kjSr9mo2OeEQg5CmcnAK97N26";
const std::string Joerg = "jörg:$2y$04$QLDFF0XEH00yw1Ehp/aiq.DHLOVRZBRxbCIRZ/l4y9JF9lC37VPz2";

Htpasswd users()
{
    std::string error;
    return *Htpasswd::parse("# test users\r\n" + Alice + "\r\n\n" + Joerg + "\n", error);
}

TEST(Htpasswd, TakesOnlyBcryptEntries)
{
    const std::pair<std::string, bool> cases[] = {
        {Alice, true},
        {"alice:$apr1$abc$0123456789abcdefghijkl", false}, // Apache's MD5: cheap to guess at
        {"alice:{SHA}W6ph5Mm5Pz8GgiULbPgzG37mj9g=", false},
        {"alice:secret", false},
        {Alice.substr(5), false}, // no name
        {Alice + "x", false},
        {"# nobody\n\n", false},
    };
    for (const auto& [text, valid] : cases) {
        SCOPED_TRACE(text);
        std::string error;
        EXPECT_EQ(Htpasswd::parse(text, error).has_value(), valid);
        EXPECT_EQ(error.empty(), valid);
    }
}

TEST(BasicAuth, AcceptsTheRightPasswordOnly)
{
    BasicAuth auth(users());
    const auto basic = [](const std::string& pair) { return "Basic " + QByteArray::fromStdString(pair).toBase64(); };
    const std::pair<QByteArray, bool> cases[] = {
        {basic("alice:s3cret"), true},
        {basic("alice:s3cret"), true}, // remembered
        {"basic  " + QByteArray("alice:s3cret").toBase64(), true},
        {basic("jörg:pässwort"), true},
        {basic("alice:S3cret"), false},
        {basic("alice:s3cre"), false},
        {basic("alice:s3cretx"), false},
        {basic(std::string("alice:s3cret\0x", 14)), false}, // crypt reads up to the NUL only
        {basic("Alice:s3cret"), false},
        {basic("bob:s3cret"), false},
        {basic("alice"), false},
        {"Basic !!!!", false},
        {"Bearer " + QByteArray("alice:s3cret").toBase64(), false},
        {"", false},
    };
    for (const auto& [field, allowed] : cases) {
        SCOPED_TRACE(field.toStdString());
        EXPECT_EQ(auth.allows(field), allowed);
    }
    EXPECT_EQ(BasicAuth::challenge().status, 401);
}

} // namespace
