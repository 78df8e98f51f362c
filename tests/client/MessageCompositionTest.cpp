#include <cstdlib>
#include <ctime>
#include <optional>
#include <regex>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "AppError.h"
#include "Base64.h"
#include "MessageComposition.h"

namespace {

const std::string CrLf = "\r\n";

std::vector<std::string> splitAt(const std::string& text, const std::string& separator)
{
    std::vector<std::string> parts;
    std::size_t start = 0;
    for (;;) {
        const std::size_t end = text.find(separator, start);
        parts.push_back(text.substr(start, end - start));
        if (end == std::string::npos)
            return parts;
        start = end + separator.size();
    }
}

// Sets TZ for its lifetime and restores what was there.
class ZoneGuard {
public:
    explicit ZoneGuard(const char* zone)
    {
        if (const char* old = std::getenv("TZ"))
            m_old = old;
        ::setenv("TZ", zone, 1);
        ::tzset();
    }
    ~ZoneGuard()
    {
        if (m_old)
            ::setenv("TZ", m_old->c_str(), 1);
        else
            ::unsetenv("TZ");
        ::tzset();
    }

private:
    std::optional<std::string> m_old;
};

} // namespace

TEST(MessageComposition, HeaderTextPlainOrEncodedWords)
{
    // Plain text is never escaped; only the caller decides about quotes.
    EXPECT_EQ(EncodeHeaderText("Test \"mail\"", false), "Test \"mail\"");
    EXPECT_EQ(EncodeHeaderText("Jane Doe", true), "\"Jane Doe\"");
    EXPECT_EQ(EncodeHeaderText("", true), "\"\"");
    EXPECT_EQ(EncodeHeaderText("Gr\xFC\xDF" "e", false), "=?ISO-8859-1?B?R3L832U=?=");
    EXPECT_EQ(EncodeHeaderText("Gr\xFC\xDF" "e", true), "=?ISO-8859-1?B?R3L832U=?=");
    EXPECT_EQ(EncodeHeaderText("a\x7F", false), "=?ISO-8859-1?B?YX8=?=");

    // 100 characters: words for 42, 42 and 16 of them, folded with CR LF and a tab.
    std::string text = "\xE9";
    while (text.size() < 100)
        text += static_cast<char>('a' + text.size() % 26);
    const std::vector<std::string> words = splitAt(EncodeHeaderText(text, false), "\r\n\t");
    ASSERT_EQ(words.size(), 3u);
    const std::size_t lengths[] = {42, 42, 16};
    std::string decoded;
    for (std::size_t i = 0; i < words.size(); ++i) {
        SCOPED_TRACE(i);
        const std::string& word = words[i];
        ASSERT_TRUE(word.starts_with("=?ISO-8859-1?B?"));
        ASSERT_TRUE(word.ends_with("?="));
        const std::string piece = Base64Decode(word.substr(15, word.size() - 17));
        EXPECT_EQ(piece.size(), lengths[i]);
        decoded += piece;
    }
    EXPECT_EQ(decoded, text);
}

TEST(MessageComposition, PrepareDotStuffsAndKeepsTheSeparator)
{
    struct Case {
        std::string text;
        std::string prepared;
    } cases[] = {
        {"", ""},
        {".a", "..a"},
        {"x\r\n.a\r\n..b\r\n.", "x\r\n..a\r\n...b\r\n.."},
        {"a\r\n", "a\r\n"},
        {"x\r.a", "x\r..a"},
        // CR LF anywhere makes it the separator; lone CRs then stay inside lines.
        {"a\r\n.b\r.c", "a\r\n..b\r.c"},
        // Line feeds alone separate nothing: only the very first character is stuffed.
        {"x\n.a", "x\n.a"},
        {".x\n.a", "..x\n.a"},
        {"\xE4\xF6\xFC", "\xE4\xF6\xFC"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(PrepareMessageText(c.text), c.prepared);
    }
}

TEST(MessageComposition, PrepareWrapsLongLines)
{
    const std::string a998(998, 'a');
    struct Case {
        const char* name;
        std::string text;
        std::string prepared;
    } cases[] = {
        {"998 characters stay", a998, a998},
        {"no blank: cut at 998", std::string(2000, 'b'),
         std::string(998, 'b') + CrLf + std::string(998, 'b') + CrLf + "bbbb"},
        {"cut behind the last blank", std::string(900, 'a') + " " + std::string(90, 'b') + " " + std::string(200, 'c'),
         std::string(900, 'a') + " " + std::string(90, 'b') + " " + CrLf + std::string(200, 'c')},
        {"a blank beyond 998 does not count", a998 + "aa b", a998 + CrLf + "aa b"},
        {"a continuation piece is stuffed", a998 + ".bc", a998 + CrLf + "..bc"},
        {"the stuffing dot makes a line too long", "." + std::string(997, 'a'),
         ".." + std::string(996, 'a') + CrLf + "a"},
        {"line feeds alone: one line, wrapped with CR LF", "x\n" + std::string(1500, 'b'),
         "x\n" + std::string(996, 'b') + CrLf + std::string(504, 'b')},
        {"CR separator wraps with CR", "x\r" + std::string(1000, 'b'),
         "x\r" + std::string(998, 'b') + "\r" + "bb"},
        {"later lines wrap too", "x\r\n" + std::string(999, 'c') + "\r\ny",
         "x\r\n" + std::string(998, 'c') + CrLf + "c\r\ny"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(PrepareMessageText(c.text), c.prepared);
    }
}

TEST(MessageComposition, EightBitDetection)
{
    EXPECT_FALSE(HasEightBitText(""));
    EXPECT_FALSE(HasEightBitText("plain ASCII ~ text\r\n\t"));
    EXPECT_TRUE(HasEightBitText("delete \x7F"));
    EXPECT_TRUE(HasEightBitText("caf\xE9"));
    EXPECT_TRUE(HasEightBitText("\x80"));
}

TEST(MessageComposition, TimeZoneTexts)
{
    struct Case {
        int offset;
        const char* text;
    } cases[] = {{0, "+0000"}, {330, "+0530"}, {-210, "-0330"}, {-30, "-0030"},
                 {30, "+0030"}, {60, "+0100"}, {-720, "-1200"}, {840, "+1400"}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.offset);
        EXPECT_EQ(TimeZoneText(c.offset), c.text);
    }
}

TEST(MessageComposition, LocalOffsetFollowsTheZoneSetting)
{
    // POSIX zone rules count west of UTC as positive; the offset here counts east.
    struct Case {
        const char* zone;
        const char* text;
    } cases[] = {{"UTC0", "+0000"}, {"QPW0:30", "-0030"}, {"QPE-0:30", "+0030"},
                 {"QPI-5:30", "+0530"}, {"QPN3:30", "-0330"}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.zone);
        ZoneGuard zone(c.zone);
        EXPECT_EQ(TimeZoneText(LocalTimeZoneOffsetMinutes()), c.text);
    }
}

TEST(MessageComposition, MailDate)
{
    const MailNameTables names = BuildMailNameTables();
    ASSERT_EQ(names.WeekdayNames.size(), 8u);
    ASSERT_EQ(names.MonthNames.size(), 13u);
    EXPECT_EQ(names.WeekdayNames[0], "");
    EXPECT_EQ(names.MonthNames[0], "");

    std::tm saturday{};
    saturday.tm_year = 2026 - 1900;
    saturday.tm_mon = 11;
    saturday.tm_mday = 5;
    saturday.tm_wday = 6;
    saturday.tm_hour = 5;
    saturday.tm_min = 48;
    saturday.tm_sec = 39;
    EXPECT_EQ(FormatMailDate(saturday, "+0100", names), "Sat, 5 Dec 2026 05:48:39 +0100");

    std::tm sunday{};
    sunday.tm_year = 2023 - 1900;
    sunday.tm_mday = 31;
    sunday.tm_hour = 23;
    sunday.tm_min = 5;
    sunday.tm_sec = 9;
    EXPECT_EQ(FormatMailDate(sunday, "-0330", names), "Sun, 31 Jan 2023 23:05:09 -0330");

    std::tm broken = sunday;
    broken.tm_mon = 12;
    EXPECT_THROW(FormatMailDate(broken, "+0000", names), AppError);

    ZoneGuard zone("QPW0:30");
    const std::string now = FormatMailDate(CurrentLocalTime(), TimeZoneText(LocalTimeZoneOffsetMinutes()), names);
    EXPECT_TRUE(std::regex_match(
        now, std::regex(R"((Sun|Mon|Tue|Wed|Thu|Fri|Sat), [1-9]\d? [A-Z][a-z]{2} \d{4} \d{2}:\d{2}:\d{2} -0030)")))
        << now;
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
    next = 0;
    EXPECT_EQ(CreateMessageId(UtcTime{987, 1, 2, 13, 14, 15, 999}, random, std::string("h\0\0", 3)),
              "9870102131415999." + drawn + "@" + std::string("h\0", 2));

    const std::regex layout(R"(\d{17}\.[A-Za-z0-8]{20}@mail\.example)");
    const std::string first = CreateMessageId(std::string("mail.example\0", 13));
    const std::string second = CreateMessageId("mail.example");
    EXPECT_TRUE(std::regex_match(first, layout)) << first;
    EXPECT_TRUE(std::regex_match(second, layout)) << second;
    EXPECT_NE(first.substr(18, 20), second.substr(18, 20));
}

TEST(MessageComposition, TransmissionSizeEstimate)
{
    const std::vector<std::string> recipients = {"a@b.com", "cc@dd.org"};
    const std::vector<std::string> recipientNames = {"Ann"};
    const std::vector<std::string> cc = {"x@y.net"};
    const std::vector<std::string> bcc = {"b1@z.de", "b2@z.de"};
    TransmissionSizeInputs inputs;
    inputs.From = "me@example.com";
    inputs.UseAuthentication = true;
    inputs.Username = "user";
    inputs.Password = "secret1";
    inputs.Recipients = recipients;
    inputs.RecipientDisplayNames = recipientNames;
    inputs.CcRecipients = cc;
    inputs.BccRecipients = bcc;
    inputs.FromDisplayName = "Me";
    inputs.ReplyToAddress = "r@s.com";
    inputs.Subject = "Hi";
    inputs.Message = "Hello";
    inputs.EncodeType = 0;
    inputs.Receipt = true;
    // 93+14 | +25+14 +16/3 +28/3 | +(15+14)+(15+18+6) +(11+3) | +(15+14) | +(15+7)+(15+7+6)
    // | +3+2 +14 +14+7 +2+5 | +64 +36+2+14
    EXPECT_EQ(EstimateTransmissionSize(inputs), 484);

    inputs.Receipt = false;
    EXPECT_EQ(EstimateTransmissionSize(inputs), 484 - 52);
    inputs.EncodeType = 1;
    inputs.Receipt = true;
    EXPECT_EQ(EstimateTransmissionSize(inputs), 484 - 52 - 64);

    EXPECT_EQ(EstimateTransmissionSize(TransmissionSizeInputs{}), 93 + 64);
}
