#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <deque>
#include <memory>

#include "ByteBudget.h"

// Every captured message, in arrival order, addressed by its 1-based position; at most 32,767.
// Each field has its own first/next search with a cursor and the text of its last successful search.
class clsEmailStorage {
public:
    // Number of stored messages.
    int16_t Count() const { return static_cast<int16_t>(m_messages.size()); }

    // Appends a message; returns its position, the new count. Throws on overflow, storing nothing.
    int16_t StoreEmail(std::string sEmailFrom, std::string sEmailTo, std::string sEmailBody);
    // False when iIndex lies beyond the stored messages; throws below 1.
    bool RemoveEmail(int16_t iIndex);
    // Removes every message; the remembered search texts stay.
    void Clear();

    // The bytes the program may hold for clients: the stored messages take theirs from it, and
    // messages still arriving borrow from it until they are stored.
    ByteBudget& Budget() { return m_budget; }
    const ByteBudget& Budget() const { return m_budget; }

    // The field of message iIndex; empty beyond the stored messages; throws below 1.
    const std::string& EmailFrom(int16_t iIndex) const;
    const std::string& EmailTo(int16_t iIndex) const;
    const std::string& EmailBody(int16_t iIndex) const;
    // The body of message iIndex as the store holds it, for a reader that keeps it; null beyond
    // the stored messages.
    std::shared_ptr<const std::string> EmailBodyShared(int16_t iIndex) const;

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
    };
    using Field = const std::string& (*)(const Message&);

    struct SearchState {
        int16_t cursor = 0;
        std::string text;
    };

    const Message* messageAt(int16_t iIndex) const;
    int16_t scan(Field field, std::string_view text, bool exactMatch, int start) const;
    int16_t findFirst(Field field, SearchState& state, std::string_view text, bool exactMatch);
    int16_t findNext(Field field, SearchState& state, std::string_view text, bool exactMatch);

    std::deque<Message> m_messages;
    ByteBudget m_budget;
    SearchState m_fromSearch;
    SearchState m_toSearch;
    SearchState m_bodySearch;
};
