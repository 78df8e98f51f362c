#include "TestKit.h"
#include "Latin1Text.h"

TEST(Latin1Text, UpperCaseCoversLatin1Letters)
{
    EXPECT_EQ(UpperCase("abc xyz 09"), "ABC XYZ 09");
    EXPECT_EQ(UpperCase("\xE4\xF6\xFC\xE9"), "\xC4\xD6\xDC\xC9");
    // The division sign, sharp s and y-diaeresis have no capital within Latin-1.
    EXPECT_EQ(UpperCase("\xF7\xDF\xFF"), "\xF7\xDF\xFF");
}

TEST(Latin1Text, FindNoCase)
{
    EXPECT_EQ(FindNoCase("say Hello", "HELLO"), 4u);
    EXPECT_EQ(FindNoCase("say Hello hello", "hello", 5), 10u);
    EXPECT_EQ(FindNoCase("abc", "abcd"), std::string_view::npos);
    EXPECT_EQ(FindNoCase("abc", ""), 0u);
    EXPECT_EQ(FindNoCase("abc", "", 4), std::string_view::npos);
    EXPECT_EQ(FindNoCase("Gr\xFC\xDF", "\xDC"), 2u);
    std::string big(3'000'000, 'x');
    big += "NeedLE";
    EXPECT_EQ(FindNoCase(big, "needle"), 3'000'000u);
}

TEST(Latin1Text, TrimBlanksOnlySpaces)
{
    EXPECT_EQ(TrimBlanks("  a b  "), "a b");
    EXPECT_EQ(TrimBlanks("\ta\r\n"), "\ta\r\n");
    EXPECT_EQ(TrimBlanks("   "), "");
    EXPECT_TRUE(EqualNoCase("LocalHost", "LOCALHOST"));
    EXPECT_FALSE(EqualNoCase("localhost", "localhos"));
}
