#include <string>

#include <gtest/gtest.h>

#include "Base64.h"

namespace {
std::string withoutLineBreaks(std::string text)
{
    std::erase(text, '\r');
    std::erase(text, '\n');
    return text;
}
} // namespace

TEST(Base64, EncodeGroupsPadsAndLines)
{
    // Nineteen groups fill a line of 76 characters.
    std::string line;
    for (int i = 0; i < 19; ++i)
        line += "YWFh";
    struct Case {
        std::string bytes;
        std::string encoded;
    } cases[] = {
        {"", "\r\n"},
        {"A", "QQ==\r\n"},
        {"AB", "QUI=\r\n"},
        {"ABC", "QUJD\r\n"},
        {"foobar", "Zm9vYmFy\r\n"},
        {std::string("\0\xFF\x80", 3), "AP+A\r\n"},
        {std::string(57, 'a'), line + "\r\n"},
        {std::string(58, 'a'), line + "\r\nYQ==\r\n"},
        {std::string(59, 'a'), line + "\r\nYWE=\r\n"},
        {std::string(114, 'a'), line + "\r\n" + line + "\r\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.bytes.size());
        EXPECT_EQ(Base64Encode(c.bytes), c.encoded);
    }
}

TEST(Base64, EncodeTextOfNothingIsNothing)
{
    EXPECT_EQ(Base64EncodeText(""), "");
    EXPECT_EQ(Base64EncodeText("user"), "dXNlcg==\r\n");
    EXPECT_EQ(Base64EncodeText("\xE4"), "5A==\r\n");
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
        {"QUJD", "ABC"},
        {"VXNlcm5hbWU6", "Username:"},
        {"UGFzc3dvcmQ6", "Password:"},
        // A pad ends its group only; decoding goes on with the next group.
        {"QQ==QUI=", "AAB"},
        {"Q===", ""},
        {"====", ""},
        // A short last group counts its missing positions as 0 and still yields three bytes.
        {"QUJDQQ", std::string("ABCA\0\0", 6)},
        {"QUJDQ", std::string("ABC@\0\0", 6)},
        {"QUI", std::string("AB\0", 3)},
        // Letter case matters: these are different digits.
        {"qq==", "\xAA"},
        // Anything outside the alphabet refuses the whole text.
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
    for (std::size_t length = 0; length <= 200; ++length) {
        SCOPED_TRACE(length);
        std::string bytes;
        for (std::size_t i = 0; i < length; ++i)
            bytes += static_cast<char>((i * 97 + length) & 0xFF);
        const std::string encoded = Base64Encode(bytes);
        ASSERT_GE(encoded.size(), 2u);
        EXPECT_EQ(encoded.substr(encoded.size() - 2), "\r\n");
        // Every line but the last is exactly 76 characters.
        std::size_t lineStart = 0;
        for (std::size_t end = encoded.find("\r\n"); end != std::string::npos; end = encoded.find("\r\n", lineStart)) {
            EXPECT_LE(end - lineStart, 76u);
            if (end + 2 < encoded.size()) {
                EXPECT_EQ(end - lineStart, 76u);
            }
            lineStart = end + 2;
        }
        EXPECT_EQ(Base64Decode(withoutLineBreaks(encoded)), bytes);
    }
    std::string all;
    for (int b = 0; b < 256; ++b)
        all += static_cast<char>(b);
    EXPECT_EQ(Base64Decode(withoutLineBreaks(Base64EncodeText(all))), all);
}
