#include <chrono>

#include "TestKit.h"
#include "InboxRows.h"
#include "ListingFacts.h"
#include "MimeMessage.h"
#include "clsEmailStorage.h"

namespace {

std::string mail(const std::string& from, const std::string& subject, const std::string& extra = "")
{
    return "From: " + from + "\r\nTo: ann@example.com\r\nSubject: " + subject + "\r\n" + extra + "\r\nbody\r\n";
}

// A store and rows over it, in the order given; the subjects of the rows as shown.
struct Listing {
    clsEmailStorage store;
    std::size_t reads = 0;
    Inbox::Rows rows{[this](std::uint64_t id) {
        ++reads;
        return Inbox::factsFrom(store)(id);
    }};

    void add(const std::string& from, const std::string& subject, std::size_t padding = 0)
    {
        const std::int16_t position
            = store.StoreEmail("<env@x>", "<ann@example.com>", mail(from, subject) + std::string(padding, 'x'));
        rows.insert(Inbox::rowOf(store, position));
    }
    std::string subjects()
    {
        std::string shown;
        for (std::size_t row = 0; row < rows.size(); ++row)
            shown += (row ? "," : "") + rows.facts(row).subject;
        return shown;
    }
};

} // namespace

TEST(ListingFacts, ReadFromTheHeaderAloneAndBounded)
{
    struct Case {
        std::string raw, envelope, sender, subject;
        bool mark;
    };
    const std::string many = [] {
        std::string list = "a0@example.com";
        for (int i = 1; i < 250000; ++i)
            list += ", a" + std::to_string(i) + "@example.com";
        return list;
    }();
    const Case cases[] = {
        {mail("=?UTF-8?Q?J=C3=BCrgen?= <j@example.com>", "=?UTF-8?B?R3LDvMOfZQ==?="), "<e@x>", "Jürgen <j@example.com>",
         "Grüße", false},
        // No From: the envelope's sender; a folded subject on one line; a mixed multipart is marked.
        {"Subject: two\r\n lines\r\nContent-Type: multipart/mixed; boundary=b\r\n\r\n--b--\r\n", "<e@x>", "<e@x>",
         "two lines", true},
        {"Subject: x\r\nContent-Type: multipart/alternative; boundary=b\r\n\r\n", "", "", "x", false},
        // A 1 MB subject is cut, never inside a character; 250,000 addresses cost a bounded header.
        {mail("a@b.c", std::string(1 << 20, 'y')), "", "a@b.c", std::string(MaxShownBytes, 'y'), false},
        {mail("a@b.c", std::string(MaxShownBytes - 1, 'y') + "ü"), "", "a@b.c", std::string(MaxShownBytes - 1, 'y'),
         false},
        {mail(many, "flood"), "", "a0@example.com", "", false},
        // A body never counts: the header's blank line ends what is read.
        {"Subject: s\r\n\r\nSubject: not this\r\nContent-Type: multipart/mixed\r\n", "", "", "s", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.raw.substr(0, 60));
        const auto start = std::chrono::steady_clock::now();
        const std::size_t parses = Mime::parseCount();
        const ListingFacts facts = listingFacts(c.raw, c.envelope);
        EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(300));
        EXPECT_EQ(Mime::parseCount(), parses); // a header read takes no message apart
        EXPECT_EQ(facts.sender, c.sender);
        EXPECT_EQ(facts.subject, c.subject);
        EXPECT_EQ(facts.attachmentMark, c.mark);
        EXPECT_LT(facts.heapBytes(), std::size_t{200'000});
    }
}

TEST(InboxRows, OrderArrivalsRemovalsAndFind)
{
    Listing list;
    list.add("Carol <c@x>", "beta", 30);
    list.add("alice <a@x>", "Alpha", 10);
    list.add("Bob <b@x>", "gamma", 20);
    // Newest first; arrivals in that order read no facts until a row is shown.
    EXPECT_EQ(list.reads, 0u);
    EXPECT_EQ(list.subjects(), "gamma,Alpha,beta");
    struct Case {
        Inbox::Column column;
        bool descending;
        std::string shown;
    };
    const Case cases[] = {
        {Inbox::Column::Received, false, "beta,Alpha,gamma"},
        {Inbox::Column::Sender, false, "Alpha,gamma,beta"}, // letter case folded
        {Inbox::Column::Sender, true, "beta,gamma,Alpha"},
        {Inbox::Column::Subject, false, "Alpha,beta,gamma"},
        {Inbox::Column::Size, true, "beta,gamma,Alpha"},
        {Inbox::Column::Attachment, false, "beta,Alpha,gamma"}, // ties in arrival order
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(int(c.column));
        list.rows.sortBy(c.column, c.descending);
        EXPECT_EQ(list.subjects(), c.shown);
        // Each row is found by its id wherever the order put it.
        for (std::size_t row = 0; row < list.rows.size(); ++row)
            EXPECT_EQ(list.rows.find(list.rows.at(row).id), row);
    }
    EXPECT_EQ(list.reads, 3u); // once per message, whatever the orders
    // An arrival goes where the order puts it; a removal leaves the rest in order.
    list.rows.sortBy(Inbox::Column::Subject, false);
    list.add("Dan <d@x>", "delta");
    EXPECT_EQ(list.subjects(), "Alpha,beta,delta,gamma");
    list.rows.removeAt(*list.rows.find(list.store.emailId(1)));
    EXPECT_EQ(list.subjects(), "Alpha,delta,gamma");
    EXPECT_FALSE(list.rows.find(list.store.emailId(1) + 100));
}

TEST(InboxFilter, TheApiQueryWordsOverTheHeader)
{
    clsEmailStorage store;
    store.StoreEmail("<e@x>", "<ann@example.com>", mail("Köln Office <k@example.com>", "Invoice 7"));
    store.StoreEmail("<e@x>", "<ann@example.com>",
                     mail("b@example.com", "Reset", "Content-Type: multipart/mixed; boundary=q\r\n") + "--q--\r\n");
    store.markEmailRead(store.emailId(2));
    const auto utc = [](const Search::CivilTime& t) { return Search::toEpochMs(t); };
    struct Case {
        std::string query, matched, error;
    };
    const Case cases[] = {
        {"", "12", ""},
        {"KÖLN", "1", ""},
        {"from:b@example subject:reset", "2", ""},
        {"-subject:invoice", "2", ""},
        {"is:unread", "1", ""},
        {"has:attachment", "2", ""},
        {"to:ann larger:1", "12", ""},
        {"after:2001-01-01 before:2000-01-01", "", ""},
        // Words that cannot be read refuse the query and leave the filter as it was.
        {"larger:huge", "", "larger:huge"},
        {"tag:x", "", "tag:"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.query);
        Inbox::Filter filter;
        const std::string error = filter.set(c.query, utc);
        if (!c.error.empty()) {
            EXPECT_NE(error.find(c.error), std::string::npos) << error;
            EXPECT_FALSE(filter.active());
            continue;
        }
        EXPECT_EQ(error, "");
        std::string matched;
        for (std::int16_t position = 1; position <= store.Count(); ++position) {
            const ListingFacts facts = listingFacts(store.EmailBody(position), store.EmailFrom(position));
            if (filter.accepts(Inbox::rowOf(store, position), filter.needsFacts() ? &facts : nullptr))
                matched += std::to_string(position);
        }
        EXPECT_EQ(matched, c.matched);
    }
}
