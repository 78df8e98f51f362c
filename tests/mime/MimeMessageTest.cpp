#include "TestKit.h"
#include "MimeDocument.h"
#include "MimeMessage.h"

#include <optional>

namespace {

// The subject, a line per part (id, type, charset, encoding, disposition, name, <id>, size), the lists.
std::string outline(const Mime::Part& part, const std::string& indent = "")
{
    std::string line = indent + "[" + part.partId + "] " + part.contentType;
    for (const std::string& field : {part.charset, part.transferEncoding, part.disposition, part.fileName})
        line += " " + (field.empty() ? std::string("-") : field);
    line += " <" + part.contentId + "> " + std::to_string(part.size) + "\n";
    for (const Mime::Part& child : part.children)
        line += outline(child, indent + "  ");
    return line;
}

std::string outline(const Mime::Message& m)
{
    std::string text = m.subject + "\n" + outline(m.root) + "inline:";
    for (const Mime::Part& part : m.inlineParts)
        text += " " + part.partId;
    text += " attachments:";
    for (const Mime::Part& part : m.attachments)
        text += " " + part.partId;
    return text;
}

} // namespace

TEST(MimeMessage, ReadsHeadersStructureBodiesAndLists)
{
    struct Case {
        const char *raw, *outline, *text, *html; // LF line ends, read as well as CR LF
    };
    const Case cases[] = {
        {"Subject: =?iso-8859-1?q?Gr=FC=DFe?= of a\n folded line\n"
         "Content-Type: text/plain; charset=iso-8859-1\nContent-Transfer-Encoding: quoted-printable\n\nK=E4se=\n und\n",
         "Grüße of a folded line\n"
         "[] text/plain iso-8859-1 quoted-printable - - <> 9\ninline: attachments:",
         "Käse und\n", ""},
        {"Content-Type: multipart/mixed; boundary=o\n\n--o\nContent-Type: multipart/related; boundary=r\n\n--r\n"
         "Content-Type: multipart/alternative; boundary=a\n\n--a\nContent-Type: text/plain; charset=x-unknown\n\n"
         "na\xEFve\n--a\nContent-Type: text/html; charset=utf-8\nContent-Transfer-Encoding: base64\n\n"
         "PGltZyBzcmM9ImNpZDpMb2dvQHgiPg==\n--a--\n--r\nContent-Type: image/png\nContent-ID: <logo@x>\n\npng\n"
         "--r\nContent-Type: image/gif\n\ngif\n--r--\n--o\nContent-Type: application/pdf\n"
         "Content-Disposition: attachment;\n filename*=utf-8''Pr%C3%BCfung.pdf\n\npdf\n--o\nContent-Type: "
         "message/rfc822\n\n"
         "Content-Type: multipart/alternative; boundary=c\n\n--c\nContent-Type: text/plain\n\ninner\n--c--\n--o--\n",
         "\n[] multipart/mixed - - - - <> 0\n  [1] multipart/related - - - - <> 0\n"
         "    [1.1] multipart/alternative - - - - <> 0\n      [1.1.1] text/plain x-unknown - - - <> 5\n"
         "      [1.1.2] text/html utf-8 base64 - - <> 22\n    [1.2] image/png - - - - <logo@x> 3\n"
         "    [1.3] image/gif - - - - <> 3\n  [2] application/pdf - - attachment Prüfung.pdf <> 3\n"
         "  [3] message/rfc822 - - - - <> 98\n    [] multipart/alternative - - - - <> 0\n"
         "      [3.1] text/plain - - - - <> 5\ninline: 1.2 1.3 attachments: 2 3",
         "naïve", "<img src=\"cid:Logo@x\">"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.outline);
        const Mime::Message message = Mime::parse(c.raw);
        EXPECT_EQ(outline(message), c.outline);
        EXPECT_EQ(message.text, c.text);
        EXPECT_EQ(message.html, c.html);
    }
}

TEST(MimeMessage, MalformedMailShowsWhatCanBeShown)
{
    std::string deepParts;
    for (int i = 0; i < 1000; ++i)
        deepParts += "Content-Type: multipart/mixed; boundary=b" + std::to_string(i) + "\r\n\r\n--b" + std::to_string(i)
            + "\r\n";
    const std::string plain = "Content-Type: text/plain\r\n\r\n";
    const struct {
        std::string raw, textStart;
        std::size_t textSize;
    } cases[] = {
        {deepParts + plain + "bottom", "bottom", 6},
        {"Content-Type: multipart/mixed; boundary=zz\r\n\r\n--yy\r\n" + plain + "hello", "--yy\nContent-Type", 36},
        {"Content-Transfer-Encoding: base64\r\n\r\naGVsbG8gd29y", "hello wor", 9},
        {plain + std::string(64U << 20, 'a'), "aaaa", 64U << 20},
        // Undeclared 8-bit text is read as Windows-1252; what that lacks becomes U+FFFD.
        {"\x80\x81 \r\n\r\nbody", "\u20AC\uFFFD \r\n\r\nbody", 15},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.raw.substr(0, 60));
        const Mime::Message message = Mime::parse(c.raw);
        EXPECT_EQ(message.text.substr(0, c.textStart.size()), c.textStart);
        EXPECT_EQ(message.text.size(), c.textSize);
    }
}

TEST(MimeDocument, OneParseAnswersTheReadingAndEveryPart)
{
    const std::string nested
        = "Content-Type: multipart/mixed; boundary=o\r\n\r\n--o\r\nContent-Type: text/plain\r\n\r\n"
          "body\r\n--o\r\nContent-Type: image/png\r\nContent-Transfer-Encoding: base64\r\n\r\n"
          "iVBORw==\r\n--o\r\nContent-Type: message/rfc822\r\n\r\nSubject: inner\r\n\r\ninner text\r\n"
          "--o--\r\n";
    const struct {
        std::string raw;
        std::vector<std::pair<std::string, std::optional<std::string>>> parts; // id, content
    } cases[] = {
        // A single body is part "1" (and "", as the tree numbers it).
        {"Content-Transfer-Encoding: quoted-printable\r\n\r\nK=C3=A4se\r\n",
         {{"1", "K\xC3\xA4se\r\n"}, {"", "K\xC3\xA4se\r\n"}, {"2", std::nullopt}, {"1.1", std::nullopt}}},
        {nested,
         {{"1", "body"},
          {"2", std::string("\x89PNG")},
          {"3", "Subject: inner\r\n\r\ninner text"},
          {"3.1", "inner text"},
          {"4", std::nullopt},
          {"0", std::nullopt}}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.raw.substr(0, 40));
        const std::size_t before = Mime::parseCount();
        const Mime::Document document(std::make_shared<const std::string>(c.raw));
        EXPECT_EQ(outline(document.message()), outline(Mime::parse(c.raw)));
        for (const auto& [id, content] : c.parts) {
            EXPECT_EQ(document.partContent(id), content) << id;
            EXPECT_EQ(Mime::partContent(c.raw, id), content) << id;
        }
        EXPECT_EQ(Mime::parseCount() - before, 2 + c.parts.size()); // the document, parse, each partContent
    }
}

TEST(MimeDocument, HostileStructureIsReadWithinItsBounds)
{
    const auto repeat = [](const std::string& text, std::size_t count) {
        std::string out;
        for (std::size_t i = 0; i < count; ++i)
            out += text;
        return out;
    };
    const std::string manyTo = "To: \"Doe, J.\" <j@x>" + repeat(", a@b", 249'999) + "\r\n";
    const std::string parts = "Content-Type: multipart/mixed; boundary=b\r\n\r\n";
    const struct {
        std::string raw;
        std::size_t to, toLeftOut, headers, attachments;
        std::string textStart;
    } cases[] = {
        // 250,000 addresses: the first 1,000 read (a comma in quotes is no separator), the rest counted.
        {"From: a@b\r\n" + manyTo + "Cc: c@d\r\n\r\nbody", 1000, 249'000, 3, 0, "body"},
        // Fields beyond the first 10,000 are left out of the parse; their addresses are counted.
        {repeat("X: y\r\n", 10'000) + "To: " + repeat("a@b, ", 999) + "c@d\r\n\r\nbody", 0, 1000, 10'000, 0, "body"},
        // One address field reads at most 64 KiB, up to the last whole address before them.
        {"To: " + repeat(std::string(82, 'x') + "@example.com, ", 1'000) + "\r\n\r\nbody", 682, 318, 1, 0, "body"},
        // 10,000 parts: the first is the text, the others are listed.
        {parts + repeat("--b\r\n\r\nx\r\n", 10'000) + "--b--\r\n", 0, 0, 1, 9'999, "x"},
        // Beyond 10,000 parts the body is shown as it is.
        {parts + repeat("--b\r\n\r\nx\r\n", 10'001) + "--b--\r\n", 0, 0, 1, 0, "--b"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.raw.substr(0, 60));
        const Mime::Message message = Mime::parse(c.raw);
        EXPECT_EQ(message.to.size(), c.to);
        EXPECT_EQ(message.addressesLeftOut.to, c.toLeftOut);
        EXPECT_EQ(message.headers.size(), c.headers);
        EXPECT_EQ(message.attachments.size(), c.attachments);
        EXPECT_EQ(message.text.substr(0, c.textStart.size()), c.textStart);
    }
    const Mime::Message first = Mime::parse(cases[0].raw);
    ASSERT_FALSE(first.to.empty());
    EXPECT_EQ(first.to.front().name, "Doe, J.");
    EXPECT_EQ(first.cc.size(), 1u);
}

TEST(MimeMessage, DatesAsMailersWriteThem)
{
    constexpr std::int64_t Dec7th2026 = 1'796'605'323; // 2026-12-07T01:02:03Z
    const struct {
        const char* date;
        std::optional<std::pair<std::int64_t, int>> read; // seconds since the epoch, offset in minutes
    } cases[] = {
        {"Mon, 7 Dec 2026 01:02:03 +0000 (UTC)", std::pair{Dec7th2026, 0}},
        {"Mon, 7 Dec 2026 03:02:03 +0200 (CEST)", std::pair{Dec7th2026, 120}},
        {"Sun, 6 Dec 2026 20:02:03 EST", std::pair{Dec7th2026, -300}},
        {"7 Dec 2026 01:02:03 GMT", std::pair{Dec7th2026, 0}},
        {"Mon, 07 Dec 26 02:02:03 +0100", std::pair{Dec7th2026, 60}},
        {"yesterday", std::nullopt},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.date);
        const Mime::Message message = Mime::parse(std::string("Date: ") + c.date + "\r\n\r\nbody\r\n");
        ASSERT_EQ(message.sentAt.has_value(), c.read.has_value());
        if (c.read) {
            EXPECT_EQ(message.sentAt->secondsSinceEpoch, c.read->first);
            EXPECT_EQ(message.sentAt->offsetMinutes, c.read->second);
        }
    }
}
