#include <string>
#include <string_view>
#include <vector>

#include <gtest/gtest.h>

#include "MimeMessage.h"

namespace {

// The tree in one line per part: id, type, charset, encoding, disposition, file name, content id,
// size; then which parts went to which flat list.
std::string outline(const Mime::Part& part, int depth = 0)
{
    std::string line
        = std::string(static_cast<std::size_t>(depth) * 2, ' ') + "[" + part.partId + "] " + part.contentType;
    for (const std::string* field : {&part.charset, &part.transferEncoding, &part.disposition, &part.fileName})
        line += " " + (field->empty() ? std::string("-") : *field);
    line += " <" + part.contentId + "> " + std::to_string(part.size) + "\n";
    for (const Mime::Part& child : part.children)
        line += outline(child, depth + 1);
    return line;
}

std::string lists(const Mime::Message& message)
{
    std::string result = "inline:";
    for (const Mime::Part& part : message.inlineParts)
        result += " " + part.partId;
    result += " attachments:";
    for (const Mime::Part& part : message.attachments)
        result += " " + part.partId;
    return result;
}

std::string crlf(std::string_view lf)
{
    std::string out;
    for (char c : lf)
        out += c == '\n' ? std::string("\r\n") : std::string(1, c);
    return out;
}

struct Case {
    const char* name;
    const char* raw; // written with LF, read with CR LF as the store keeps it
    const char* tree;
    const char* text;
    const char* html;
    const char* lists;
};

const Case Cases[] = {
    {"plain Latin-1 quoted-printable, single body is part 1",
     "Subject: =?iso-8859-1?q?Gr=FC=DFe?=\nContent-Type: text/plain; charset=iso-8859-1\n"
     "Content-Transfer-Encoding: quoted-printable\n\nK=E4se=\n und Brot\n",
     "[] text/plain iso-8859-1 quoted-printable - - <> 15\n", "Käse und Brot\n", "", "inline: attachments:"},
    {"related HTML with a cid image, a 2231 file name, and an unknown charset",
     "Content-Type: multipart/mixed; boundary=outer\n\n--outer\n"
     "Content-Type: multipart/related; boundary=rel\n\n--rel\n"
     "Content-Type: multipart/alternative; boundary=alt\n\n--alt\n"
     "Content-Type: text/plain; charset=x-nobody-knows\n\nna\xEFve\n--alt\n"
     "Content-Type: text/html; charset=utf-8\nContent-Transfer-Encoding: base64\n\nPGltZyBzcmM9ImNpZDpMb2dvQHgiPg==\n"
     "--alt--\n--rel\nContent-Type: image/png\nContent-ID: <logo@x>\nContent-Transfer-Encoding: base64\n\niVBORw0K\n"
     "--rel\nContent-Type: image/gif\nContent-Transfer-Encoding: base64\n\nR0lGODlh\n--rel--\n"
     "--outer\nContent-Type: application/pdf\nContent-Disposition: attachment;\n"
     " filename*=utf-8''Pr%C3%BCfung.pdf\nContent-Transfer-Encoding: base64\n\nJVBERi0=\n--outer--\n",
     "[] multipart/mixed - - - - <> 0\n"
     "  [1] multipart/related - - - - <> 0\n"
     "    [1.1] multipart/alternative - - - - <> 0\n"
     "      [1.1.1] text/plain x-nobody-knows - - - <> 5\n"
     "      [1.1.2] text/html utf-8 base64 - - <> 22\n"
     "    [1.2] image/png - base64 - - <logo@x> 6\n"
     "    [1.3] image/gif - base64 - - <> 6\n"
     "  [2] application/pdf - base64 attachment Prüfung.pdf <> 5\n",
     "naïve", "<img src=\"cid:Logo@x\">", "inline: 1.2 1.3 attachments: 2"},
    {"attached message: its parts belong to it, numbered below it",
     "Content-Type: multipart/mixed; boundary=b\n\n--b\nContent-Type: text/plain\n\nsee attached\n"
     "--b\nContent-Type: message/rfc822\n\nSubject: inner\nContent-Type: multipart/alternative; boundary=c\n\n"
     "--c\nContent-Type: text/plain\n\ninner text\n--c\nContent-Type: text/html\n\n<p>inner</p>\n--c--\n--b--\n",
     "[] multipart/mixed - - - - <> 0\n"
     "  [1] text/plain - - - - <> 12\n"
     "  [2] message/rfc822 - - - - <> 165\n"
     "    [] multipart/alternative - - - - <> 0\n"
     "      [2.1] text/plain - - - - <> 10\n"
     "      [2.2] text/html - - - - <> 12\n",
     "see attached", "", "inline: attachments: 2"},
};

} // namespace

TEST(MimeMessage, ReadsStructureBodiesAndLists)
{
    for (const Case& c : Cases) {
        SCOPED_TRACE(c.name);
        const Mime::Message message = Mime::parse(crlf(c.raw));
        EXPECT_EQ(outline(message.root), c.tree);
        EXPECT_EQ(message.text, crlf(c.text));
        EXPECT_EQ(message.html, c.html);
        EXPECT_EQ(lists(message), c.lists);
    }
}

TEST(MimeMessage, DecodesHeaderFieldsAndAddresses)
{
    const Mime::Message message
        = Mime::parse(crlf("From: =?utf-8?b?SsO8cmdlbiBNw7xsbGVy?= <jm@example.org>\n"
                           "To: Team: a@example.org, \"B, Person\" <b@example.org>;\n"
                           "Subject: =?utf-8?q?Pr=C3=BCfung?= of a\n folded line\n"
                           "Date: Sun, 6 Dec 2026 22:30:00 +0000\nMessage-ID: <id-1@example.org>\n"
                           "X-Trace: one\nx-trace: =?iso-8859-1?q?zw=F6lf?=\n\nbody\n"));
    ASSERT_EQ(message.from.size(), 1U);
    EXPECT_EQ(message.from[0].name, "Jürgen Müller");
    EXPECT_EQ(message.from[0].address, "jm@example.org");
    ASSERT_EQ(message.to.size(), 2U);
    EXPECT_EQ(message.to[1].name, "B, Person");
    EXPECT_EQ(message.to[1].address, "b@example.org");
    EXPECT_EQ(message.subject, "Prüfung of a folded line");
    EXPECT_EQ(message.date, "Sun, 6 Dec 2026 22:30:00 +0000");
    EXPECT_EQ(message.messageId, "id-1@example.org");
    EXPECT_EQ(Mime::headerValues(message, "X-TRACE"), (std::vector<std::string>{"one", "zwölf"}));
    EXPECT_EQ(message.text, "body\r\n");
}
