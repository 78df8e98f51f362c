// The facts the API keeps for lists and searches: bounded, charged to the byte budget, read once.
#include "TestKit.h"
#include "ListUnsubscribe.h"
#include "MessageCatalog.h"
#include "MimeMessage.h"
#include "clsEmailStorage.h"

namespace {

std::string repeat(const std::string& text, std::size_t count)
{
    std::string out;
    for (std::size_t i = 0; i < count; ++i)
        out += text;
    return out;
}

std::vector<Search::Term> parseSearch(const char* query)
{
    return Search::parseQuery(query, [](const Search::CivilTime& t) { return Search::toEpochMs(t); }).terms;
}

std::int16_t store(clsEmailStorage& storage, const std::string& header, const std::string& body = "body\r\n")
{
    return storage.StoreEmail("<s@x>", "<r@x>", header + "\r\n\r\n" + body);
}

} // namespace

TEST(MessageCatalog, FactsForTheListAreCutAndSearchesReadTheWhole)
{
    clsEmailStorage storage;
    MessageCatalog catalog(storage);
    // A subject of 2,001 bytes whose cut would fall inside a two-byte character.
    const std::int16_t position = store(
        storage, "To: Ann <ann@x>" + repeat(", a@b", 249'999) + "\r\nSubject: a" + repeat("\xC3\xBC", 1000) + " tail");
    const auto facts = catalog.facts(position);
    EXPECT_EQ(facts->to.first.size(), MaxListedAddresses);
    EXPECT_EQ(facts->to.count, 250'000u);
    EXPECT_EQ(facts->to.first.front().name, "Ann");
    EXPECT_EQ(facts->subject, "a" + repeat("\xC3\xBC", 499));
    const struct {
        const char* query;
        bool found;
    } cases[] = {{"subject:tail", true}, {"to:ann", true}, {"-to:ann", false}, {"to:nobody", false}};
    for (const auto& c : cases)
        EXPECT_EQ(catalog.matches(position, parseSearch(c.query)), c.found) << c.query;
}

TEST(MessageCatalog, KeptFactsAreChargedToTheBudgetAndGivenBack)
{
    clsEmailStorage storage;
    MessageCatalog catalog(storage);
    store(storage, "Subject: one");
    store(storage, "Subject: two");
    const std::size_t messages = storage.budget().used();
    const std::size_t first = catalog.facts(1)->footprint();
    const std::size_t second = catalog.facts(2)->footprint();
    EXPECT_GT(first, sizeof(MessageFacts));
    EXPECT_EQ(storage.budget().used(), messages + first + second);
    storage.RemoveEmail(1);
    catalog.forget(1);
    EXPECT_EQ(storage.budget().used(), messages / 2 + second); // the two messages are of one size
    catalog.clear();
    EXPECT_EQ(storage.budget().used(), messages / 2);

    // Without room they are read each time they are needed, and nothing is taken.
    storage.budget().setLimit(storage.budget().used());
    const std::size_t parses = Mime::parseCount();
    EXPECT_EQ(catalog.facts(1)->subject, "two");
    EXPECT_EQ(catalog.facts(1)->subject, "two");
    EXPECT_EQ(Mime::parseCount() - parses, 2u);
    EXPECT_EQ(storage.budget().used(), messages / 2);
}

TEST(MessageCatalog, EachMessageIsParsedOnceForAllSearches)
{
    clsEmailStorage storage;
    MessageCatalog catalog(storage);
    store(storage, "Subject: plain", "caf\xC3\xA9\r\n");
    store(storage, "Content-Transfer-Encoding: quoted-printable", "caf=C3=A9 au lait\r\n");
    store(storage, "Content-Transfer-Encoding: base64", "Y2Fmw6kgbm9pcg==\r\n");
    const std::size_t parses = Mime::parseCount();
    for (const auto& [query, found] : {std::pair{"caf\xC3\xA9", 3u}, std::pair{"lait", 1u}, std::pair{"noir", 1u}})
        EXPECT_EQ(catalog.search(parseSearch(query)).size(), found) << query;
    EXPECT_EQ(Mime::parseCount() - parses, 3u);
}

TEST(ApiFields, UnsubscribeLinksEnvelopeAndHeaderNames)
{
    const struct {
        const char* field;
        std::vector<std::string> links;
        const char* errors;
    } cases[] = {
        {"<mailto:u@x.com?subject=unsub>, <https://x.com/u>", {"mailto:u@x.com?subject=unsub", "https://x.com/u"}, ""},
        {" <HTTPS://x.com/u> (comment) ", {"HTTPS://x.com/u"}, ""},
        {"<https://a.com>,<https://b.com>", {"https://a.com"}, "\"https://b.com\" should only contain one HTTP link"},
        {"https://a.com", {}, "\"https://a.com\" no valid unsubscribe links found"},
        {"x <https://a.com>", {}, "\"x <https://a.com>\" should be enclosed in <>"},
        {"<a>, <b>, <c>", {}, "\"<a>, <b>, <c>\" should include a maximum of one email and one HTTP link"},
        {"<mailto:a@b> and <https://a.com>",
         {},
         "\"<mailto:a@b> and <https://a.com>\" <> should be split with a comma and optional spaces"},
        {"<ftp://a.com>, <https://a .com>",
         {},
         "\"ftp://a.com\" should start with either http(s):// or mailto:, \"https://a .com\" should not contain "
         "spaces"},
        {"<https://a.com/%zz>", {}, "parse \"https://a.com/%zz\": invalid URL escape \"%zz\""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.field);
        const UnsubscribeLinks parsed = parseListUnsubscribe(c.field);
        EXPECT_EQ(parsed.links, c.links);
        EXPECT_EQ(parsed.errors, c.errors);
    }
    for (const auto& [name, canonical] :
         {std::pair{"message-ID", "Message-Id"}, std::pair{"MIME-Version", "Mime-Version"}, std::pair{"x-1a", "X-1a"},
          std::pair{"X_Custom_HEADER", "X_custom_header"}, std::pair{"Subject ", "Subject "}})
        EXPECT_EQ(canonicalHeaderName(name), canonical);
    // The envelope as SMTPUTF8 sends it, and as an 8-bit client does.
    EXPECT_EQ(envelopeText("j\xC3\xBCrgen"), "j\xC3\xBCrgen");
    EXPECT_EQ(envelopeText("j\xFCrgen"), "j\xC3\xBCrgen");
    const Mime::Message message = Mime::parse("To: a@x\r\nCc: B@X\r\nBcc: c@x\r\n\r\n");
    std::vector<std::string> bcc;
    for (const Mime::Address& address : blindCopies(message, "<a@x>, <b@x>, <c@x>, <d@x>"))
        bcc.push_back(address.address);
    EXPECT_EQ(bcc, (std::vector<std::string>{"c@x", "d@x"}));
}
