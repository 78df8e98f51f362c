#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <deque>
#include <functional>
#include <memory>
#include <vector>

#include "ByteBudget.h"

// Told of every change to the store, whoever makes it, so that the views over it stay valid.
class StoreObserver {
public:
    virtual ~StoreObserver() = default;
    // A message was appended at this position (the new count).
    virtual void emailStored(std::int16_t position) = 0;
    // The message that had this position and id is gone; the ones behind it moved down by one.
    virtual void emailRemoved(std::int16_t position, std::uint64_t id) = 0;
    // Every message is gone.
    virtual void emailsCleared() = 0;
    // The message at this position was read for the first time.
    virtual void emailMarkedRead(std::int16_t /*position*/, std::uint64_t /*id*/) { }
};

// Every captured message, in arrival order, addressed by its 1-based position; at most 32,767.
// Each field has its own first/next search with a cursor and the text of its last successful search.
class clsEmailStorage {
public:
    // How a message's recipients are held: the paths in order, joined by ", ".
    static constexpr std::string_view RecipientSeparator = ", ";
    static std::string joinRecipients(const std::vector<std::string>& recipients);

    // Number of stored messages.
    int16_t Count() const { return static_cast<int16_t>(m_messages.size()); }

    // Appends a message; returns its position, the new count. Throws on overflow, storing nothing.
    // sAuthUser is the name a client logged in with, if it did.
    int16_t StoreEmail(std::string sEmailFrom, std::string sEmailTo, std::string sEmailBody,
                       std::string sAuthUser = {});
    // False when iIndex lies beyond the stored messages; throws below 1.
    bool RemoveEmail(int16_t iIndex);
    // Removes every message; the remembered search texts stay.
    void Clear();

    // The bytes the program may hold for clients: the stored messages take theirs from it, and
    // messages still arriving borrow from it until they are stored.
    ByteBudget& budget() { return m_budget; }
    const ByteBudget& budget() const { return m_budget; }

    // The field of message iIndex; empty beyond the stored messages; throws below 1.
    const std::string& EmailFrom(int16_t iIndex) const;
    const std::string& EmailTo(int16_t iIndex) const;
    const std::string& EmailBody(int16_t iIndex) const;
    // The body of message iIndex as the store holds it, for a reader that keeps it; null beyond
    // the stored messages.
    std::shared_ptr<const std::string> emailBodyShared(int16_t iIndex) const;

    // What the store knows of a message beyond its fields. The id never changes and is never
    // reused while the program runs, so a reader can name a message whose position moves.
    std::uint64_t emailId(int16_t iIndex) const;                               // 0 beyond the stored messages
    std::chrono::system_clock::time_point emailReceived(int16_t iIndex) const; // when it was stored
    const std::string& emailAuthUser(int16_t iIndex) const;                    // empty without a login
    // The position of the message with this id, or 0 when it is not (or no longer) stored.
    int16_t positionOfId(std::uint64_t id) const;
    // Whether the message has been read (in a window or through the API); kept with it, by its id.
    bool emailRead(int16_t iIndex) const; // false beyond the stored messages
    // Marks it read; false when no such message is stored or it was read already.
    bool markEmailRead(std::uint64_t id);
    std::size_t readCount() const { return m_readCount; }

    // Observers are not owned and must remove themselves before they go.
    void addObserver(StoreObserver* observer);
    void removeObserver(StoreObserver* observer);

    // Searches from position 1; returns the hit or 0.
    int16_t FindFirstEmailFrom(std::string_view sFromString, bool bExactMatch = false);
    // Searches behind the last hit, for the given text or else the remembered one; returns the hit or 0.
    int16_t FindNextEmailFrom(std::string_view sFromString = {}, bool bExactMatch = false);
    int16_t FindFirstEmailTo(std::string_view sToString, bool bExactMatch = false);
    int16_t FindNextEmailTo(std::string_view sToString = {}, bool bExactMatch = false);
    // Body searches always ignore letter case.
    int16_t FindFirstEmailBodyWith(std::string_view sBodyString);
    int16_t FindNextEmailBodyWith(std::string_view sBodyString = {});

private:
    // One record per message keeps the fields in step and makes a store all-or-nothing; a deque
    // grows in small blocks, where a vector would keep up to as much again in spare room.
    // The body is shared, never copied: the viewer shows the store's own text.
    struct Message {
        std::string from;
        std::string to;
        std::shared_ptr<const std::string> body;
        std::string authUser;
        std::uint64_t id = 0;
        std::chrono::system_clock::time_point received;
        bool read = false;
    };
    using Field = const std::string& (*)(const Message&);

    struct SearchState {
        int16_t cursor = 0;
        std::string text;
    };

    const Message* messageAt(int16_t iIndex) const;
    void notify(const std::function<void(StoreObserver&)>& event);
    int16_t scan(Field field, std::string_view text, bool exactMatch, int start) const;
    int16_t findFirst(Field field, SearchState& state, std::string_view text, bool exactMatch);
    int16_t findNext(Field field, SearchState& state, std::string_view text, bool exactMatch);

    std::deque<Message> m_messages;
    ByteBudget m_budget;
    SearchState m_fromSearch;
    SearchState m_toSearch;
    SearchState m_bodySearch;
    std::uint64_t m_lastId = 0;
    std::size_t m_readCount = 0;
    std::vector<StoreObserver*> m_observers;
};
