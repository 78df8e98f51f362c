#pragma once

#include <cstdint>
#include <functional>

#include <QObject>
#include <QTimer>

#include "NewMailNotices.h"
#include "clsEmailStorage.h"

class DesktopNotifier;

// Tells the desktop of new mail: at most one notice a second, with the sender and subject decoded
// for a single message and the count for a burst. Silent while the user looks at the window
// (quiet) or when switched off.
class MailNotifications final : public QObject, private StoreObserver {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(MailNotifications)
public:
    // The store and the notifier must outlive it; quiet says whether the user sees mail arrive.
    MailNotifications(clsEmailStorage& store, DesktopNotifier& notifier, std::function<bool()> quiet,
                      QObject* parent = nullptr);
    ~MailNotifications() override;

    void setEnabled(bool on);
    bool enabled() const { return m_enabled; }
    // Another notifier from now on (tests record the notices).
    void setNotifier(DesktopNotifier& notifier);
    // Arrivals wait to be told.
    bool pending() const { return m_notices.pending(); }

signals:
    // The user clicked the notice that stands for this message.
    void messageClicked(quint64 id);

private:
    void emailStored(std::int16_t position) override;
    void emailRemoved(std::int16_t, std::uint64_t) override { }
    void emailsCleared() override;
    void tell();
    void armTimer(NewMailNotices::Clock::time_point now);

    clsEmailStorage& m_store;
    DesktopNotifier* m_notifier = nullptr;
    std::function<bool()> m_quiet;
    NewMailNotices m_notices;
    QTimer m_due;
    NewMailNotices::Clock::time_point m_dueAt{};
    bool m_enabled = true;
};
