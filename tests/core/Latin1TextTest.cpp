#include "TestKit.h"
#include "Latin1Text.h"

// The store's search, the engine and the host lookup drive these too; here the edges they miss.
TEST(Latin1Text, EdgesOfCaseAndSearch)
{
    // The division sign, sharp s and y-diaeresis have no capital within Latin-1.
    EXPECT_EQ(upperCase("az\xE4\xE9\xF7\xDF\xFF"), "AZ\xC4\xC9\xF7\xDF\xFF");
    EXPECT_EQ(findNoCase("abc", "abcd"), std::string_view::npos);
    EXPECT_EQ(findNoCase("abc", "", 4), std::string_view::npos);
    EXPECT_EQ(trimBlanks("\ta\r\n"), "\ta\r\n");
}
