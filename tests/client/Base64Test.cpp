#include "TestKit.h"
#include "Base64.h"

TEST(Base64, EncodeGroupsAndPads)
{
    EXPECT_EQ(Base64Encode(""), "\r\n");
    EXPECT_EQ(Base64Encode(std::string("\0\xFF\x80", 3)), "AP+A\r\n");
    // Text of nothing is nothing, not an empty line.
    EXPECT_EQ(Base64EncodeText(""), "");
    EXPECT_EQ(Base64EncodeText("user"), "dXNlcg==\r\n");
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
    }
}
