#pragma once

#include <cstdint>

#include <QObject>
#include <QString>

class QDBusPendingCallWatcher;

// Shows notices on the desktop; tests replace it with a double that records them.
class DesktopNotifier : public QObject {
    Q_OBJECT
public:
    using QObject::QObject;
    // Shows a notice that stands for the message with this store id, in place of the last one shown.
    virtual void notify(const QString& summary, const QString& body, std::uint64_t messageId) = 0;

signals:
    // The user clicked the notice that stands for this message.
    void clicked(quint64 messageId);
};

// The freedesktop notification service (org.freedesktop.Notifications) on the session bus. Calls
// are asynchronous: a slow or missing service never holds the event loop. Without a session bus,
// notices are dropped.
class DBusNotifier final : public DesktopNotifier {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(DBusNotifier)
public:
    explicit DBusNotifier(QObject* parent = nullptr);
    ~DBusNotifier() override;

    void notify(const QString& summary, const QString& body, std::uint64_t messageId) override;

private slots:
    // Connected by name: the service's signal is not a Qt one.
    void actionInvoked(uint notificationId, const QString& action);

    // For moc, "private slots" above is a section of its own, which the compiler does not see.
private: // NOLINT(readability-redundant-access-specifiers)
    void notified(QDBusPendingCallWatcher* watcher, std::uint64_t messageId);

    // The service's id of the notice on show, and the message it stands for.
    uint m_shownId = 0;
    std::uint64_t m_shownMessage = 0;
};
