#include <cstdint>
#include <sstream>

#include "TestKit.h"
#include "ErrorNumberOf.h"
#include "clsEmailStorage.h"

namespace {

// Runs "call:text=result" steps on one store ("_" is a blank; no text: the remembered one). Calls: "store"
// (text as all fields), "remove" (position), "clear", the searches "from", "to", "body" ("+" next, "!" exact).
void run(const std::string& script)
{
    clsEmailStorage store;
    std::istringstream steps(script);
    for (std::string step; steps >> step;) {
        SCOPED_TRACE(step);
        const std::size_t colon = step.find(':'), equals = step.rfind('=');
        const std::string call = step.substr(0, std::min(colon, equals));
        std::string text = colon < equals ? step.substr(colon + 1, equals - colon - 1) : "";
        std::ranges::replace(text, '_', ' ');
        const bool next = call.find('+') != std::string::npos, exact = call.find('!') != std::string::npos;
        int result = 0;
        if (call == "store")
            result = store.StoreEmail(text, text, text);
        else if (call == "remove")
            result = store.RemoveEmail(int16_t(std::stoi(text))) ? std::stoi(text) : 0;
        else if (call == "clear")
            store.Clear();
        else if (call.starts_with("from"))
            result = next ? store.FindNextEmailFrom(text, exact) : store.FindFirstEmailFrom(text, exact);
        else if (call.starts_with("to"))
            result = next ? store.FindNextEmailTo(text, exact) : store.FindFirstEmailTo(text, exact);
        else
            result = next ? store.FindNextEmailBodyWith(text) : store.FindFirstEmailBodyWith(text);
        EXPECT_EQ(result, std::stoi(step.substr(equals + 1)));
    }
}

} // namespace

TEST(clsEmailStorage, StoreReadAndRemoveByPosition)
{
    clsEmailStorage store;
    // Empty texts and duplicates are kept as they are.
    for (const char* text : {"a", "", "a"})
        store.StoreEmail(text, text, text);
    EXPECT_FALSE(store.RemoveEmail(4));
    EXPECT_TRUE(store.RemoveEmail(1));
    EXPECT_EQ(store.EmailFrom(1) + "|" + store.EmailTo(2) + "|" + store.EmailBody(2), "|a|a");
    // A position below 1 names no message: an error, and nothing changes.
    for (int16_t index : {int16_t{0}, int16_t{-32768}}) {
        EXPECT_EQ(errorNumberOf([&] { store.RemoveEmail(index); }), ErrorNumber::SubscriptOutOfRange) << index;
        EXPECT_EQ(errorNumberOf([&] { store.EmailFrom(index); }), ErrorNumber::SubscriptOutOfRange) << index;
    }
    EXPECT_EQ(store.Count(), 2);
}

TEST(clsEmailStorage, FindFirstAndNext)
{
    run("from:=0 to+:a=0 body:a=0 store:Alice=1 store:Bob=2 store:ALICE_2=3 store:bob_4=4 "
        // No wrap-around, and a failed search keeps the cursor where it was.
        "from:ali=1 from+=3 from+=0 from+=0 store:alIce_5=5 from+=5 "
        // A find-first that finds nothing keeps the previous search.
        "from:Bob=2 from:Carol=0 from+=4 "
        // A find-next with a new text starts behind the cursor, and remembers the text when it finds it.
        "from+:alice=5 from+:dave=0 store:x=6 store:Alice_7=7 from+=7 "
        // Exact matches are equal texts, letter case included.
        "from!:alice=0 from!:ALICE_2=3 from!:Bob=2 from!+=0 "
        // Clear brings the cursor back to 0 and keeps the remembered text.
        "clear=0 store:BOB=1 from+=1");
}

TEST(clsEmailStorage, FieldCursorsAreIndependentAndFollowRemovals)
{
    run("store:x1=1 store:x2=2 store:x3=3 from:x=1 from+=2 from+=3 "
        // Neither the cursors nor the remembered text of the other fields moved.
        "to+=0 body+=0 to+:x=1 body+:x=1 body+=2 to+=2 "
        // Every cursor comes down to 2 when 3 goes, so the message stored at 3 is found next.
        "to:x3=3 body:x3=3 remove:3=3 store:x_new=3 from+:x=3 to+:x=3 body+:x=3 "
        // Removals move the cursor with the messages: the next search skips none it has not seen,
        // whether the removal lay before the hit, was the hit with nothing behind it, or the hit
        // with a message behind it that moves into its place.
        "from:x=1 from+=2 remove:1=1 from+=2 remove:2=2 store:x_last=2 from+=2 from:x=1 remove:1=1 from+=1");
}

TEST(clsEmailStorage, SearchesIgnoreLatin1CaseAndSkipEmptyEntries)
{
    run("store:=1 store:M\xFCller_Gr\xFC\xDF\x65=2 body:GR\xDC\xDF=2 from:m\xDCLLER=2 to:m\xDCller=2 to!:m\xDCller=0 "
        // An empty text is contained in every non-empty entry, and equal to an empty one.
        "from:=2 to!:=1 "
        // The remembered text is now empty too, so a find-next without text has nothing to look for.
        "store:later=3 from+=0");
}

// The listener's test fills the store; left: a hit at the last position leaves no find-next.
TEST(clsEmailStorage, FindNextAfterAHitAtTheLastPosition)
{
    clsEmailStorage store;
    for (int i = 1; i < 32'767; ++i)
        store.StoreEmail("f", "t", "b");
    EXPECT_EQ(store.StoreEmail("last", "last", "last"), 32'767);
    EXPECT_EQ(store.FindFirstEmailFrom("last"), 32'767);
    EXPECT_EQ(errorNumberOf([&] { store.FindNextEmailFrom(); }), ErrorNumber::Overflow);
}

TEST(clsEmailStorage, IdsOutliveRemovalsAndObserversHearEveryChange)
{
    struct Recorder : StoreObserver {
        std::string events;
        void emailStored(std::int16_t at) override { events += "+" + std::to_string(at); }
        void emailRemoved(std::int16_t at, std::uint64_t id) override
        {
            events += "-" + std::to_string(at) + "#" + std::to_string(id);
        }
        void emailsCleared() override { events += "C"; }
    } recorder;
    clsEmailStorage store;
    store.addObserver(&recorder);
    for (const char* user : {"user", "", ""})
        store.StoreEmail("a", "b", "c", user);
    EXPECT_EQ(store.emailAuthUser(1), "user");
    EXPECT_EQ(store.budget().used(), 3 * 3 + 4u);
    store.RemoveEmail(2);
    // The third message is now second; its id still names it, the removed id names nothing.
    EXPECT_EQ(store.positionOfId(3), 2);
    EXPECT_EQ(store.positionOfId(2), 0);
    EXPECT_EQ(store.emailId(2), 3u);
    store.Clear();
    // Ids are not reused after a clear.
    store.StoreEmail("a", "b", "c");
    EXPECT_EQ(store.emailId(1), 4u);
    store.removeObserver(&recorder);
    store.RemoveEmail(1);
    EXPECT_EQ(recorder.events, "+1+2+3-2#2C+1");
}
