#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include "TestKit.h"
#include "CaptureServer.h"
#include "MimeMessage.h"

namespace {

const char* const PythonSender = R"(
import pathlib, smtplib, sys
from email.message import EmailMessage
d = pathlib.Path(sys.argv[2])
m = EmailMessage()
m['From'], m['To'], m['Subject'] = 'Jürgen <jg@example.org>', 'bob@example.com', 'Grüße – Bestätigung'
m.set_content('Hallo Jürgen,\nalles gut.\n')
m.add_alternative('<p>Hallo <b>Jürgen</b><img src="cid:logo@qp"></p>', subtype='html')
m.get_payload()[1].add_related((d / 'logo.png').read_bytes(), 'image', 'png', cid='<logo@qp>')
m.add_attachment((d / 'report.pdf').read_bytes(), 'application', 'pdf', filename='Prüfbericht.pdf')
m.add_attachment((d / 'table.csv').read_bytes(), 'text', 'csv', filename='Übersicht 2026.csv')
with smtplib.SMTP('127.0.0.1', int(sys.argv[1]), timeout=20) as s:
    s.send_message(m)
)";

using RealMessages = CaptureServer<>;

} // namespace

// Bytes a careless decoder would change: every byte value, CR LF inside the data, UTF-8.
TEST_F(RealMessages, SentByPythonAndSwaksAreReadPartByPart)
{
    std::string all;
    for (int i = 0; i < 768; ++i)
        all += char(i % 256);
    const std::vector<std::pair<QString, std::string>> files{{"logo.png", "\x89PNG\r\n" + all.substr(0, 256)},
                                                             {"report.pdf", "%PDF\r\n" + all},
                                                             {"table.csv", "a\r\n\xC3\xA4"}};
    QTemporaryDir folder;
    for (const auto& [name, bytes] : files) {
        QFile file(folder.filePath(name));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly) && file.write(bytes.data(), qint64(bytes.size())) > 0);
    }
    const auto send = [](const QString& program, const QStringList& arguments) {
        QProcess process;
        process.setProcessChannelMode(QProcess::MergedChannels);
        process.start(program, arguments);
        EXPECT_TRUE(waitFor([&] { return process.state() == QProcess::NotRunning; }, 60000));
        EXPECT_EQ(process.exitCode(), 0) << process.readAll().toStdString();
    };
    // The listed parts: id, type, file name, and which file the decoded bytes and the size match.
    const auto partsOf = [&](const std::string& raw, const Mime::Message& message) {
        std::string parts;
        std::vector<Mime::Part> listed = message.inlineParts;
        listed.insert(listed.end(), message.attachments.begin(), message.attachments.end());
        for (const Mime::Part& part : listed) {
            parts += part.partId + " " + part.contentType + " " + part.fileName + " =";
            const std::string content = Mime::partContent(raw, part.partId).value_or("");
            for (const auto& [name, bytes] : files)
                parts += content == bytes && part.size == bytes.size() ? name.toStdString() : "";
            parts += "; ";
        }
        return parts;
    };
    send("python3", {"-c", PythonSender, QString::number(port), folder.path()});
    const std::string& raw = store.EmailBody(store.Count());
    const Mime::Message message = Mime::parse(raw);
    std::string text = message.text;
    std::erase(text, '\r');
    EXPECT_EQ(message.subject + "|" + text, "Grüße – Bestätigung|Hallo Jürgen,\nalles gut.\n");
    EXPECT_NE(message.html.find("Hallo <b>Jürgen</b>"), std::string::npos) << message.html;
    EXPECT_EQ(partsOf(raw, message),
              "1.2.2 image/png  =logo.png; 2 application/pdf Prüfbericht.pdf =report.pdf; "
              "3 text/csv Übersicht 2026.csv =table.csv; ");

    send("swaks",
         {"--server", "127.0.0.1", "--port", QString::number(port), "--to", "b@example.org", "--body", "Body",
          "--attach-type", "application/pdf", "--attach", "@" + folder.filePath("report.pdf"), "--attach-type",
          "text/csv", "--attach", "@" + folder.filePath("table.csv")});
    const std::string& swaksRaw = store.EmailBody(store.Count());
    EXPECT_EQ(partsOf(swaksRaw, Mime::parse(swaksRaw)),
              "2 application/pdf report.pdf =report.pdf; 3 text/csv table.csv =table.csv; ");
}
