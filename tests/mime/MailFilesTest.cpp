#include <cstdlib>
#include <filesystem>

#include "TestKit.h"
#include "MailFiles.h"

namespace fs = std::filesystem;

namespace {

// Lines that read as mbox separators, a quoted one, a dot, up to two empty lines at the end.
std::string data(int i)
{
    std::string text = "From: =?utf-8?q?J=C3=BCrgen?= <s" + std::to_string(i) + "@example.org>\r\nTo: team: \"B, b\" "
        + "<b@example.org>, c@example.org;\r\nBcc: d@example.org\r\nSubject: Message " + std::to_string(i)
        + "\r\n\r\nFrom the start\r\n>From quoted\r\n.dot\r\n\r\nFrom after an empty line\r\n";
    for (int k = 0; k < i % 3; ++k)
        text += "\r\n";
    return text;
}

} // namespace

TEST(MailFiles, EmlAndMboxRoundTripAndOpenInRealReaders)
{
    std::string pattern = (fs::temp_directory_path() / "qp-mail-XXXXXX").string();
    ASSERT_TRUE(mkdtemp(pattern.data()));
    const fs::path folder = pattern, eml = folder / "one.eml", mbox = folder / "all.mbox";
    constexpr int Count = 1000;
    const auto received = std::chrono::system_clock::from_time_t(1796596200); // 2026-12-06 22:30:00 UTC
    EXPECT_EQ(MailFiles::mboxEntry("<a@b.c>", received, "x\r\n"), "From a@b.c Sun Dec  6 22:30:00 2026\nx\n\n");

    ASSERT_TRUE(MailFiles::writeEml(eml, data(1)));
    MailFiles::MboxWriter writer(mbox);
    for (int i = 0; i < Count; ++i)
        writer.append(i % 2 ? "<s@example.org>" : "", received, data(i));
    ASSERT_TRUE(writer.finish());
    EXPECT_FALSE(MailFiles::writeEml(folder / "missing" / "x.eml", "x"));
    EXPECT_FALSE(MailFiles::readMailFile(folder / "missing.eml"));
    // LF line ends, as another program may have written the file, are read as CR LF.
    EXPECT_EQ(MailFiles::readMailBytes("To: a@b.c\n\nbody").front().data, "To: a@b.c\r\n\r\nbody");

    const auto one = MailFiles::readMailFile(eml);
    auto all = MailFiles::readMailFile(mbox);
    ASSERT_TRUE(one && one->size() == 1 && all && all->size() == std::size_t(Count));
    all->push_back(one->front());
    for (int i = 0; i <= Count; ++i) {
        SCOPED_TRACE(i);
        const MailFiles::FileMessage& message = (*all)[std::size_t(i)];
        const int n = i == Count ? 1 : i;
        EXPECT_EQ(message.data, data(n));
        EXPECT_EQ(message.sender, "<s" + std::to_string(n) + "@example.org>");
        EXPECT_EQ(message.recipients, "<b@example.org>, <c@example.org>, <d@example.org>");
    }

    // A real reader: Python's mailbox module finds every message, in order.
    const std::string reader = "timeout 60 python3 -c \"import mailbox, sys; m = mailbox.mbox(sys.argv[1]); sys.exit("
                               "len(m) != 1000 or any(x['Subject'] != 'Message %d' % i for i, x in enumerate(m)))\" ";
    EXPECT_EQ(std::system((reader + mbox.string()).c_str()), 0);
    fs::remove_all(folder);
}
