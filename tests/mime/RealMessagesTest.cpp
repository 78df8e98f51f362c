#include <string>
#include <vector>

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include "LoopbackClient.h"
#include "MimeMessage.h"
#include "RecordingHost.h"
#include "RecordingMessageBoxes.h"
#include "SmtpListener.h"
#include "clsEmailStorage.h"

namespace {

// The files the senders attach, each with bytes a careless decoder would change: every byte value,
// CR LF inside the data, non-ASCII text.
std::string allBytes(int copies)
{
    std::string bytes;
    for (int i = 0; i < copies * 256; ++i)
        bytes += static_cast<char>(i % 256);
    return bytes;
}
const std::string Logo = "\x89PNG\r\n\x1a\n" + allBytes(1);
const std::string Report = "%PDF-1.4\r\n" + allBytes(3);
const std::string Table = "a;b\r\n\xC3\xA4;\xC3\xB6\r\n";

struct ExpectedPart {
    std::string partId;
    std::string contentType;
    std::string fileName;
    const std::string* bytes;
};

struct Sender {
    const char* name;
    QString program;
    QStringList arguments; // %port and %dir are replaced
    std::string subject;
    std::string text;     // the decoded text, line ends aside
    std::string htmlPart; // found in the decoded HTML
    std::vector<ExpectedPart> inlineParts, attachments;
};

const char* const PythonSender = R"(
import pathlib, smtplib, sys
from email.message import EmailMessage
port, folder = int(sys.argv[1]), pathlib.Path(sys.argv[2])
m = EmailMessage()
m['From'] = 'Jürgen Groß <jg@example.org>'
m['To'] = 'bob@example.com'
m['Subject'] = 'Grüße – Bestätigung'
m.set_content('Hallo Jürgen,\nalles gut.\n')
m.add_alternative('<p>Hallo <b>Jürgen</b><img src="cid:logo@qp"></p>', subtype='html')
m.get_payload()[1].add_related((folder / 'logo.png').read_bytes(), 'image', 'png', cid='<logo@qp>')
m.add_attachment((folder / 'report.pdf').read_bytes(), 'application', 'pdf', filename='Prüfbericht.pdf')
m.add_attachment((folder / 'table.csv').read_bytes(), 'text', 'csv', filename='Übersicht 2026.csv')
with smtplib.SMTP('127.0.0.1', port, timeout=20) as s:
    s.send_message(m)
)";

const Sender Senders[] = {
    {"Python email and smtplib",
     "python3",
     {"-c", PythonSender, "%port", "%dir"},
     "Grüße – Bestätigung",
     "Hallo Jürgen,\nalles gut.\n",
     "Hallo <b>Jürgen</b>",
     {{"1.2.2", "image/png", "", &Logo}},
     {{"2", "application/pdf", "Prüfbericht.pdf", &Report}, {"3", "text/csv", "Übersicht 2026.csv", &Table}}},
    {"swaks --attach",
     "swaks",
     {"--server",      "127.0.0.1",
      "--port",        "%port",
      "--from",        "a@example.org",
      "--to",          "b@example.org",
      "--header",      "Subject: from swaks",
      "--body",        "Body from swaks",
      "--attach-type", "application/pdf",
      "--attach",      "@%dir/report.pdf",
      "--attach-type", "text/csv",
      "--attach",      "@%dir/table.csv"},
     "from swaks",
     "Body from swaks",
     "",
     {},
     {{"2", "application/pdf", "report.pdf", &Report}, {"3", "text/csv", "table.csv", &Table}}},
};

std::string withoutCr(std::string text)
{
    std::erase(text, '\r');
    return text;
}

void checkParts(const std::string& raw, const std::vector<Mime::Part>& parts, const std::vector<ExpectedPart>& expected)
{
    ASSERT_EQ(parts.size(), expected.size());
    for (std::size_t i = 0; i < parts.size(); ++i) {
        SCOPED_TRACE(expected[i].partId);
        EXPECT_EQ(parts[i].partId, expected[i].partId);
        EXPECT_EQ(parts[i].contentType, expected[i].contentType);
        EXPECT_EQ(parts[i].fileName, expected[i].fileName);
        EXPECT_EQ(parts[i].size, expected[i].bytes->size());
        EXPECT_EQ(Mime::partContent(raw, parts[i].partId), *expected[i].bytes);
    }
}

} // namespace

TEST(RealMessages, SentByRealClientsAreReadPartByPart)
{
    QTemporaryDir folder;
    ASSERT_TRUE(folder.isValid());
    for (const auto& [name, bytes] : {std::pair{"logo.png", &Logo}, {"report.pdf", &Report}, {"table.csv", &Table}}) {
        QFile file(folder.filePath(QString::fromLatin1(name)));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(bytes->data(), qint64(bytes->size()));
    }
    RecordingMessageBoxes boxes;
    clsEmailStorage store;
    RecordingHost host;
    SmtpListener listener{store, host};
    listener.SetListenAddress(QHostAddress::LocalHost, 0);
    listener.StartListening();

    for (const Sender& sender : Senders) {
        SCOPED_TRACE(sender.name);
        const QString program = QStandardPaths::findExecutable(sender.program);
        if (program.isEmpty())
            GTEST_SKIP() << sender.program.toStdString() << " is not installed";
        QStringList arguments = sender.arguments;
        arguments.replaceInStrings(QStringLiteral("%port"), QString::number(listener.ListeningPort()));
        arguments.replaceInStrings(QStringLiteral("%dir"), folder.path());
        QProcess process;
        process.setProcessChannelMode(QProcess::MergedChannels);
        process.start(program, arguments);
        const int before = store.Count();
        ASSERT_TRUE(WaitFor([&] { return process.state() == QProcess::NotRunning; }, 60000));
        ASSERT_EQ(process.exitCode(), 0) << process.readAll().toStdString();
        ASSERT_EQ(store.Count(), before + 1);

        const std::string& raw = store.EmailBody(store.Count());
        const Mime::Message message = Mime::parse(raw);
        EXPECT_EQ(message.subject, sender.subject);
        EXPECT_EQ(withoutCr(message.text), sender.text);
        EXPECT_NE(message.html.find(sender.htmlPart), std::string::npos) << message.html;
        checkParts(raw, message.inlineParts, sender.inlineParts);
        checkParts(raw, message.attachments, sender.attachments);
    }
}
