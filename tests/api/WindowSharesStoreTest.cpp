#include <string>
#include <vector>

#include <QLineEdit>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QTest>

#include <gtest/gtest.h>

#include "ApiServer.h"
#include "MainWindowDriver.h"
#include "RecordingMessageBoxes.h"
#include "clsEmailStorage.h"

namespace {

// One DELETE through the API, as a client would send it; the answer's status.
int deleteThroughApi(int port, const QByteArray& body)
{
    QNetworkAccessManager network;
    QNetworkRequest request(QUrl(QStringLiteral("http://127.0.0.1:%1/api/v1/messages").arg(port)));
    request.setHeader(QNetworkRequest::ContentTypeHeader, QStringLiteral("application/json"));
    QNetworkReply* reply = network.sendCustomRequest(request, "DELETE", body);
    const bool finished = QTest::qWaitFor([reply] { return reply->isFinished(); }, 10000);
    const int status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    delete reply;
    return finished ? status : -1;
}

struct Case {
    const char* name;
    const char* shown;    // the sender of the message on show before, found by the window's search
    QByteArray body;      // what the API deletes
    std::int16_t current; // the window's position afterwards
    const char* caption;
    const char* from; // the sender on show
};

// Another client deletes: the message on show stays, or the next takes its place; never past the store.
TEST(WindowSharesStore, DeletionsThroughTheApiKeepTheWindowsPositionValid)
{
    const Case cases[] = {
        {"one before the shown", "c@x", R"({"IDs":["1"]})", 2, "Message: 2/3", "c@x"},
        {"the shown one", "c@x", R"({"IDs":["3"]})", 3, "Message: 3/3", "d@x"},
        {"one behind the shown", "b@x", R"({"IDs":["4"]})", 2, "Message: 2/3", "b@x"},
        {"the shown last one", "d@x", R"({"IDs":["4"]})", 3, "Message: 3/3", "c@x"},
        {"every message", "c@x", QByteArray(), 0, "Message (n/a)", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        RecordingMessageBoxes boxes;
        CaptureService service;
        frmMain window(service);
        ASSERT_TRUE(window.loaded());
        ApiServer api(window.emailStorage());
        api.listen(QHostAddress::LocalHost, 0);
        for (const char* sender : {"a@x", "b@x", "c@x", "d@x"})
            window.emailStorage().StoreEmail(sender, "r@x", "Subject: s\r\n\r\nbody\r\n");
        control<QLineEdit>(window, "txtMessagesSearchFor")->setText(QString::fromLatin1(c.shown));
        press(window, "cmdMessagesFind");
        ASSERT_EQ(control<QLineEdit>(window, "txtMessageFrom")->text().toStdString(), c.shown);

        ASSERT_EQ(deleteThroughApi(api.port(), c.body), 200);
        EXPECT_EQ(window.CurrentMessage(), c.current);
        EXPECT_EQ(caption(window, "lblMessage").toStdString(), c.caption);
        EXPECT_EQ(control<QLineEdit>(window, "txtMessageFrom")->text().toStdString(), c.from);
        EXPECT_TRUE(boxes.boxes().empty());
    }
}

} // namespace
