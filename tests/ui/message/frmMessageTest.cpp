#include <deque>
#include <set>

#include <QBuffer>
#include <QCheckBox>
#include <QFile>
#include <QImage>
#include <QMimeData>
#include <QLineEdit>
#include <QStackedWidget>
#include <QTableView>
#include <QTcpServer>
#include <QRegularExpression>
#include <QTcpSocket>
#include <QTreeWidget>
#include <QTemporaryDir>
#include <QTest>

#include "TestKit.h"
#include "Desktop.h"
#include "LoopbackClient.h"
#include "MailHtmlView.h"
#include "MainWindowDriver.h"
#include "MessageBodyView.h"
#include "RecordingMessageBoxes.h"
#include "SmtpListener.h"
#include "clsEmailStorage.h"
#include "InboxListModel.h"
#include "frmMessage.h"

namespace {

// Answers the file dialogs from queues and keeps what was handed to the desktop.
class RecordingDesktop : public Desktop {
public:
    RecordingDesktop() { setDesktop(this); }
    ~RecordingDesktop() override { setDesktop(nullptr); }
    QString saveFileName(QWidget*, const QString&, const QString&, const QString&) override
    {
        std::exchange(whileOpen, [] {})();
        return next(saves);
    }
    QStringList openFileNames(QWidget*, const QString&, const QString&) override { return next(opens); }
    void openUrl(const QUrl& url) override { opened.push_back(url); }

    std::deque<QString> saves;
    std::deque<QStringList> opens;
    std::vector<QUrl> opened;
    // What happens while the next save dialog is open: mail arrives, the API deletes.
    std::function<void()> whileOpen = [] {};

private:
    template <class T> static T next(std::deque<T>& answers)
    {
        const T answer = answers.empty() ? T() : std::move(answers.front());
        return answers.empty() ? answer : (answers.pop_front(), answer);
    }
};

std::string base64Lines(const QByteArray& bytes)
{
    std::string text;
    const QByteArray encoded = bytes.toBase64();
    for (qsizetype i = 0; i < encoded.size(); i += 76)
        text += encoded.mid(i, 76).toStdString() + "\r\n";
    return text;
}

QByteArray png(QColor colour)
{
    QImage image(24, 24, QImage::Format_RGB32);
    image.fill(colour);
    QByteArray bytes;
    QBuffer buffer(&bytes);
    image.save(&buffer, "PNG");
    return bytes;
}

QByteArray attachmentBytes()
{
    QByteArray bytes;
    for (int i = 0; i < 5000; ++i)
        bytes += char(i * 7 % 256);
    return bytes;
}

// A newsletter: cid:, data: and remote pictures, a tracking pixel, remote style, a script, a PDF;
// and pictures of this machine's (local, a path), which no mail may show.
std::string htmlMail(const std::string& subject, const std::string& remote, const std::string& local = "/nonexistent")
{
    return "From: =?UTF-8?Q?J=C3=BCrgen?= <juergen@example.com>\r\nTo: ann@example.com\r\nSubject: " + subject
        + "\r\nMIME-Version: 1.0\r\nContent-Type: multipart/mixed; boundary=\"out\"\r\n\r\n--out\r\n"
          "Content-Type: multipart/related; boundary=\"rel\"\r\n\r\n--rel\r\n"
          "Content-Type: text/html; charset=utf-8\r\n\r\n"
          "<html><head><link rel=\"stylesheet\" type=\"text/css\" href=\""
        + remote + "/s.css\"><script>document.write('SCRIPT RAN')</script></head><body>"
        + "<table><tr><td><img src=\"cid:logo@x\"></td><td><img src=\"data:image/png;base64,"
        + png(Qt::green).toBase64().toStdString() + "\"></td><td><img src=\"" + remote
        + "/logo.png\"></td></tr></table>" + "<img src=\"" + remote + "/t.gif?u=ann\" width=1 height=1><img src=\""
        + local + "\"><img src=\"file://" + local + "\"></body></html>\r\n--rel\r\n"
        + "Content-Type: image/png\r\nContent-Transfer-Encoding: base64\r\nContent-ID: <logo@x>\r\n\r\n"
        + base64Lines(png(Qt::magenta)) + "--rel--\r\n--out\r\nContent-Type: application/pdf\r\n"
        + "Content-Transfer-Encoding: base64\r\nContent-Disposition: attachment; "
          "filename*=UTF-8''Rechnung%20M%C3%A4rz.pdf\r\n\r\n"
        + base64Lines(attachmentBytes()) + "--out--\r\n";
}

constexpr const char* WordType = "application/vnd.openxmlformats-officedocument.wordprocessingml.document";

// No Date field, a long type; the attachment's bytes name their message, once decoded.
std::string attachmentMail(const std::string& subject)
{
    return "Subject: " + subject + "\r\nContent-Type: multipart/mixed; boundary=b\r\n\r\n--b\r\n\r\n"
        + std::string(300, 't') + "\r\n--b\r\nContent-Type: " + WordType
        + "\r\nContent-Transfer-Encoding: base64\r\n\r\n"
        + QByteArray::fromStdString("attachment of " + subject).toBase64().toStdString() + "\r\n--b--\r\n";
}

std::string plainMail(const std::string& subject)
{
    return "From: a@example.com\r\nSubject: " + subject + "\r\n\r\n.a line that starts with a dot\r\n\xe4\r\n";
}

int pixelsOf(const QImage& image, QColor colour)
{
    int count = 0;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            count += image.pixelColor(x, y) == colour;
    return count;
}

class MessageWindow : public ::testing::Test {
protected:
    void SetUp() override
    {
        window.show();
        service.setListenAddress({"127.0.0.1", 0});
        click(window, "mnuStartStop");
        ASSERT_TRUE(client.Connect(window.listener().listeningPort()));
        ASSERT_EQ(client.readLine(), "220 Quellpost");
        ASSERT_TRUE(web.listen(QHostAddress::LocalHost));
        // A slow server: the style sheet never comes, the picture does.
        QObject::connect(&web, &QTcpServer::newConnection, [this] {
            while (QTcpSocket* socket = web.nextPendingConnection()) {
                QObject::connect(socket, &QTcpSocket::readyRead, socket, [socket] {
                    const QByteArray path = socket->readAll().split(' ').value(1);
                    const QByteArray body = path == "/logo.png" ? png(Qt::blue) : QByteArray();
                    if (path != "/s.css")
                        socket->write((body.isEmpty() ? "HTTP/1.1 404 Not Found" : "HTTP/1.1 200 OK")
                                      + QByteArray("\r\nContent-Length: ") + QByteArray::number(body.size())
                                      + "\r\nConnection: close\r\n\r\n" + body);
                });
            }
        });
    }

    void deliver(const std::string& data, const std::string& from = "bounce-7@mailer.example.com")
    {
        const QByteArray stuffed = QByteArray::fromStdString(data).replace("\r\n.", "\r\n..");
        client.Send("MAIL FROM:<" + from + ">\r\nRCPT TO:<ann@example.com>\r\nRCPT TO:<bcc@example.com>\r\nDATA\r\n"
                    + stuffed.toStdString() + ".\r\n");
        for (int reply = 0; reply < 5; ++reply)
            EXPECT_EQ(client.readLine().substr(0, 1), reply == 3 ? "3" : "2");
        // During a burst the window shows the newest arrival once per interval (100 ms).
        EXPECT_TRUE(QTest::qWaitFor([&] { return window.CurrentMessage() == window.emailStorage().Count(); }, 1000));
    }

    template <class Widget> Widget* shown(const char* name) // null for a name gone: the test crashes
    {
        return window.messageWindow()->findChild<Widget*>(QString::fromLatin1(name));
    }
    // Subject, header sender, envelope sender and recipients; or what the empty window says.
    std::string summary()
    {
        if (!window.messageWindow()->isVisible())
            return "hidden";
        if (shown<QStackedWidget>("pages")->currentWidget() == shown<QLabel>("lblNoMessage"))
            return shown<QLabel>("lblNoMessage")->text().toStdString();
        std::string summary;
        for (const char* label : {"lblHeaderSubject", "lblHeaderFrom", "lblEnvelopeFrom", "lblEnvelopeTo"})
            summary += (summary.empty() ? "" : " | ") + shown<QLabel>(label)->text().toStdString();
        return summary;
    }
    std::string remote() const { return "http://127.0.0.1:" + std::to_string(web.serverPort()); }
    QString file(const char* name) const { return folder.filePath(QString::fromLatin1(name)); }
    static QByteArray contents(const QString& path)
    {
        QFile file(path);
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("(none)");
    }
    // The subjects of the messages in a file, or the one an attachment's bytes name.
    static std::string written(const QString& path)
    {
        QStringList subjects;
        static const QRegularExpression subject(QStringLiteral("(?:Subject: |attachment of )(\\w+)"));
        for (const QRegularExpressionMatch& match : subject.globalMatch(QString::fromLatin1(contents(path))))
            subjects << match.captured(1);
        return subjects.join(u',').toStdString();
    }

    RecordingMessageBoxes boxes;
    RecordingDesktop desk;
    QTemporaryDir folder;
    CaptureService service;
    frmMain window{service};
    LoopbackClient client;
    QTcpServer web;
};

} // namespace

TEST_F(MessageWindow, FollowsTheMainWindowThroughSteppingAndDeletion)
{
    deliver(plainMail("=?UTF-8?B?R3LDvMOfZQ==?="));
    deliver(plainMail("two"), "b@example.com");
    deliver(htmlMail("three", remote()));
    struct Case {
        std::function<void()> action;
        std::string shown;
    };
    const std::string envelope = " | <ann@example.com>, <bcc@example.com>";
    const Case cases[] = {
        {[&] { QTest::keyClick(control<QWidget>(window, "txtMessageBody"), Qt::Key_Return); },
         "three | Jürgen <juergen@example.com> | <bounce-7@mailer.example.com>" + envelope},
        {[&] { press(window, "cmdMessagePrev"); }, "two | a@example.com | <b@example.com>" + envelope},
        {[&] { window.messageWindow()->close(); }, "hidden"},
        {[&] { press(window, "cmdMessagePrev"); }, "hidden"},
        {[&] { QTest::mouseDClick(control<MessageBodyView>(window, "txtMessageBody")->viewport(), Qt::LeftButton); },
         "Grüße | a@example.com | <bounce-7@mailer.example.com>" + envelope},
        {[&] { press(window, "cmdMessageDelete"); }, "two | a@example.com | <b@example.com>" + envelope},
        {[&] { press(window, "cmdMessageNext"); },
         "three | Jürgen <juergen@example.com> | <bounce-7@mailer.example.com>" + envelope},
        {[&] { press(window, "cmdMessageDelete"); }, "two | a@example.com | <b@example.com>" + envelope},
        {[&] { window.messageWindow()->close(); }, "hidden"},
        {[&] { press(window, "cmdMessageDelete"); }, "hidden"},
        {[&] { click(window, "mnuMessageView"); }, "No message on show."},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.shown);
        c.action();
        EXPECT_EQ(summary(), c.shown);
    }
    EXPECT_TRUE(boxes.boxes().empty());
}

TEST_F(MessageWindow, ShowsOwnPartsAndFetchesNothingUntilAllowedForThatMessage)
{
    const QString local = file("local.png");
    QFile picture(local);
    ASSERT_TRUE(picture.open(QIODevice::WriteOnly) && picture.write(png(Qt::yellow)) > 0);
    picture.close();
    deliver(htmlMail("html", remote(), local.toStdString()));
    const std::size_t parses = Mime::parseCount();
    click(window, "mnuMessageView");
    auto* html = shown<MailHtmlView>("htmlBody");
    QCoreApplication::processEvents();
    const QImage page = html->viewport()->grab().toImage().convertToFormat(QImage::Format_RGB32);
    EXPECT_EQ(Mime::parseCount() - parses, 1u);  // the message and its pictures from one parse
    EXPECT_GT(pixelsOf(page, Qt::magenta), 100); // cid:
    EXPECT_GT(pixelsOf(page, Qt::green), 100);   // data:
    EXPECT_EQ(pixelsOf(page, Qt::yellow), 0);    // a file of this machine's
    EXPECT_FALSE(html->toPlainText().contains(QLatin1String("SCRIPT")));
    const std::set<QUrl> refused{QUrl(QString::fromStdString(remote() + "/s.css")),
                                 QUrl(QString::fromStdString(remote() + "/logo.png")),
                                 QUrl(QString::fromStdString(remote() + "/t.gif?u=ann"))};
    EXPECT_EQ(html->refusedUrls(), refused);
    EXPECT_TRUE(shown<QLabel>("lblRemoteRefused")->isVisible());
    EXPECT_EQ(html->networkRequests(), 0);

    // Links open in the desktop's browser when clicked, and only links that a browser should open.
    for (const char* link : {"https://example.com/reset?t=1", "file:///etc/passwd", "javascript:alert(1)"})
        emit html->anchorClicked(QUrl(QString::fromLatin1(link)));
    EXPECT_EQ(desk.opened, std::vector<QUrl>{QUrl(QStringLiteral("https://example.com/reset?t=1"))});

    // The remote picture is shown whole though the style sheet never comes. The choice holds
    // for this message only: the next one shown is refused again.
    shown<QCheckBox>("chkRemoteContent")->setChecked(true);
    EXPECT_TRUE(waitFor([&] {
        return pixelsOf(html->viewport()->grab().toImage().convertToFormat(QImage::Format_RGB32), Qt::blue) >= 576;
    }));
    EXPECT_EQ(html->networkRequests(), 3);
    deliver(htmlMail("again", remote()));
    EXPECT_FALSE(shown<QCheckBox>("chkRemoteContent")->isChecked());
    EXPECT_EQ(html->refusedUrls(), refused);
    EXPECT_EQ(html->networkRequests(), 3);
}

TEST_F(MessageWindow, AttachmentsAndMailFilesRoundTripThroughTheMenus)
{
    click(window, "mnuMessageSaveAs");
    deliver(plainMail("first"));
    deliver(htmlMail("second", remote()));
    click(window, "mnuMessageView");
    desk.saves = {file("one.eml"), file("all.mbox"), QString()};
    shown<QPushButton>("cmdAttachmentOpen")->click();
    shown<QPushButton>("cmdAttachmentOpen")->click(); // over its own read-only copy
    ASSERT_EQ(desk.opened.size(), 2u);
    EXPECT_EQ(QFileInfo(desk.opened[0].toLocalFile()).fileName(), QStringLiteral("Rechnung März.pdf"));
    EXPECT_EQ(contents(desk.opened[0].toLocalFile()), attachmentBytes());

    clsEmailStorage& store = window.emailStorage();
    click(window, "mnuMessageSaveAs");
    click(window, "mnuMessagesSaveAll");
    click(window, "mnuMessagesSaveAll"); // cancelled: nothing written
    EXPECT_EQ(contents(file("one.eml")).toStdString(), store.EmailBody(2));
    EXPECT_EQ(QDir(folder.path()).entryList(QDir::Files).size(), 2);

    // Files that hold no mail are refused by name: a picture, an empty file, a text.
    const QString notMail[] = {file("picture.eml"), file("empty.eml"), file("letter.mbox")};
    const QByteArray notMailBytes[] = {png(Qt::red), {}, "From the desk of Ann\nDear Bob: all is well.\n"};
    Texts refusals{"No messages available."};
    for (int i = 0; i < 3; ++i) {
        QFile file(notMail[i]);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly) && file.write(notMailBytes[i]) == notMailBytes[i].size());
        refusals.push_back(notMail[i].toStdString() + " holds no mail message.");
    }
    desk.opens = {{file("all.mbox"), notMail[0], notMail[1], notMail[2]}};
    click(window, "mnuMessagesOpen");
    QMimeData dropped;
    dropped.setUrls({QUrl::fromLocalFile(file("one.eml"))});
    QDragEnterEvent enter(QPoint(10, 10), Qt::CopyAction, &dropped, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(&window, &enter);
    QDropEvent drop(QPointF(10, 10), Qt::CopyAction, &dropped, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(&window, &drop);
    ASSERT_EQ(store.Count(), 5);
    for (std::int16_t i = 3; i <= 5; ++i)
        EXPECT_EQ(store.EmailBody(i), store.EmailBody(std::int16_t(i == 3 ? 1 : 2))) << i;
    EXPECT_EQ(store.EmailFrom(5), "<juergen@example.com>");
    EXPECT_EQ(summary().substr(0, 6), "second");
    EXPECT_EQ(boxes.texts(), refusals);
}

// Mail arrives, or the API deletes, while a save dialog is open: the file holds what was chosen
// when it opened, or nothing, and one box says why.
TEST_F(MessageWindow, EachSaveWritesWhatWasChosenBeforeItsDialog)
{
    clsEmailStorage& store = window.emailStorage();
    const std::function<void()> attachment = [&] { shown<QPushButton>("cmdAttachmentSaveAs")->click(); },
                                message = [&] { click(window, "mnuMessageSaveAs"); },
                                all = [&] { click(window, "mnuMessagesSaveAll"); },
                                arrives = [&] { deliver(attachmentMail("late")); },
                                deleted = [&] { store.RemoveEmail(2); }, cleared = [&] { store.Clear(); };
    const std::string gone = "The message is no longer stored. Nothing was written.";
    const struct {
        const std::function<void()>&save, &meanwhile;
        std::string written;
        Texts boxes;
    } cases[] = {{attachment, arrives, "second", {}},
                 {attachment, deleted, "", {gone}},
                 {attachment, cleared, "", {gone}},
                 {message, arrives, "second", {}},
                 {message, deleted, "", {gone}},
                 {message, cleared, "", {gone}},
                 {all, arrives, "first,second", {}},
                 {all, deleted, "first", {}},
                 {all, cleared, "", {"The messages are no longer stored. Nothing was written."}}};
    deliver(attachmentMail("first"));
    click(window, "mnuMessageView");
    // As read: no Date says so, a multipart is as large as what it holds, the type column fits.
    EXPECT_EQ(shown<QLabel>("lblHeaderDate")->text(), "(none)");
    const std::vector<Mime::Part>& parts = window.messageWindow()->message()->root.children;
    auto* tree = shown<QTreeWidget>("treeStructure");
    EXPECT_EQ(tree->topLevelItem(0)->text(3), QLocale().formattedDataSize(qint64(parts.at(0).size + parts.at(1).size)));
    EXPECT_GE(tree->columnWidth(0), tree->fontMetrics().horizontalAdvance(QString::fromLatin1(WordType)));
    for (std::size_t i = 0; i < std::size(cases); ++i) {
        SCOPED_TRACE(i);
        store.Clear();
        deliver(attachmentMail("first"));
        deliver(attachmentMail("second"));
        boxes.Clear();
        const QString path = file("saved") + QString::number(i);
        desk.saves = {path};
        desk.whileOpen = cases[i].meanwhile;
        cases[i].save();
        EXPECT_EQ(written(path), cases[i].written);
        EXPECT_EQ(boxes.texts(), cases[i].boxes);
    }

    // At the limit of 32,767 messages every one is written, and a failing write is reported.
    while (store.Count() < 32767)
        store.StoreEmail("<a@b.c>", "<d@e.f>", "Subject: many\r\n\r\nx\r\n");
    boxes.Clear();
    desk.saves = {QStringLiteral("/dev/full")};
    click(window, "mnuMessagesSaveAll");
    EXPECT_EQ(boxes.texts(), Texts{"Unable to write the file."});
}

// The list beside the message and the main window follow each other, by the store's ids.
TEST_F(MessageWindow, ListAndMainWindowFollowEachOther)
{
    for (const char* subject : {"one", "two", "three"})
        deliver(plainMail(subject));
    click(window, "mnuMessageView");
    auto* list = shown<QTableView>("lstMessages");
    const auto row = [&](const char* subject) {
        const auto found
            = list->model()->match(list->model()->index(0, 1), Qt::DisplayRole, QString::fromLatin1(subject));
        return found.isEmpty() ? QModelIndex() : found.front();
    };
    const auto selected = [&] {
        EXPECT_TRUE(QTest::qWaitFor([&] { return !window.messageWindow()->listModel()->waiting(); }, 5000));
        const QModelIndexList rows = list->selectionModel()->selectedRows(1);
        return rows.size() == 1 ? rows.front().data().toString().toStdString() : "none";
    };
    const auto pick = [&](const char* subject) {
        QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, list->visualRect(row(subject)).center());
    };
    struct Case {
        std::function<void()> step;
        std::string position, selected;
    };
    const Case cases[] = {
        {[] {}, "Message: 3/3", "three"},
        {[&] { pick("one"); }, "Message: 1/3", "one"},                     // the list moves both windows
        {[&] { press(window, "cmdMessageNext"); }, "Message: 2/3", "two"}, // the main window moves the row
        {[&] { window.emailStorage().RemoveEmail(3); }, "Message: 2/2", "two"},
        {[&] { deliver(plainMail("four")); }, "Message: 3/3", "four"}, // an arrival is shown in both
        {[&] { QTest::keyClicks(shown<QLineEdit>("txtListFilter"), "subject:t"); }, "Message: 3/3", "none"},
        {[&] { pick("two"); }, "Message: 2/3", "two"},
        {[&] { shown<QLineEdit>("txtListFilter")->setText(QStringLiteral("larger:x")); }, "Message: 2/3", "two"},
        {[&] { shown<QLineEdit>("txtListFilter")->clear(); }, "Message: 2/3", "two"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.position + " " + c.selected);
        c.step();
        EXPECT_EQ(selected(), c.selected);
        EXPECT_EQ(caption(window, "lblMessage").toStdString(), c.position);
        EXPECT_EQ(summary().substr(0, summary().find(" |")), c.selected == "none" ? "four" : c.selected);
    }
    // A query that cannot be read says so and changes nothing.
    shown<QLineEdit>("txtListFilter")->setText(QStringLiteral("before:someday"));
    EXPECT_TRUE(shown<QLabel>("lblListFilterError")->isVisibleTo(window.messageWindow()));
    EXPECT_EQ(list->model()->rowCount(), 3);

    // A save acts on the row picked before its dialog, though mail arrives while it is open.
    pick("one");
    desk.saves = {file("picked.eml")};
    desk.whileOpen = [&] { deliver(plainMail("five")); };
    click(window, "mnuMessageSaveAs");
    EXPECT_EQ(written(file("picked.eml")), "one");
    EXPECT_EQ(selected(), "five");

    // Hidden, the list leaves the message its room and the window its behaviour.
    const int width = window.messageWindow()->width();
    click(window, "mnuMessageList");
    EXPECT_FALSE(shown<QWidget>("listPane")->isVisibleTo(window.messageWindow()));
    EXPECT_LT(window.messageWindow()->width(), width);
    press(window, "cmdMessagePrev");
    EXPECT_EQ(summary().substr(0, 4), "four");
    EXPECT_TRUE(boxes.boxes().empty());
}
