#include <string>

#include <gtest/gtest.h>

#include "Base64.h"

TEST(Base64, EncodeGroupsPadsAndLines)
{
    struct Case {
        std::string bytes;
        std::string encoded;
    } cases[] = {
        // Lines of 76 characters: see the round trip.
        {"", "\r\n"},
        {"A", "QQ==\r\n"},
        {"AB", "QUI=\r\n"},
        {std::string("\0\xFF\x80", 3), "AP+A\r\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.bytes.size());
        EXPECT_EQ(Base64Encode(c.bytes), c.encoded);
    }
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
        {"QQ==", "A"},
        {"QUI=", "AB"},
        {"VXNlcm5hbWU6", "Username:"},
        {"qq==", "\xAA"},
        // A pad ends its group only; decoding goes on with the next group.
        {"QQ==QUI=", "AAB"},
        {"Q===", ""},
        {"====", ""},
        // A short last group counts its missing positions as 0 and still yields three bytes.
        {"QUJDQQ", std::string("ABCA\0\0", 6)},
        {"QUJDQ", std::string("ABC@\0\0", 6)},
        {"QUI", std::string("AB\0", 3)},
        // Anything outside the alphabet refuses the whole text, even behind a pad.
        {"QUJD\r\n", ""},
        {"QUJDQUJD\r\nQUJD", ""},
        {" QUJD", ""},
        {"QU JD", ""},
        {"QUJD ", ""},
        {"QQ= ", ""},
        {"QUJD-", ""},
        {"QUJD\xC4", ""},
        {std::string("QU\0D", 4), ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(Base64Decode(c.text), c.decoded);
    }
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
