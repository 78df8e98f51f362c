#include <gtest/gtest.h>

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include "ApiJson.h"
#include "JsonText.h"
#include "MessageCatalog.h"

namespace {

std::string qtJson(const QJsonObject& object)
{
    return QJsonDocument(object).toJson(QJsonDocument::Compact).toStdString();
}

// Texts a hostile mail can put in a listed field, well-formed or not.
const std::vector<std::string> HostileTexts{
    "",
    "plain",
    "quote\" backslash\\ slash/",
    std::string("nul\0inside", 10),
    "\x01\x02\x07\b\t\n\v\f\r\x0e\x1b\x1f\x7f",
    "line\xe2\x80\xa8paragraph\xe2\x80\xa9",
    "\xef\xbb\xbf\x62om, and one inside \xef\xbb\xbf",
    "nonchars \xef\xbf\xbe \xef\xbf\xbf \xf4\x8f\xbf\xbf",
    "emoji \xf0\x9f\x98\x80 and \xc3\xa9",
    "lone \xff byte, \x80 continuation",
    "overlong \xc0\xaf \xe0\x80\xaf \xf0\x80\x80\xaf",
    "surrogates \xed\xa0\x80 \xed\xbf\xbf \xed\xa0\xbd\xed\xb8\x80",
    "past the end \xf4\x90\x80\x80 \xf8\x88\x80\x80\x80",
    "cut \xe2\x82",
    "cut mid \xe2\x28\xa1 \xf0\x9f\x98",
    "<script>alert(1)</script>",
};

// Arrival times in milliseconds: now, the epoch, a leap day, times before 1970 (which Qt writes
// otherwise), and near the end of what the clock holds (the year 2262).
const std::vector<std::int64_t> Times{
    1'700'000'000'123, 0, 951'782'400'000, 4'107'542'399'999, 9'214'646'399'999, -1, -999, -5'000'000'000'000};

} // namespace

// Every text is written as QJsonDocument writes the QString Qt reads from the same bytes.
TEST(JsonText, StringsAreWrittenAsQtWritesThem)
{
    for (const std::string& text : HostileTexts) {
        SCOPED_TRACE(text);
        std::string ours;
        JsonText::appendString(ours, text);
        const std::string qt = QJsonDocument(QJsonArray{QString::fromUtf8(text.data(), qsizetype(text.size()))})
                                   .toJson(QJsonDocument::Compact)
                                   .toStdString();
        EXPECT_EQ("[" + ours + "]", qt);
    }
}

// A list item written as text is the item's object as QJsonDocument prints it, whatever the
// mail holds: cut address lists, a missing From, sizes, read marks, an envelope in Latin-1,
// arrival times.
TEST(JsonText, AListItemIsTheObjectsCompactText)
{
    const auto body = std::make_shared<const std::string>(1'000'000, 'x');
    for (std::size_t i = 0; i < HostileTexts.size(); ++i) {
        const std::string& text = HostileTexts[i];
        SCOPED_TRACE(text);
        MessageFacts facts;
        facts.subject = text;
        facts.messageId = text + "@id";
        facts.snippet = text;
        facts.attachments = int(i);
        facts.to = {{{text, "to@x"}, {"", text}}, i % 2 == 0 ? 2U : 250'000U};
        facts.cc = {{{"Cc \"quoted\"", "cc@x"}}, i % 3 == 0 ? 1U : 7U};
        if (i % 2 == 0)
            facts.from = {{{text, "from@x"}}, 1};
        if (i % 4 == 1)
            facts.replyTo = {{}, 3};
        const ApiJson::ListingEntry entry{
            std::uint64_t(i) * 1'000'003,
            i % 2 == 1,
            "<" + text + "@envelope>",
            text,
            std::chrono::system_clock::time_point(std::chrono::milliseconds(Times[i % Times.size()])),
            i % 5 == 0 ? nullptr : body};
        std::string ours;
        ApiJson::appendListItem(ours, entry, facts);
        EXPECT_EQ(ours, qtJson(ApiJson::listItem(entry, facts)));
    }
}
