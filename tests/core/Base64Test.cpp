#include "TestKit.h"
#include "Base64.h"

TEST(Base64, EncodeGroupsAndPads)
{
    EXPECT_EQ(Base64Encode(""), "\r\n");
    EXPECT_EQ(Base64Encode(std::string("\0\xFF\x80", 3)), "AP+A\r\n");
    // Text of nothing is nothing, not an empty line.
    EXPECT_EQ(Base64EncodeText(""), "");
    EXPECT_EQ(Base64EncodeText("user"), "dXNlcg==\r\n");
    // The server's AUTH lines: one run of digits, nothing for nothing.
    EXPECT_EQ(Base64::encode("", Base64::Lines::Unbroken), "");
    EXPECT_EQ(Base64::encode("<1.2@127.0.0.1>", Base64::Lines::Unbroken), "PDEuMkAxMjcuMC4wLjE+");
    EXPECT_EQ(Base64::encode(std::string(60, 'x'), Base64::Lines::Unbroken).find('\r'), std::string::npos);
}

// The same texts read both ways: the client's groups of four and the server's stream of digits.
TEST(Base64, GroupsAndStreamReadTheSameTextsDifferently)
{
    const std::optional<std::string> refused;
    struct Case {
        std::string text;
        std::optional<std::string> groups;
        std::optional<std::string> stream;
    } cases[] = {
        {"", "", ""},
        {"dXNlcg==", "user", "user"},
        {"AHVzZXIAcGFzcw==", std::string("\0user\0pass", 10), std::string("\0user\0pass", 10)},
        // A short last group: three bytes in groups, only whole bytes in a stream.
        {"QUI", std::string("AB\0", 3), "AB"},
        {"QQ", std::string("A\0\0", 3), "A"},
        // A pad within the text: groups go on behind it, a stream refuses it.
        {"QQ==QUI=", "AAB", refused},
        {"Q===", "", ""},
        {"====", "", ""},
        {"QUJD\r\n", refused, refused},
        {"QU JD", refused, refused},
        {std::string("QU\0D", 4), refused, refused},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(Base64::decode(c.text, Base64::Reading::Groups), c.groups);
        EXPECT_EQ(Base64::decode(c.text, Base64::Reading::Stream), c.stream);
    }
}

TEST(Base64, Decode)
{
    struct Case {
        std::string text;
        std::string decoded;
    } cases[] = {
        {"", ""},
        {"qq==", "\xAA"},
        // A pad ends its group only; decoding goes on with the next group.
        {"QQ==QUI=", "AAB"},
        {"Q===", ""},
        // A short last group counts its missing positions as 0 and still yields three bytes.
        {"QUI", std::string("AB\0", 3)},
    };
    for (const Case& c : cases)
        EXPECT_EQ(Base64Decode(c.text), c.decoded) << c.text;
    // Anything outside the alphabet refuses the whole text, even behind a pad.
    for (const std::string text :
         {"QUJD\r\n", "QUJDQUJD\r\nQUJD", " QUJD", "QU JD", "QUJD ", "QQ= ", "QUJD-", "QUJD\xC4", "===="})
        EXPECT_EQ(Base64Decode(text), "") << text;
    EXPECT_EQ(Base64Decode(std::string("QU\0D", 4)), "");
}

TEST(Base64, RoundTripOfEveryByteAndLength)
{
    std::string all;
    for (int b = 0; b < 512; ++b)
        all += static_cast<char>(b & 0xFF);
    // Lengths 0 to 200 from shifting starts, then all 256 byte values at once.
    for (std::size_t length = 0; length <= 256; length += length < 200 ? 1 : 56) {
        SCOPED_TRACE(length);
        const std::string bytes = all.substr(length * 7 % 256, length);
        const std::string encoded = Base64Encode(bytes);
        std::string bare = encoded;
        std::erase(bare, '\r');
        std::erase(bare, '\n');
        // Lines of exactly 76 characters but the last, each ended by CR LF.
        std::string lined;
        for (std::size_t at = 0; at == 0 || at < bare.size(); at += 76)
            lined += bare.substr(at, 76) + "\r\n";
        EXPECT_EQ(encoded, lined);
        EXPECT_EQ(Base64Decode(bare), bytes);
        EXPECT_EQ(Base64::decode(Base64::encode(bytes, Base64::Lines::Unbroken), Base64::Reading::Stream), bytes);
    }
}
