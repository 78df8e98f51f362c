#include "DesktopNotifier.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QStringList>
#include <QVariantMap>

namespace {

constexpr const char* Service = "org.freedesktop.Notifications";
constexpr const char* Path = "/org/freedesktop/Notifications";
constexpr const char* Interface = "org.freedesktop.Notifications";
constexpr const char* AppName = "Quellpost";
constexpr const char* DesktopEntry = "org.quellpost.Quellpost";
// The action a click on the notice's body invokes.
constexpr const char* DefaultAction = "default";
constexpr const char* ShowActionCaption = "Show";
// Let the service decide how long a notice stays.
constexpr int ServerTimeout = -1;

} // namespace

DBusNotifier::DBusNotifier(QObject* parent) : DesktopNotifier(parent)
{
    QDBusConnection::sessionBus().connect(QString::fromLatin1(Service), QString::fromLatin1(Path),
                                          QString::fromLatin1(Interface), QStringLiteral("ActionInvoked"), this,
                                          SLOT(actionInvoked(uint, QString)));
}

DBusNotifier::~DBusNotifier() = default;

void DBusNotifier::notify(const QString& summary, const QString& body, std::uint64_t messageId)
{
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected())
        return;
    QDBusMessage call = QDBusMessage::createMethodCall(QString::fromLatin1(Service), QString::fromLatin1(Path),
                                                       QString::fromLatin1(Interface), QStringLiteral("Notify"));
    const QVariantMap hints{{QStringLiteral("desktop-entry"), QString::fromLatin1(DesktopEntry)}};
    // The service reads the body as simple markup: a sender's "<" must not start a tag.
    call << QString::fromLatin1(AppName) << m_shownId << QString::fromLatin1(DesktopEntry) << summary
         << body.toHtmlEscaped()
         << QStringList{QString::fromLatin1(DefaultAction), QString::fromLatin1(ShowActionCaption)} << hints
         << ServerTimeout;
    auto* watcher = new QDBusPendingCallWatcher(bus.asyncCall(call), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this,
            [this, messageId](QDBusPendingCallWatcher* finished) { notified(finished, messageId); });
}

void DBusNotifier::notified(QDBusPendingCallWatcher* watcher, std::uint64_t messageId)
{
    const QDBusPendingReply<uint> reply = *watcher;
    watcher->deleteLater();
    if (reply.isError())
        return;
    m_shownId = reply.value();
    m_shownMessage = messageId;
}

void DBusNotifier::actionInvoked(uint notificationId, const QString& action)
{
    if (notificationId == m_shownId && m_shownId != 0 && action == QString::fromLatin1(DefaultAction))
        emit clicked(m_shownMessage);
}
