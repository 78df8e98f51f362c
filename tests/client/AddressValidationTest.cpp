#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "AddressValidation.h"
#include "PendingErrors.h"

using Entries = std::vector<std::string>;

TEST(AddressValidation, EmailAddresses)
{
    struct Case {
        const char* address;
        bool valid;
    } cases[] = {
        {"user@example.com", true},
        {"@example.com", true}, // the local part is not examined
        {"user.example.com", false},
        {"a@b@example.com", false},
        {"", false},
        {"user@", false},
        {"user@ ", false},
        {"user@localhost", true},
        {"user@LocalHost", true},
        {"user@ localhost ", true},
        {"user@localhost.", true}, // an empty last label is found in any text
        {"user@127.0.0.1", true},
        {"user@239.255.255.255", true},
        {"user@240.0.0.1", false},
        {"user@1.2.3.256", false},
        {"user@1.2.3", false},
        {"user@example", false},
        {"user@example.xyz", false},
        {"user@example.om", true},
        {"user@example.c", true}, // part of a listed code passes
        {"user@example.ORG ", true},
        {"user@example.DE\t", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.address);
        EXPECT_EQ(IsValidEmailAddress(c.address), c.valid);
    }
}

TEST(AddressValidation, AddressLiterals)
{
    for (const char* text : {"0.0.0.0", "239.255.255.255", "001.002.003.004", "1.2.3.0000000000000000000255"}) {
        SCOPED_TRACE(text);
        EXPECT_TRUE(IsIPAddressLiteral(text));
    }
    for (const char* text : {"240.0.0.0", "1.2.256.4", "1.2.3.99999999999999999999", "1.2.3.4.5", "1..3.4", "1.2.3.",
                             "+1.2.3.4", "-1.2.3.4", "1.2.3.4 ", "1.2.3.4e0", "1.2.3.0x1"}) {
        SCOPED_TRACE(text);
        EXPECT_FALSE(IsIPAddressLiteral(text));
    }
}

TEST(AddressValidation, SplitCleanAndJoinLists)
{
    struct Case {
        const char* value;
        const char* delimiter;
        Entries entries;
    } cases[] = {
        {"", ";", {}},
        {"a;b", ";", {"a", "b"}},
        {"a;", ";", {"a", ""}},
        {";;", ";", {"", "", ""}},
        {"a;b", "", {"a;b"}},
        {"a, b", ",", {"a", " b"}},
        {"1x2X3", "x", {"1", "2", "3"}},
        {"1\xE4"
         "2\xC4"
         "3",
         "\xE4",
         {"1", "2", "3"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.value);
        EXPECT_EQ(SplitList(c.value, c.delimiter), c.entries);
    }

    Entries entries = {"  a  ", " a\r\nb ", "a\tb", "a\rb\nc", "\t a", "a\r\r\n\nb", " \r\n ", ""};
    TrimListEntries(entries);
    EXPECT_EQ(entries, (Entries{"a", "ab", "ab", "a\rb\nc", " a", "a\r\nb", "", ""}));

    EXPECT_EQ(JoinList({}, ";"), "");
    EXPECT_EQ(JoinList({"a", "", "b"}, ";"), "a;;b");
}

TEST(PendingErrors, OrderedSetWithoutLetterCase)
{
    PendingErrors errors;
    for (const char* text : {"First error", "Second error", "FIRST ERROR", "Third error"})
        errors.Add(text);
    EXPECT_EQ(errors.Texts(), (Entries{"First error", "Second error", "Third error"}));
    errors.Remove("second error");
    errors.Remove("not there");
    errors.Add("Second error");
    EXPECT_EQ(errors.Texts(), (Entries{"First error", "Third error", "Second error"}));
}
