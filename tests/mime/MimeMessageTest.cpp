#include "TestKit.h"
#include "MimeMessage.h"

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
