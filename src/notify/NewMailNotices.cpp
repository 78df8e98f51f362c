#include "NewMailNotices.h"

#include <algorithm>

namespace {

constexpr std::string_view UnknownSender = "(unknown sender)";
constexpr std::string_view NoSubject = "(no subject)";
constexpr std::string_view NewMessagesSuffix = " new messages";
constexpr std::string_view NewestPrefix = "Newest: ";
constexpr std::string_view SenderSubjectSeparator = " \u2014 ";
constexpr std::string_view ToolTipSeparator = " \u2014 ";
constexpr std::string_view ListeningText = "listening";
constexpr std::string_view IdleText = "not listening";
constexpr std::string_view UnreadOne = "1 unread message";
constexpr std::string_view UnreadSuffix = " unread messages";
constexpr std::string_view NoUnreadText = "no unread messages";

std::string orElse(std::string_view text, std::string_view fallback)
{
    return std::string(text.empty() ? fallback : text);
}

} // namespace

NewMailNotices::Clock::time_point NewMailNotices::arrived(Clock::time_point now, std::uint64_t id)
{
    if (m_pending == 0) {
        m_dueAt = now + GatherDelay;
        if (m_lastTold)
            m_dueAt = std::max(m_dueAt, *m_lastTold + MinInterval);
    }
    ++m_pending;
    m_newestId = id;
    return m_dueAt;
}

std::optional<NewMailNotice> NewMailNotices::due(Clock::time_point now)
{
    if (m_pending == 0 || now < m_dueAt)
        return std::nullopt;
    const NewMailNotice notice{m_pending, m_newestId};
    m_pending = 0;
    m_lastTold = now;
    return notice;
}

void NewMailNotices::forget()
{
    m_pending = 0;
}

NoticeText noticeText(const NewMailNotice& notice, std::string_view sender, std::string_view subject)
{
    if (notice.count <= 1)
        return {orElse(sender, UnknownSender), orElse(subject, NoSubject)};
    return {std::to_string(notice.count) + std::string(NewMessagesSuffix),
            std::string(NewestPrefix) + orElse(sender, UnknownSender) + std::string(SenderSubjectSeparator)
                + orElse(subject, NoSubject)};
}

std::string trayToolTip(std::string_view product, bool listening, std::size_t unread)
{
    std::string unreadText = unread == 0 ? std::string(NoUnreadText)
        : unread == 1                    ? std::string(UnreadOne)
                                         : std::to_string(unread) + std::string(UnreadSuffix);
    return std::string(product) + std::string(ToolTipSeparator) + std::string(listening ? ListeningText : IdleText)
        + std::string(ToolTipSeparator) + unreadText;
}
