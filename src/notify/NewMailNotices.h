#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

// One desktop notice: how many messages it tells of, and the newest of them (by the store's id).
struct NewMailNotice {
    std::size_t count = 0;
    std::uint64_t newestId = 0;
};

// What a notice says: a title line and a body.
struct NoticeText {
    std::string summary;
    std::string body;
};

// Gathers arrivals into desktop notices: at most one a second, so that a burst of mail is told
// as one notice with its count instead of flooding the desktop.
class NewMailNotices {
public:
    using Clock = std::chrono::steady_clock;
    // A first arrival waits this long for others of its burst.
    static constexpr std::chrono::milliseconds GatherDelay{500};
    // Two notices are at least this far apart.
    static constexpr std::chrono::milliseconds MinInterval{1000};

    // Notes an arrival; returns when the notice that tells of it is due.
    Clock::time_point arrived(Clock::time_point now, std::uint64_t id);
    // The notice due at this time, telling of every arrival not told yet; nothing before it is due.
    std::optional<NewMailNotice> due(Clock::time_point now);
    // Drops the arrivals not told yet (the user saw them, or they are gone).
    void forget();
    bool pending() const { return m_pending > 0; }

private:
    std::size_t m_pending = 0;
    std::uint64_t m_newestId = 0;
    Clock::time_point m_dueAt{};
    std::optional<Clock::time_point> m_lastTold;
};

// The notice's words: one message shows its sender and subject; several, their count and the newest.
NoticeText noticeText(const NewMailNotice& notice, std::string_view sender, std::string_view subject);

// The tray's tooltip: the program, whether it listens, and how many messages nobody looked at yet.
std::string trayToolTip(std::string_view product, bool listening, std::size_t unread);
