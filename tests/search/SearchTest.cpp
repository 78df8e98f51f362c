// The search language as test suites write it, the matching of one message, and HTML as text.
#include <gtest/gtest.h>

#include "HtmlText.h"
#include "SearchMatch.h"
#include "SearchQuery.h"
#include "SearchText.h"

namespace {

using Search::Field;

// Dates without a zone read as UTC, so that rows do not depend on the machine's zone.
Search::Query parse(const std::string& query)
{
    return Search::parseQuery(query, [](const Search::CivilTime& t) { return Search::toEpochMs(t); });
}

constexpr std::int64_t Day = 86'400'000;
constexpr std::int64_t April1st2024 = 19'814 * Day; // 2024-04-01T00:00:00Z

} // namespace

TEST(SearchQuery, WordsBecomeTerms)
{
    const struct {
        const char* query;
        Field field;
        const char* text;
        std::int64_t number;
        bool negated;
    } cases[] = {
        {"Hello", Field::Text, "hello", 0, false},
        {"KÖLN", Field::Text, "köln", 0, false},
        {"-from:Alice", Field::From, "alice", 0, true},
        {"!CC:bob", Field::Cc, "bob", 0, true},
        {"--x", Field::Text, "-x", 0, true},
        {"-", Field::Text, "-", 0, false},
        {"subject:\"big  deal\"", Field::Subject, "big deal", 0, false},
        {"\"subject:big deal\"", Field::Subject, "big deal", 0, false},
        {"message-id:<a@b>", Field::MessageId, "a@b", 0, false},
        {"reply-to:x", Field::ReplyTo, "x", 0, false},
        {"bcc:x", Field::Bcc, "x", 0, false},
        {"addressed:x", Field::Addressed, "x", 0, false},
        {"is:read", Field::Read, "", 0, false},
        {"is:unread", Field::Read, "", 0, true},
        {"-is:unread", Field::Read, "", 0, false},
        {"has:attachments", Field::Attachment, "", 0, false},
        {"HAS:inline", Field::Inline, "", 0, false},
        {"larger:1.5m", Field::Larger, "", 1'572'864, false},
        {"smaller:\"10 KB\"", Field::Smaller, "", 10'240, false},
        {"larger:0", Field::Larger, "", 0, false},
        {"after:2024-04-01", Field::After, "", April1st2024, false},
        {"before:2024/04/01", Field::Before, "", April1st2024, false},
        {"after:20240401", Field::After, "", April1st2024, false},
        {"after:2024.04.01", Field::After, "", April1st2024, false},
        {"after:04/01/2024", Field::After, "", April1st2024, false},
        {"after:\"1 Apr 2024\"", Field::After, "", April1st2024, false},
        {"after:\"April 1, 2024\"", Field::After, "", April1st2024, false},
        {"after:2024-Apr-01", Field::After, "", April1st2024, false},
        {"after:2024-04", Field::After, "", April1st2024, false},
        {"after:2024", Field::After, "", April1st2024 - 91 * Day, false},
        {"after:1711929600", Field::After, "", April1st2024, false},
        {"after:1711929600000", Field::After, "", April1st2024, false},
        {"after:\"2024-04-01 10:30\"", Field::After, "", April1st2024 + 37'800'000, false},
        {"after:\"2024-04-01 10:30:05.5\"", Field::After, "", April1st2024 + 37'805'500, false},
        {"after:2024-04-01T10:30:00+02:00", Field::After, "", April1st2024 + 30'600'000, false},
        {"after:2024-04-01T10:30:00-0100", Field::After, "", April1st2024 + 41'400'000, false},
        {"after:2024-04-01T00:00:00Z", Field::After, "", April1st2024, false},
        {"after:\"2024-04-01 01:00 PM\"", Field::After, "", April1st2024 + 46'800'000, false},
        {"after:\"Mon, 01 Apr 2024 02:00:00 +0200\"", Field::After, "", April1st2024, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.query);
        const Search::Query query = parse(c.query);
        ASSERT_EQ(query.error, "");
        ASSERT_EQ(query.terms.size(), 1u);
        const Search::Term& term = query.terms.front();
        EXPECT_EQ(term.field, c.field);
        EXPECT_EQ(term.text, c.text);
        EXPECT_EQ(term.number, c.number);
        EXPECT_EQ(term.negated, c.negated);
    }
    EXPECT_EQ(parse("  a   \"b c\"  d ").terms.size(), 3u);
    EXPECT_TRUE(parse("from: <> \"\"").terms.empty()); // words that ask for nothing
}

TEST(SearchQuery, WhatCannotBeReadIsRefusedByName)
{
    const struct {
        const char* query;
        const char* error;
    } cases[] = {
        {"ok tag:urgent", "the search word \"tag:urgent\" is not supported"},
        {"is:tagged", "the search word \"is:tagged\" is not supported"},
        {"-has:pdf", "the search word \"has:pdf\" is not supported"},
        {"before:yesterday", "cannot read a date in \"before:yesterday\""},
        {"after:", "cannot read a date in \"after:\""},
        {"after:2024-02-30", "cannot read a date in \"after:2024-02-30\""},
        {"after:\"2024-04-01 25:00\"", "cannot read a date in \"after:2024-04-01 25:00\""},
        {"after:12345", "cannot read a date in \"after:12345\""},
        {"larger:2gb", "cannot read a size in \"larger:2gb\""},
        {"smaller:", "cannot read a size in \"smaller:\""},
        {"larger:1.", "cannot read a size in \"larger:1.\""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.query);
        const Search::Query query = parse(c.query);
        EXPECT_EQ(query.error.substr(0, std::string(c.error).size()), c.error);
        EXPECT_TRUE(query.terms.empty());
    }
}

TEST(SearchMatch, EachWordReadsItsField)
{
    Search::Searchable message;
    Search::AddressText from, to, bcc;
    from.add("Jürgen Groß", "jg@example.de");
    to.add("", "bob@example.com");
    bcc.add("", "audit@example.com");
    message.from = from.lines;
    message.to = to.lines;
    message.bcc = bcc.lines;
    message.subject = Search::normalised("Rechnung für März");
    message.messageId = Search::normalised("order-7@shop");
    message.text
        = message.from + message.to + message.subject + "\n" + Search::normalised("Grüße aus KÖLN,\r\n  bis bald");
    message.attachments = 1;
    const Search::Standing standing{April1st2024 + 1000, 5000, false};
    const struct {
        const char* query;
        bool found;
    } cases[] = {
        {"köln", true},
        {"KÖLN", true},
        {"aus köln bis", true},
        {"GROSS", true},
        {"from:jürgen", true},
        {"from:bob", false},
        {"to:bob", true},
        {"-to:bob", false},
        {"cc:bob", false},
        {"bcc:audit", true},
        {"addressed:audit", true},
        {"-addressed:nobody", true},
        {"subject:märz", true},
        {"subject:köln", false},
        {"message-id:<order-7@shop>", true},
        {"is:unread", true},
        {"is:read", false},
        {"has:attachment", true},
        {"has:inline", false},
        {"larger:4k", true},
        {"larger:5000", false},
        {"smaller:5001", true},
        {"after:2024-04-01", true},
        {"before:2024-04-01", false},
        {"before:2024-04-02 after:2024-03-31", true},
        {"köln -märz", false},
        {"", true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.query);
        EXPECT_EQ(Search::matches(message, standing, parse(c.query).terms), c.found);
    }
}

TEST(HtmlText, ReadsAsTheReaderSeesIt)
{
    const struct {
        const char* html;
        const char* text;
    } cases[] = {
        {"<p>One</p><p>Two</p>", "One\n\nTwo"},
        {"a<br>b<br/>c", "a\nb\nc"},
        {"<div>x</div><div>y</div>", "x\ny"},
        {"<ul><li>one</li><li>two</li></ul>", "* one\n* two"},
        {"<head><title>T</title><style>p{}</style></head><script>x()</script>seen", "seen"},
        {"<SCRIPT type=x>if (a<b) {}</SCRIPT>after", "after"},
        {"caf&eacute; &amp; &#x263A; &#9731; &lt;b&gt; &bogus;", "café & ☺ ☃ <b> &bogus;"},
        {"  lots \r\n of\t  blanks  ", "lots of blanks"},
        {"<a href=\"https://x.com/r?t=42\">Reset</a>", "Reset ( https://x.com/r?t=42 )"},
        {"<a href='mailto:a@b.c'>write</a>", "write ( a@b.c )"},
        {"<a href=\"https://x.com\">https://x.com</a>", "https://x.com"},
        {"<a href=\"#top\">top</a>", "top"},
        {"<img alt=\"Logo\" src=\"cid:l\">", "Logo"},
        {"<!-- hidden -->a<!doctype html>b", "ab"},
        {"<pre>  kept\n  as is</pre>", "kept\n  as is"},
        {"<td>a</td><td>b</td>", "a b"},
        {"1 < 2 > 0", "1 < 2 > 0"},
        {"<p title=\"a>b\">x</p>", "x"},
        {"<script>never closed", ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.html);
        EXPECT_EQ(Search::htmlToText(c.html), c.text);
    }
}
