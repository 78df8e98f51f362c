#include "MailNotifications.h"

#include <algorithm>
#include <chrono>
#include <string_view>

#include <QString>

#include "DesktopNotifier.h"
#include "ErrorReport.h"
#include "ListingFacts.h"

MailNotifications::MailNotifications(clsEmailStorage& store, DesktopNotifier& notifier, std::function<bool()> quiet,
                                     QObject* parent)
    : QObject(parent), m_store(store), m_quiet(std::move(quiet))
{
    m_due.setSingleShot(true);
    // A coarse timer may fire a little early, before the notice is due.
    m_due.setTimerType(Qt::PreciseTimer);
    connect(&m_due, &QTimer::timeout, this, [this] { trapped("MailNotifications::tell", [&] { tell(); }); });
    setNotifier(notifier);
    m_store.addObserver(this);
}

MailNotifications::~MailNotifications()
{
    m_store.removeObserver(this);
}

void MailNotifications::setEnabled(bool on)
{
    m_enabled = on;
    if (!on) {
        m_notices.forget();
        m_due.stop();
    }
}

void MailNotifications::setNotifier(DesktopNotifier& notifier)
{
    if (m_notifier)
        disconnect(m_notifier, nullptr, this, nullptr);
    m_notifier = &notifier;
    connect(m_notifier, &DesktopNotifier::clicked, this, &MailNotifications::messageClicked);
}

void MailNotifications::emailStored(std::int16_t position)
{
    if (!m_enabled || m_quiet())
        return;
    const auto now = NewMailNotices::Clock::now();
    m_dueAt = m_notices.arrived(now, m_store.emailId(position));
    if (!m_due.isActive())
        armTimer(now);
}

void MailNotifications::armTimer(NewMailNotices::Clock::time_point now)
{
    const auto wait = std::chrono::ceil<std::chrono::milliseconds>(m_dueAt - now);
    m_due.start(std::max(wait, std::chrono::milliseconds{0}));
}

void MailNotifications::emailsCleared()
{
    m_notices.forget();
    m_due.stop();
}

void MailNotifications::tell()
{
    const auto now = NewMailNotices::Clock::now();
    const std::optional<NewMailNotice> notice = m_notices.due(now);
    if (!notice && m_notices.pending())
        return armTimer(now);
    // The user came to the window while the notice waited: they see the mail there.
    if (!notice || m_quiet())
        return;
    std::string sender;
    std::string subject;
    if (const std::int16_t position = m_store.positionOfId(notice->newestId); position != 0) {
        // The list's facts: the header alone, bounded, sender and subject decoded and cut.
        ListingFacts facts = listingFacts(m_store.EmailBody(position), m_store.EmailFrom(position));
        sender = std::move(facts.sender);
        subject = std::move(facts.subject);
    }
    const NoticeText text = noticeText(*notice, sender, subject);
    m_notifier->notify(QString::fromStdString(text.summary), QString::fromStdString(text.body), notice->newestId);
}
