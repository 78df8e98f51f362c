#include <cstdlib>
#include <ctime>

#include "TestKit.h"
#include "AppError.h"
#include "Base64.h"
#include "MessageComposition.h"

namespace {

const std::string CrLf = "\r\n";

// Sets TZ for its lifetime and restores what was there.
struct ZoneGuard {
    explicit ZoneGuard(const char* zone) { set(zone); }
    ~ZoneGuard() { set(old.empty() ? nullptr : old.c_str()); }
    static void set(const char* zone)
    {
        zone ? ::setenv("TZ", zone, 1) : ::unsetenv("TZ");
        ::tzset();
    }
    const std::string old = std::getenv("TZ") ? std::getenv("TZ") : "";
};

} // namespace

TEST(MessageComposition, HeaderTextPlainOrEncodedWords)
{
    // Plain text is never escaped; only the caller decides about quotes. DEL counts as 8-bit.
    EXPECT_EQ(EncodeHeaderText("Test ~\"mail\"", false), "Test ~\"mail\"");
    EXPECT_EQ(EncodeHeaderText("Jane Doe", true), "\"Jane Doe\"");
    EXPECT_EQ(EncodeHeaderText("Gr\xFC\xDF\x65", true), "=?ISO-8859-1?B?R3L832U=?=");
    EXPECT_EQ(EncodeHeaderText("a\x7F", false), "=?ISO-8859-1?B?YX8=?=");

    // 100 characters: words for 42, 42 and 16 of them, folded with CR LF and a tab.
    std::string text = "\xE9";
    while (text.size() < 100)
        text += static_cast<char>('a' + text.size() % 26);
    const auto word = [&](std::size_t from, std::size_t length) {
        const std::string encoded = Base64Encode(text.substr(from, length));
        return "=?ISO-8859-1?B?" + encoded.substr(0, encoded.size() - 2) + "?=";
    };
    EXPECT_EQ(EncodeHeaderText(text, false), word(0, 42) + "\r\n\t" + word(42, 42) + "\r\n\t" + word(84, 16));
}

TEST(MessageComposition, PrepareDotStuffsWrapsAndKeepsTheSeparator)
{
    const std::string a998(998, 'a');
    struct Case {
        std::string text;
        std::string prepared;
    } cases[] = {
        {".a", "..a"},
        {"x\r\n.a\r\n..b\r\n.", "x\r\n..a\r\n...b\r\n.."},
        {"x\r.a", "x\r..a"},
        // CR LF anywhere makes it the separator; lone CRs then stay inside lines.
        {"a\r\n.b\r.c", "a\r\n..b\r.c"},
        // Line feeds alone separate nothing: only the very first character is stuffed.
        {"x\n.a", "x\n.a"},
        // Over-long lines: cut at 998, or behind the last blank within them.
        {std::string(2000, 'b'), std::string(998, 'b') + CrLf + std::string(998, 'b') + CrLf + "bbbb"},
        {std::string(900, 'a') + " " + std::string(90, 'b') + " " + std::string(200, 'c'),
         std::string(900, 'a') + " " + std::string(90, 'b') + " " + CrLf + std::string(200, 'c')},
        {a998 + "aa b", a998 + CrLf + "aa b"},
        // A continuation piece is stuffed; the stuffing dot itself can make a line too long.
        {a998 + ".bc", a998 + CrLf + "..bc"},
        {"." + std::string(997, 'a'), ".." + std::string(996, 'a') + CrLf + "a"},
        // Line feeds alone: one line, wrapped with CR LF. A CR separator wraps with CR.
        {"x\n" + std::string(1500, 'b'), "x\n" + std::string(996, 'b') + CrLf + std::string(504, 'b')},
        {"x\r" + std::string(1000, 'b'), "x\r" + std::string(998, 'b') + "\r" + "bb"},
        {"x\r\n" + std::string(999, 'c') + "\r\ny", "x\r\n" + std::string(998, 'c') + CrLf + "c\r\ny"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text.substr(0, 20) + "... of " + std::to_string(c.text.size()));
        EXPECT_EQ(PrepareMessageText(c.text), c.prepared);
    }
}

TEST(MessageComposition, TimeZoneTexts)
{
    // POSIX zone rules count west of UTC as positive; the offset here counts east.
    struct Case {
        const char* zone;
        const char* text;
    } cases[] = {{"UTC0", "+0000"}, {"QPW0:30", "-0030"}, {"QPI-5:30", "+0530"}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.zone);
        ZoneGuard zone(c.zone);
        EXPECT_EQ(TimeZoneText(localTimeZoneOffsetMinutes()), c.text);
    }
}

TEST(MessageComposition, MailDate)
{
    const MailNameTables names = buildMailNameTables();
    // Second, minute, hour, day, month from 0, year from 1900, weekday from Sunday = 0.
    std::tm time{39, 48, 5, 5, 11, 2026 - 1900, 6, 0, 0, 0, nullptr};
    EXPECT_EQ(FormatMailDate(time, "+0100", names), "Sat, 5 Dec 2026 05:48:39 +0100");
    time.tm_mon = 12;
    EXPECT_THROW(FormatMailDate(time, "+0000", names), AppError);
}

TEST(MessageComposition, MessageIdLayout)
{
    const std::vector<double> draws = {0.0, 0.5, 0.999, 1.0, 25.5 / 61, 26.0 / 61 + 1e-9};
    std::size_t next = 0;
    const UniformRandom random = [&] { return draws[next++ % draws.size()]; };

    // Index int(61 r): 0 "A", 30 "e", 60 "8", a draw of 1.0 held to "8", 25 "Z", 26 "a".
    const std::string drawn = "Ae88ZaAe88ZaAe88ZaAe";
    EXPECT_EQ(CreateMessageId(UtcTime{2026, 12, 5, 4, 8, 9, 7}, random, std::string("127.0.0.1\0", 10)),
              "20261205040809007." + drawn + "@127.0.0.1");

    const std::string first = CreateMessageId("mail.example"), second = CreateMessageId("mail.example");
    EXPECT_NE(first.substr(18, 20), second.substr(18, 20));
}
