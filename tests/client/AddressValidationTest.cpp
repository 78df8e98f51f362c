#include "TestKit.h"
#include "AddressValidation.h"

TEST(AddressValidation, EmailAddresses)
{
    // The local part is not examined; an empty last label or part of a listed code passes.
    for (const char* address :
         {"user@example.com", "@example.com", "user@localhost", "user@LocalHost", "user@ localhost ", "user@localhost.",
          "user@127.0.0.1", "user@239.255.255.255", "user@example.om", "user@example.c", "user@example.ORG "})
        EXPECT_TRUE(IsValidEmailAddress(address)) << address;
    for (const char* address :
         {"user.example.com", "a@b@example.com", "", "user@", "user@ ", "user@240.0.0.1", "user@1.2.3.256",
          "user@1.2.3", "user@example", "user@example.xyz", "user@example.DE\t"})
        EXPECT_FALSE(IsValidEmailAddress(address)) << address;
}

TEST(AddressValidation, AddressLiterals)
{
    for (const char* text : {"0.0.0.0", "239.255.255.255", "001.002.003.004", "1.2.3.0000000000000000000255"})
        EXPECT_TRUE(IsIPAddressLiteral(text)) << text;
    for (const char* text : {"240.0.0.0", "1.2.256.4", "1.2.3.99999999999999999999", "1.2.3.4.5", "1..3.4", "1.2.3.",
                             "+1.2.3.4", "-1.2.3.4", "1.2.3.4 ", "1.2.3.4e0", "1.2.3.0x1"})
        EXPECT_FALSE(IsIPAddressLiteral(text)) << text;
}

// The handler's tests take the plain lists; here the separators that are letters or nothing.
TEST(AddressValidation, SplitCleanAndJoinLists)
{
    EXPECT_EQ(splitList(";;", ";"), (Texts{"", "", ""}));
    EXPECT_EQ(splitList("a;b", ""), (Texts{"a;b"}));
    EXPECT_EQ(splitList("1x2X3", "x"), (Texts{"1", "2", "3"}));
    EXPECT_EQ(splitList("1\xE4"
                        "2\xC4"
                        "3",
                        "\xE4"),
              (Texts{"1", "2", "3"}));

    Texts entries = {"  a  ", " a\r\nb ", "a\tb", "a\rb\nc", "\t a", "a\r\r\n\nb", " \r\n ", ""};
    TrimListEntries(entries);
    EXPECT_EQ(entries, (Texts{"a", "ab", "ab", "a\rb\nc", " a", "a\r\nb", "", ""}));
    EXPECT_EQ(joinList({"a", "", "b"}, ";"), "a;;b");
}
