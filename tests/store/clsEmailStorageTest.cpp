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

int errorNumberOf(auto&& call)
{
    try {
        call();
    } catch (const AppError& e) {
        return e.Number();
    }
    return 0;
}

} // namespace

TEST(clsEmailStorage, StoreReadAndRemoveByPosition)
{
    clsEmailStorage store;
    EXPECT_EQ(store.FindFirstEmailFrom("") + store.FindNextEmailTo("a") + store.FindFirstEmailBodyWith("a"), 0);

    EXPECT_EQ(store.StoreEmail("f1", "t1", "b1"), 1);
    EXPECT_EQ(store.StoreEmail("f2", "t2", "b2"), 2);
    EXPECT_EQ(store.StoreEmail("f3", "t3", "b3"), 3);
    // Empty texts and duplicates are kept as they are.
    EXPECT_EQ(store.StoreEmail("", "", ""), 4);
    EXPECT_EQ(store.StoreEmail("f1", "t1", "b1"), 5);

    EXPECT_FALSE(store.RemoveEmail(6));
    EXPECT_TRUE(store.RemoveEmail(2));
    EXPECT_EQ(store.Count(), 4);
    EXPECT_EQ(store.EmailFrom(2) + store.EmailTo(2) + store.EmailBody(2), "f3t3b3");
    EXPECT_EQ(store.EmailFrom(4), "f1");
    EXPECT_EQ(store.EmailFrom(5), "");

    // A position below 1 names no message: an error, and nothing changes.
    for (int16_t index : {int16_t{0}, int16_t{-1}, int16_t{-32768}}) {
        SCOPED_TRACE(index);
        EXPECT_EQ(errorNumberOf([&] { store.RemoveEmail(index); }), ErrorNumber::SubscriptOutOfRange);
        EXPECT_EQ(errorNumberOf([&] { store.EmailFrom(index); }), ErrorNumber::SubscriptOutOfRange);
        EXPECT_EQ(errorNumberOf([&] { store.EmailTo(index); }), ErrorNumber::SubscriptOutOfRange);
        EXPECT_EQ(errorNumberOf([&] { store.EmailBody(index); }), ErrorNumber::SubscriptOutOfRange);
    }
    EXPECT_EQ(store.Count(), 4);
}

TEST(clsEmailStorage, FindFirstAndNext)
{
    clsEmailStorage store;
    storeSenders(store, {"Alice", "Bob", "ALICE 2", "bob 4"});
    EXPECT_EQ(store.FindFirstEmailFrom("ali"), 1);
    EXPECT_EQ(store.FindNextEmailFrom(), 3);
    EXPECT_EQ(store.FindNextEmailFrom(), 0);
    // No wrap-around, and the failed search kept the cursor at 3 rather than going back to 0.
    EXPECT_EQ(store.FindNextEmailFrom(), 0);
    storeSenders(store, {"alIce 5"});
    EXPECT_EQ(store.FindNextEmailFrom(), 5);

    // A find-first that finds nothing keeps the previous search.
    EXPECT_EQ(store.FindFirstEmailFrom("Bob"), 2);
    EXPECT_EQ(store.FindFirstEmailFrom("Carol"), 0);
    EXPECT_EQ(store.FindNextEmailFrom(), 4);

    // A find-next with a new text starts behind the cursor: "alice" at 1 and 3 is found at 5.
    EXPECT_EQ(store.FindNextEmailFrom("alice"), 5);
    // Found nothing: the remembered text stays "alice", the cursor stays 5.
    EXPECT_EQ(store.FindNextEmailFrom("dave"), 0);
    storeSenders(store, {"x", "Alice 7"});
    EXPECT_EQ(store.FindNextEmailFrom(), 7);

    // Clear empties the store and brings the cursor back to 0; the remembered text stays.
    store.Clear();
    EXPECT_EQ(store.Count(), 0);
    EXPECT_EQ(store.EmailFrom(1), "");
    storeSenders(store, {"ALICE"});
    EXPECT_EQ(store.FindNextEmailFrom(), 1);
}

TEST(clsEmailStorage, ExactMatchIsCaseSensitiveEquality)
{
    clsEmailStorage store;
    storeSenders(store, {"Alice", "Bob", "ALICE 2", ""});
    EXPECT_EQ(store.FindFirstEmailFrom("alice", true), 0);
    EXPECT_EQ(store.FindFirstEmailFrom("Ali", true), 0);
    EXPECT_EQ(store.FindFirstEmailFrom("ALICE 2", true), 3);
    EXPECT_EQ(store.FindFirstEmailFrom("", true), 4);
    EXPECT_EQ(store.FindFirstEmailFrom("Alice", true), 1);
    EXPECT_EQ(store.FindNextEmailFrom({}, true), 0) << "'ALICE 2' is no exact match for the remembered 'Alice'";
}

TEST(clsEmailStorage, FieldCursorsAreIndependentAndFollowRemovals)
{
    clsEmailStorage store;
    for (const char* text : {"x1", "x2", "x3"})
        store.StoreEmail(text, text, text);
    EXPECT_EQ(store.FindFirstEmailFrom("x"), 1);
    EXPECT_EQ(store.FindNextEmailFrom(), 2);
    EXPECT_EQ(store.FindNextEmailFrom(), 3);
    // Neither the cursors nor the remembered text of the other fields moved.
    EXPECT_EQ(store.FindNextEmailTo(), 0);
    EXPECT_EQ(store.FindNextEmailBodyWith(), 0);
    EXPECT_EQ(store.FindNextEmailTo("x"), 1);
    EXPECT_EQ(store.FindNextEmailBodyWith("x"), 1);
    EXPECT_EQ(store.FindNextEmailBodyWith(), 2);
    EXPECT_EQ(store.FindNextEmailTo(), 2);

    EXPECT_EQ(store.FindFirstEmailTo("x3"), 3);
    EXPECT_EQ(store.FindFirstEmailBodyWith("x3"), 3);
    EXPECT_TRUE(store.RemoveEmail(3));
    store.StoreEmail("x new", "x new", "x new");
    // Every cursor came down to 2, so the message stored at 3 is found next.
    EXPECT_EQ(store.FindNextEmailFrom("x"), 3);
    EXPECT_EQ(store.FindNextEmailTo("x"), 3);
    EXPECT_EQ(store.FindNextEmailBodyWith("x"), 3);

    // Removals move the cursor with the messages: the next search skips none it has not seen.
    EXPECT_EQ(store.FindFirstEmailFrom("x"), 1);
    EXPECT_EQ(store.FindNextEmailFrom(), 2);
    EXPECT_TRUE(store.RemoveEmail(1)); // before the hit: x2 now at 1
    EXPECT_EQ(store.FindNextEmailFrom(), 2);
    EXPECT_TRUE(store.RemoveEmail(2)); // the hit itself: nothing behind it
    store.StoreEmail("x last", "", "");
    EXPECT_EQ(store.FindNextEmailFrom(), 2);
    EXPECT_EQ(store.FindFirstEmailFrom("x"), 1);
    EXPECT_TRUE(store.RemoveEmail(1)); // the hit, with a message behind it that moves into its place
    EXPECT_EQ(store.FindNextEmailFrom(), 1);
}

TEST(clsEmailStorage, SearchesIgnoreLatin1CaseAndSkipEmptyEntries)
{
    clsEmailStorage store;
    store.StoreEmail("", "", "nothing here");
    store.StoreEmail("", "", "say hello");
    store.StoreEmail("M\xFCller", "\xE4rger@example.org", "Gr\xFC\xDF\x65 \xE0 tous");
    EXPECT_EQ(store.FindFirstEmailBodyWith("HELLO"), 2);
    EXPECT_EQ(store.FindFirstEmailBodyWith("GR\xDC\xDF"), 3);
    EXPECT_EQ(store.FindFirstEmailBodyWith("\xC0 TOUS"), 3);
    EXPECT_EQ(store.FindFirstEmailFrom("m\xDCLLER"), 3);
    EXPECT_EQ(store.FindFirstEmailTo("\xC4rger"), 3);
    EXPECT_EQ(store.FindFirstEmailTo("\xC4rger", true), 0);

    // An empty text is contained in every non-empty entry; an empty entry never matches.
    EXPECT_EQ(store.FindFirstEmailFrom(""), 3);
    EXPECT_EQ(store.FindFirstEmailBodyWith(""), 1);
    // The remembered text is now empty too, so a find-next without text has nothing to look for.
    store.StoreEmail("later", "t", "b");
    EXPECT_EQ(store.FindNextEmailFrom(), 0);
}

TEST(clsEmailStorage, LimitOf32767Messages)
{
    clsEmailStorage store;
    for (int i = 1; i < 32'767; ++i)
        store.StoreEmail("f", "t", "b");
    EXPECT_EQ(store.StoreEmail("last from", "last to", "last body"), 32'767);

    // The next one is refused whole: no field of it is kept.
    EXPECT_EQ(errorNumberOf([&] { store.StoreEmail("over", "over", "over"); }), ErrorNumber::Overflow);
    EXPECT_EQ(store.Count(), 32'767);
    EXPECT_EQ(store.FindFirstEmailFrom("over") + store.FindFirstEmailTo("over") + store.FindFirstEmailBodyWith("over"), 0);

    // A hit at the last position leaves no start position for a find-next.
    EXPECT_EQ(store.FindFirstEmailFrom("last"), 32'767);
    EXPECT_EQ(errorNumberOf([&] { store.FindNextEmailFrom(); }), ErrorNumber::Overflow);
    EXPECT_EQ(store.FindFirstEmailBodyWith("b"), 1);
    EXPECT_EQ(store.FindNextEmailBodyWith("last"), 32'767);

    // Room again after a removal.
    EXPECT_TRUE(store.RemoveEmail(1));
    EXPECT_EQ(store.StoreEmail("again", "t", "b"), 32'767);
}
