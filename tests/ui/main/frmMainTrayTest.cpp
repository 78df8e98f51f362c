#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusInterface>
#include <QDBusReply>
#include <QMenu>
#include <QSystemTrayIcon>
#include <QTest>

#include "DesktopNotifier.h"
#include "MailNotifications.h"
#include "WindowTest.h"
#include "frmMessage.h"

namespace {

constexpr int DeadlineMs = 5000;

// Records the notices instead of showing them; a test clicks one by emitting clicked.
class RecordingNotifier final : public DesktopNotifier {
public:
    struct Notice {
        std::string summary;
        std::string body;
        std::uint64_t messageId;
    };
    void notify(const QString& summary, const QString& body, std::uint64_t messageId) override
    {
        notices.push_back({summary.toStdString(), body.toStdString(), messageId});
    }
    std::vector<Notice> notices;
};

class Tray : public WindowTest<> {
protected:
    void SetUp() override
    {
        window.setDesktopNotifier(notifier);
        window.show();
        ASSERT_TRUE(QTest::qWaitForWindowActive(&window));
    }

    // Another program's window comes in front: the main window is no longer active.
    void goBehind()
    {
        other.show();
        other.activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(&other));
    }

    bool settledRead(std::size_t unread)
    {
        return QTest::qWaitFor([&] { return window.unreadCount() == unread; }, DeadlineMs);
    }

    clsEmailStorage& store() { return window.emailStorage(); }

    RecordingNotifier notifier;
    QWidget other;
};

} // namespace

TEST_F(Tray, MessagesCountAsReadOnceShownInAWindowTheUserIsIn)
{
    goBehind();
    for (const char* from : {"a", "b", "c"})
        store().StoreEmail(from, "to", "body");
    // The window jumped to each arrival while the user was elsewhere: nothing was looked at.
    QTest::qWait(300);
    EXPECT_EQ(window.unreadCount(), 3u);
    EXPECT_EQ(window.trayToolTip().toStdString(), "Quellpost \u2014 not listening \u2014 3 unread messages");

    // Coming back reads the one on show; stepping back reads the others.
    window.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&window));
    ASSERT_TRUE(settledRead(2));
    EXPECT_TRUE(store().emailRead(3));
    press(window, "cmdMessagePrev");
    ASSERT_TRUE(settledRead(1));
    EXPECT_FALSE(store().emailRead(1));

    // The message window reads what it shows, and the API's reading counts as well.
    store().StoreEmail("d", "to", "body");
    goBehind();
    QTest::qWait(300);
    EXPECT_EQ(window.unreadCount(), 2u);
    click(window, "mnuMessageView");
    ASSERT_TRUE(QTest::qWaitForWindowActive(window.messageWindow()));
    ASSERT_TRUE(settledRead(1));
    EXPECT_TRUE(store().emailRead(4));
    store().markEmailRead(store().emailId(1));
    EXPECT_EQ(window.unreadCount(), 0u);
    EXPECT_EQ(store().readCount(), 4u);
}

TEST_F(Tray, MenusShareTheControlEntriesAndCloseStaysTheDefault)
{
    auto* view = control<QMenu>(window, "mnuView");
    QStringList names;
    for (QAction* action : view->actions())
        names << action->objectName();
    EXPECT_EQ(names.mid(0, 2), (QStringList{"mnuLog", "mnuMessageView"}));
    EXPECT_TRUE(names.contains("mnuTrayIcon"));
    EXPECT_FALSE(control<QAction>(window, "mnuKeepInTray")->isChecked());
    EXPECT_TRUE(control<QAction>(window, "mnuNotifications")->isChecked());

    auto* trayMenu = control<QMenu>(window, "mnuTray");
    const QList<QAction*> entries = trayMenu->actions();
    ASSERT_EQ(entries.size(), 5);
    EXPECT_EQ(entries[0]->text(), "Show");
    EXPECT_EQ(entries[1], control<QAction>(window, "mnuStartStop"));
    EXPECT_EQ(entries[2]->text(), "Open message window");
    EXPECT_EQ(entries[4], control<QAction>(window, "mnuQuit"));

    entries[1]->trigger();
    EXPECT_TRUE(window.listening());
    EXPECT_EQ(entries[1]->text(), "Stop");
    EXPECT_TRUE(window.trayToolTip().contains(" listening"));
    entries[2]->trigger();
    ASSERT_NE(window.messageWindow(), nullptr);
    EXPECT_TRUE(window.messageWindow()->isVisible());

    if (!QSystemTrayIcon::isSystemTrayAvailable()) {
        // Without a tray, closing ends the program whatever the entry says: nothing would bring it back.
        click(window, "mnuKeepInTray");
        store().StoreEmail("a", "b", "c");
        window.close();
        EXPECT_EQ(store().Count(), 0);
        GTEST_SKIP() << "no system tray on this platform: the icon and closing to it are not shown";
    }
    ASSERT_NE(window.trayIcon(), nullptr);
    EXPECT_EQ(window.trayIcon()->toolTip(), window.trayToolTip());
    click(window, "mnuKeepInTray");
    store().StoreEmail("a", "b", "c");
    window.close();
    EXPECT_FALSE(window.isVisible());
    EXPECT_EQ(store().Count(), 1);
    entries[0]->trigger();
    EXPECT_TRUE(window.isVisible());
}

TEST_F(Tray, ABurstIsOneNoticeAndItsClickShowsTheMessageInBothWindows)
{
    goBehind();
    store().StoreEmail(
        "env@x", "to",
        "From: =?UTF-8?B?SsO2cmc=?= <j@example.org>\r\nSubject: =?UTF-8?Q?Gr=C3=BC=C3=9Fe?=\r\n\r\nhi\r\n");
    ASSERT_TRUE(QTest::qWaitFor([&] { return !notifier.notices.empty(); }, DeadlineMs));
    EXPECT_EQ(notifier.notices[0].summary, "J\u00f6rg <j@example.org>");
    EXPECT_EQ(notifier.notices[0].body, "Gr\u00fc\u00dfe");

    for (int i = 0; i < 500; ++i)
        store().StoreEmail("env@x", "to", "Subject: burst\r\n\r\nx\r\n");
    ASSERT_TRUE(QTest::qWaitFor([&] { return notifier.notices.size() > 1; }, DeadlineMs));
    EXPECT_FALSE(window.notifications().pending());
    ASSERT_EQ(notifier.notices.size(), 2u);
    EXPECT_EQ(notifier.notices[1].summary, "500 new messages");
    EXPECT_EQ(notifier.notices[1].body, "Newest: env@x \u2014 burst");

    // A click on the first notice shows its message, wherever the windows were.
    emit notifier.clicked(notifier.notices[0].messageId);
    EXPECT_EQ(window.CurrentMessage(), 1);
    ASSERT_NE(window.messageWindow(), nullptr);
    EXPECT_EQ(window.messageWindow()->shownId(), notifier.notices[0].messageId);

    // Silent while the main window is active, and when switched off.
    window.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&window));
    store().StoreEmail("a", "b", "c");
    EXPECT_FALSE(window.notifications().pending());
    goBehind();
    click(window, "mnuNotifications");
    store().StoreEmail("a", "b", "c");
    EXPECT_FALSE(window.notifications().pending());
}

namespace {

// What dunst holds: shown, waiting and already in its history.
int daemonNotices()
{
    int total = 0;
    for (const char* property : {"displayedLength", "waitingLength", "historyLength"}) {
        QDBusInterface properties(QStringLiteral("org.freedesktop.Notifications"),
                                  QStringLiteral("/org/freedesktop/Notifications"),
                                  QStringLiteral("org.freedesktop.DBus.Properties"));
        const QDBusReply<QVariant> reply = properties.call(
            QStringLiteral("Get"), QStringLiteral("org.dunstproject.cmd0"), QString::fromLatin1(property));
        total += reply.isValid() ? reply.value().toInt() : 0;
    }
    return total;
}

} // namespace

TEST(RealService, ABurstReachesTheDesktopAsOneNotice)
{
    if (qEnvironmentVariableIsEmpty("QP_NOTIFY_DAEMON"))
        GTEST_SKIP() << "needs a notification daemon on a private session bus (run by notify-dbus.sh)";
    const QDBusConnection bus = QDBusConnection::sessionBus();
    ASSERT_TRUE(bus.isConnected());
    ASSERT_TRUE(QTest::qWaitFor(
        [&] { return bus.interface()->isServiceRegistered(QStringLiteral("org.freedesktop.Notifications")); },
        DeadlineMs));
    clsEmailStorage store;
    DBusNotifier notifier;
    MailNotifications notifications(store, notifier, [] { return false; });
    for (int i = 0; i < 500; ++i)
        store.StoreEmail("a@b.c", "d@e.f", "Subject: burst\r\n\r\nx\r\n");
    ASSERT_TRUE(QTest::qWaitFor([&] { return daemonNotices() >= 1; }, DeadlineMs));
    // Nothing more is waiting to be told, so nothing more can come.
    EXPECT_FALSE(notifications.pending());
    EXPECT_EQ(daemonNotices(), 1);
}
