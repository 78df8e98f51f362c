#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include <gtest/gtest.h>

#include "MailFiles.h"

namespace {

namespace fs = std::filesystem;

struct TempFolder {
    TempFolder()
    {
        std::string pattern = (fs::temp_directory_path() / "qp-mailfiles-XXXXXX").string();
        path = mkdtemp(pattern.data()) ? fs::path(pattern) : fs::path();
    }
    ~TempFolder()
    {
        std::error_code ignored;
        fs::remove_all(path, ignored);
    }
    fs::path path;
};

// A program's standard output, run to its end; the command bounds its own run time.
std::string outputOf(const std::string& command)
{
    std::string output;
    if (FILE* pipe = popen(command.c_str(), "r")) {
        char buffer[4096];
        for (std::size_t n; (n = fread(buffer, 1, sizeof buffer, pipe)) > 0;)
            output.append(buffer, n);
        pclose(pipe);
    }
    return output;
}

std::string fileBytes(const fs::path& path)
{
    std::ifstream file(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
}

} // namespace

TEST(MailFiles, EmlRoundTripsByteForByteWithEnvelopeFromTheHeader)
{
    struct Case {
        const char* name;
        std::string data;
        std::string sender, recipients;
    };
    const Case cases[] = {
        {"display names, all three recipient fields",
         "From: =?utf-8?q?J=C3=BCrgen?= <jg@example.org>\r\nTo: \"B, b\" <b@example.org>\r\nCc: c@example.org\r\n"
         "Bcc: d@example.org\r\nSubject: x\r\n\r\nFrom the start\r\n.a dot\r\n\r\n",
         "<jg@example.org>", "<b@example.org>, <c@example.org>, <d@example.org>"},
        {"a group, no sender, no last line end", "To: team: a@example.org, b@example.org;\r\n\r\nno end", "",
         "<a@example.org>, <b@example.org>"},
    };
    TempFolder folder;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const fs::path path = folder.path / "message.eml";
        ASSERT_TRUE(MailFiles::writeEml(path, c.data));
        EXPECT_EQ(fileBytes(path), c.data);
        const auto messages = MailFiles::readMailFile(path);
        ASSERT_TRUE(messages && messages->size() == 1);
        EXPECT_EQ(messages->front().data, c.data);
        EXPECT_EQ(messages->front().sender, c.sender);
        EXPECT_EQ(messages->front().recipients, c.recipients);
    }
    // A file written elsewhere with LF line ends is read with CR LF, as the server would have stored it.
    EXPECT_EQ(MailFiles::readMailBytes("To: a@example.org\n\nbody\n").front().data,
              "To: a@example.org\r\n\r\nbody\r\n");
    EXPECT_FALSE(MailFiles::writeEml(folder.path / "missing" / "x.eml", "x"));
    EXPECT_FALSE(MailFiles::readMailFile(folder.path / "missing.eml"));
}

TEST(MailFiles, MboxOfAThousandMessagesReadsBackAndOpensInRealReaders)
{
    constexpr int Count = 1000;
    // Lines that read as separators, quoted ones, and up to two empty lines at the end.
    const auto body = [](int i) {
        std::string data = "From: s" + std::to_string(i) + "@example.org\r\nTo: r@example.org\r\nSubject: Message "
            + std::to_string(i) + "\r\n\r\nFrom the start\r\n>From quoted\r\n\r\nFrom after an empty line\r\n";
        for (int k = 0; k < i % 3; ++k)
            data += "\r\n";
        return data;
    };
    const auto received = std::chrono::system_clock::from_time_t(1796596200); // 2026-12-06 22:30:00 UTC
    EXPECT_EQ(MailFiles::mboxEntry("<a@b.c>", received, "x\r\n"), "From a@b.c Sun Dec  6 22:30:00 2026\nx\n\n");
    EXPECT_EQ(MailFiles::mboxEntry("", received, "x").substr(0, 19), "From MAILER-DAEMON ");

    TempFolder folder;
    const fs::path path = folder.path / "all.mbox";
    MailFiles::MboxWriter writer(path);
    for (int i = 0; i < Count; ++i)
        writer.append("<s@example.org>", received, body(i));
    ASSERT_TRUE(writer.finish());

    const auto messages = MailFiles::readMailFile(path);
    ASSERT_TRUE(messages);
    ASSERT_EQ(messages->size(), std::size_t(Count));
    for (int i = 0; i < Count; ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ((*messages)[std::size_t(i)].data, body(i));
        EXPECT_EQ((*messages)[std::size_t(i)].sender, "<s" + std::to_string(i) + "@example.org>");
        EXPECT_EQ((*messages)[std::size_t(i)].recipients, "<r@example.org>");
    }

    // Python's mailbox module, and mutt (which wants a terminal: script gives it one).
    EXPECT_EQ(outputOf("timeout 60 python3 -c \"import mailbox, sys; m = mailbox.mbox(sys.argv[1]); print(len(m), "
                       "all(x['Subject'] == 'Message %d' % i for i, x in enumerate(m)))\" "
                       + path.string()),
              "1000 True\n");
    if (outputOf("command -v mutt script").empty())
        GTEST_SKIP() << "mutt is not installed";
    const std::string mutt = outputOf("TERM=xterm timeout 60 script -qec \"mutt -n -F /dev/null -R -e 'set folder="
                                      + folder.path.string() + "' -e 'set status_format=COUNT=%m' -e 'push <quit>' -f "
                                      + path.string() + "\" /dev/null </dev/null");
    EXPECT_NE(mutt.find("COUNT=1000"), std::string::npos) << mutt.substr(0, 400);
}
