#include <cstdint>
#include <initializer_list>
#include <string>

#include <gtest/gtest.h>

#include "AppError.h"
#include "clsEmailStorage.h"

namespace {

// Messages whose senders are given; recipient and body name the position for reading back.
void storeSenders(clsEmailStorage& store, std::initializer_list<const char*> senders)
{
    for (const char* sender : senders) {
        const std::string n = std::to_string(store.Count() + 1);
        store.StoreEmail(sender, "to" + n, "body" + n);
    }
}

void expectError(int number, auto&& call)
{
    try {
        call();
        ADD_FAILURE() << "no error raised";
    } catch (const AppError& e) {
        EXPECT_EQ(e.Number(), number);
    }
}

} // namespace

TEST(clsEmailStorage, EmptyStoreFindsAndReadsNothing)
{
    clsEmailStorage store;
    EXPECT_EQ(store.Count(), 0);
    EXPECT_EQ(store.EmailFrom(1), "");
    EXPECT_EQ(store.EmailBody(1), "");
    EXPECT_FALSE(store.RemoveEmail(1));
    EXPECT_EQ(store.FindFirstEmailFrom(""), 0);
    EXPECT_EQ(store.FindNextEmailFrom("a"), 0);
    EXPECT_EQ(store.FindFirstEmailTo("a", true), 0);
    EXPECT_EQ(store.FindNextEmailTo("a"), 0);
    EXPECT_EQ(store.FindFirstEmailBodyWith("a"), 0);
    EXPECT_EQ(store.FindNextEmailBodyWith("a"), 0);
}

TEST(clsEmailStorage, StoreReadAndRemoveByPosition)
{
    clsEmailStorage store;
    EXPECT_EQ(store.StoreEmail("f1", "t1", "b1"), 1);
    EXPECT_EQ(store.StoreEmail("f2", "t2", "b2"), 2);
    EXPECT_EQ(store.StoreEmail("f3", "t3", "b3"), 3);
    // Empty texts and duplicates are kept as they are.
    EXPECT_EQ(store.StoreEmail("", "", ""), 4);
    EXPECT_EQ(store.StoreEmail("f1", "t1", "b1"), 5);

    EXPECT_FALSE(store.RemoveEmail(6));
    EXPECT_EQ(store.Count(), 5);

    EXPECT_TRUE(store.RemoveEmail(2));
    EXPECT_EQ(store.Count(), 4);
    EXPECT_EQ(store.EmailFrom(2), "f3");
    EXPECT_EQ(store.EmailTo(2), "t3");
    EXPECT_EQ(store.EmailBody(2), "b3");
    EXPECT_EQ(store.EmailFrom(1), "f1");
    EXPECT_EQ(store.EmailFrom(5), "");
}

TEST(clsEmailStorage, PositionBelowOneIsAnErrorAndChangesNothing)
{
    clsEmailStorage store;
    storeSenders(store, {"a", "b"});
    for (int16_t index : {int16_t{0}, int16_t{-1}, int16_t{-32768}}) {
        SCOPED_TRACE(index);
        expectError(ErrorNumber::SubscriptOutOfRange, [&] { store.RemoveEmail(index); });
        expectError(ErrorNumber::SubscriptOutOfRange, [&] { store.EmailFrom(index); });
        expectError(ErrorNumber::SubscriptOutOfRange, [&] { store.EmailTo(index); });
        expectError(ErrorNumber::SubscriptOutOfRange, [&] { store.EmailBody(index); });
    }
    EXPECT_EQ(store.Count(), 2);
    EXPECT_EQ(store.EmailFrom(1), "a");
}

TEST(clsEmailStorage, FindFirstAndNextIgnoringCase)
{
    clsEmailStorage store;
    storeSenders(store, {"Alice", "Bob", "ALICE 2"});
    EXPECT_EQ(store.FindFirstEmailFrom("ali"), 1);
    EXPECT_EQ(store.FindNextEmailFrom(), 3);
    EXPECT_EQ(store.FindNextEmailFrom(), 0);
    // No wrap-around, and the failed search kept the cursor at 3 rather than going back to 0.
    EXPECT_EQ(store.FindNextEmailFrom(), 0);
    storeSenders(store, {"x", "alIce 5"});
    EXPECT_EQ(store.FindNextEmailFrom(), 5);
}

TEST(clsEmailStorage, ExactMatchIsCaseSensitiveEquality)
{
    clsEmailStorage store;
    storeSenders(store, {"Alice", "Bob", "ALICE 2", ""});
    struct Case {
        const char* text;
        int16_t first;
    } cases[] = {{"alice", 0}, {"Alice", 1}, {"Ali", 0}, {"ALICE 2", 3}, {"", 4}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(store.FindFirstEmailFrom(c.text, true), c.first);
    }
    EXPECT_EQ(store.FindFirstEmailFrom("Alice", true), 1);
    EXPECT_EQ(store.FindNextEmailFrom({}, true), 0);
}

TEST(clsEmailStorage, FailedFindFirstKeepsThePreviousSearch)
{
    clsEmailStorage store;
    storeSenders(store, {"Alice", "Bob", "ALICE 2", "bob 4"});
    EXPECT_EQ(store.FindFirstEmailFrom("Bob"), 2);
    EXPECT_EQ(store.FindFirstEmailFrom("Carol"), 0);
    EXPECT_EQ(store.FindNextEmailFrom(), 4);
}

TEST(clsEmailStorage, FindNextWithNewTextStartsBehindTheCursor)
{
    clsEmailStorage store;
    storeSenders(store, {"Alice", "Bob", "ALICE 2", "bob 4", "carol 5"});
    EXPECT_EQ(store.FindFirstEmailFrom("bob"), 2);
    // "alice" is at 1 and 3: the search starts at 3, not at 1.
    EXPECT_EQ(store.FindNextEmailFrom("alice"), 3);
    // Found nothing: the remembered text stays "alice", the cursor stays 3.
    EXPECT_EQ(store.FindNextEmailFrom("dave"), 0);
    storeSenders(store, {"Alice 6"});
    EXPECT_EQ(store.FindNextEmailFrom(), 6);

    // With no earlier search a find-next starts at position 1.
    clsEmailStorage fresh;
    storeSenders(fresh, {"Alice"});
    EXPECT_EQ(fresh.FindNextEmailFrom(), 0);
    EXPECT_EQ(fresh.FindNextEmailFrom("ALI"), 1);
}

TEST(clsEmailStorage, RemovalClampsButNeverShiftsCursors)
{
    {
        SCOPED_TRACE("clamp");
        clsEmailStorage store;
        storeSenders(store, {"x1", "x2", "x3"});
        EXPECT_EQ(store.FindFirstEmailFrom("x3"), 3);
        EXPECT_TRUE(store.RemoveEmail(3));
        EXPECT_EQ(store.FindNextEmailFrom("x"), 0);
        // The cursor came down to 2, so a message stored at 3 is found next.
        storeSenders(store, {"x new"});
        EXPECT_EQ(store.FindNextEmailFrom("x"), 3);
    }
    {
        SCOPED_TRACE("removal before the cursor");
        clsEmailStorage store;
        storeSenders(store, {"hit", "hit", "hit"});
        EXPECT_EQ(store.FindFirstEmailFrom("hit"), 1);
        EXPECT_EQ(store.FindNextEmailFrom(), 2);
        EXPECT_TRUE(store.RemoveEmail(1));
        EXPECT_EQ(store.FindNextEmailFrom(), 0);
    }
    {
        SCOPED_TRACE("every field is clamped");
        clsEmailStorage store;
        store.StoreEmail("a", "a", "a");
        store.StoreEmail("a", "a", "a");
        EXPECT_EQ(store.FindFirstEmailFrom("a"), 1);
        EXPECT_EQ(store.FindNextEmailFrom(), 2);
        EXPECT_EQ(store.FindFirstEmailTo("a"), 1);
        EXPECT_EQ(store.FindNextEmailTo(), 2);
        EXPECT_EQ(store.FindFirstEmailBodyWith("a"), 1);
        EXPECT_EQ(store.FindNextEmailBodyWith(), 2);
        EXPECT_TRUE(store.RemoveEmail(2));
        store.StoreEmail("a", "a", "a");
        EXPECT_EQ(store.FindNextEmailFrom(), 2);
        EXPECT_EQ(store.FindNextEmailTo(), 2);
        EXPECT_EQ(store.FindNextEmailBodyWith(), 2);
    }
}

TEST(clsEmailStorage, FieldSearchesAreIndependent)
{
    clsEmailStorage store;
    for (int i = 0; i < 3; ++i)
        store.StoreEmail("same", "same", "same");
    EXPECT_EQ(store.FindFirstEmailFrom("same"), 1);
    EXPECT_EQ(store.FindNextEmailFrom(), 2);
    EXPECT_EQ(store.FindNextEmailFrom(), 3);
    // Neither the cursors nor the remembered text of the other fields moved.
    EXPECT_EQ(store.FindNextEmailTo(), 0);
    EXPECT_EQ(store.FindNextEmailBodyWith(), 0);
    EXPECT_EQ(store.FindNextEmailTo("same"), 1);
    EXPECT_EQ(store.FindNextEmailBodyWith("same"), 1);
    EXPECT_EQ(store.FindNextEmailBodyWith(), 2);
    EXPECT_EQ(store.FindNextEmailTo(), 2);
}

TEST(clsEmailStorage, ClearEmptiesAndResetsCursorsButKeepsTexts)
{
    clsEmailStorage store;
    storeSenders(store, {"a", "b", "a"});
    EXPECT_EQ(store.FindFirstEmailFrom("a"), 1);
    EXPECT_EQ(store.FindNextEmailFrom(), 3);
    store.Clear();
    EXPECT_EQ(store.Count(), 0);
    EXPECT_EQ(store.EmailFrom(1), "");
    storeSenders(store, {"b", "a"});
    EXPECT_EQ(store.FindNextEmailFrom("b"), 1);
    EXPECT_EQ(store.FindNextEmailFrom("a"), 2);
    store.Clear();
    storeSenders(store, {"a"});
    EXPECT_EQ(store.FindNextEmailFrom(), 1);
}

TEST(clsEmailStorage, BodySearchAlwaysIgnoresCaseIncludingLatin1)
{
    clsEmailStorage store;
    store.StoreEmail("f", "t", "nothing here");
    store.StoreEmail("f", "t", "say hello");
    store.StoreEmail("M\xFCller", "\xE4rger@example.org", "Gr\xFC\xDF\x65 \xE0 tous");
    EXPECT_EQ(store.FindFirstEmailBodyWith("HELLO"), 2);
    EXPECT_EQ(store.FindFirstEmailBodyWith("GR\xDC\xDF"), 3);
    EXPECT_EQ(store.FindFirstEmailBodyWith("\xC0 TOUS"), 3);
    EXPECT_EQ(store.FindFirstEmailFrom("m\xDCLLER"), 3);
    EXPECT_EQ(store.FindFirstEmailTo("\xC4rger"), 3);
    EXPECT_EQ(store.FindFirstEmailTo("\xC4rger", true), 0);

    // A hit far into a large body, found without a copy of the body per search.
    std::string big(20'000'000, 'x');
    big += "Needle";
    store.StoreEmail("f", "t", std::move(big));
    EXPECT_EQ(store.FindNextEmailBodyWith("NEEDLE"), 4);
    EXPECT_EQ(store.EmailBody(4).size(), 20'000'006u);
}

TEST(clsEmailStorage, EmptySearchTextAndEmptyEntries)
{
    clsEmailStorage store;
    storeSenders(store, {"", "", "c", "", "e"});
    // An empty text is contained in every non-empty entry; an empty entry never matches.
    EXPECT_EQ(store.FindFirstEmailFrom(""), 3);
    // The remembered text is now empty too, so a find-next without text has nothing to look for.
    EXPECT_EQ(store.FindNextEmailFrom(), 0);
    EXPECT_EQ(store.FindNextEmailFrom("e"), 5);
    EXPECT_EQ(store.FindFirstEmailTo(""), 1);
}

TEST(clsEmailStorage, LimitOf32767Messages)
{
    clsEmailStorage store;
    for (int i = 1; i < 32'767; ++i)
        store.StoreEmail("f", "t", "b");
    EXPECT_EQ(store.StoreEmail("last from", "last to", "last body"), 32'767);

    expectError(ErrorNumber::Overflow, [&] { store.StoreEmail("over", "over", "over"); });
    EXPECT_EQ(store.Count(), 32'767);
    EXPECT_EQ(store.EmailFrom(32'767), "last from");
    EXPECT_EQ(store.EmailTo(32'767), "last to");
    EXPECT_EQ(store.EmailBody(32'767), "last body");
    EXPECT_EQ(store.FindFirstEmailFrom("over"), 0);

    // A hit at the last position leaves no start position for a find-next.
    EXPECT_EQ(store.FindFirstEmailFrom("last"), 32'767);
    expectError(ErrorNumber::Overflow, [&] { store.FindNextEmailFrom(); });
    EXPECT_EQ(store.FindFirstEmailBodyWith("b"), 1);
    EXPECT_EQ(store.FindNextEmailBodyWith("last"), 32'767);

    // Room again after a removal.
    EXPECT_TRUE(store.RemoveEmail(1));
    EXPECT_EQ(store.StoreEmail("again", "t", "b"), 32'767);
}
