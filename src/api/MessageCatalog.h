#pragma once

#include <cstdint>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "MessageSearch.h"
#include "MimeMessage.h"

class clsEmailStorage;

// What a list or a search needs of one message, read once from its source and kept until the
// message goes: a page of the list then costs no parsing.
struct MessageFacts {
    std::string subject;
    std::string messageId;
    std::string date; // the Date field as written
    std::string snippet;
    std::vector<Mime::Address> from, to, cc, bcc, replyTo;
    int attachments = 0;
    // Whether some text part is transfer-encoded, so that a body search must decode it.
    bool encodedText = false;
};

// The store as the API sees it: messages by id, newest first, with their facts and read marks.
// The owner tells it of removals (forget, clear) so that nothing is kept for a message gone.
class MessageCatalog {
public:
    explicit MessageCatalog(const clsEmailStorage& store) : m_store(store) { }

    // "latest" or a decimal id; 0 when no such message is stored.
    std::int16_t positionOf(const std::string& id) const;
    static std::string idText(std::uint64_t id) { return std::to_string(id); }

    const MessageFacts& facts(std::int16_t position);
    bool matches(std::int16_t position, const std::vector<SearchTerm>& terms);
    // Positions of the matching messages, newest first.
    std::vector<std::int16_t> search(const std::vector<SearchTerm>& terms);

    bool isRead(std::uint64_t id) const { return m_read.contains(id); }
    void markRead(std::uint64_t id) { m_read.insert(id); }
    std::size_t readCount() const { return m_read.size(); }

    void forget(std::uint64_t id);
    void clear();

private:
    bool termMatches(std::int16_t position, const MessageFacts& facts, const SearchTerm& term);

    const clsEmailStorage& m_store;
    std::unordered_map<std::uint64_t, MessageFacts> m_facts;
    std::unordered_set<std::uint64_t> m_read;
};

// Up to SnippetLength characters of the message's text with its blanks collapsed.
std::string snippetOf(const Mime::Message& message);
inline constexpr std::size_t SnippetLength = 250;
