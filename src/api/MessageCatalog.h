#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "MessageSearch.h"
#include "MimeMessage.h"

class ByteBudget;
class clsEmailStorage;

// A list item shows at most this many addresses of a field, and its texts (subject, names,
// addresses, ids) cut to this many bytes: a mail of 250,000 recipients must not make a page of
// them. Searches read every address the reader took (MimeBounds.h) and the whole subject.
inline constexpr std::size_t MaxListedAddresses = 100;
inline constexpr std::size_t MaxListedTextBytes = 1000;

// The first addresses of a header field, and how many it holds.
struct ListedAddresses {
    std::vector<Mime::Address> first;
    std::size_t count = 0;
};

// What a list or a search needs of one message, read once from its source and kept until the
// message goes: a page of the list or a search then costs no parsing.
struct MessageFacts {
    // As a list shows them: cut.
    std::string subject;
    std::string messageId;
    std::string date; // the Date field as written
    std::string snippet;
    ListedAddresses from, to, cc, bcc, replyTo;
    int attachments = 0;

    // What searches read beyond that, where the list's facts fall short: every address read
    // with its name, one a line, when a field's list is cut; the whole subject when it is cut;
    // the decoded text and HTML when some text part is transfer-encoded (the body as received
    // is searched anyway).
    struct Whole {
        std::string fromLines;
        std::string toLines; // To and Cc
        std::string subject;
        std::string text;
        std::string html;
    };
    std::unique_ptr<const Whole> whole; // null when the list's facts are all there is

    // The bytes these take, as the byte budget is charged for them.
    std::size_t footprint() const;
};

// Reads the facts of a message from its reading.
MessageFacts factsOf(const Mime::Message& message);

// The store as the API sees it: messages by id, newest first, with their facts and read marks.
// The facts it keeps are charged to the store's byte budget and given back when their message
// goes; facts the budget has no room for are read anew each time they are needed. The owner
// tells it of removals (forget, clear).
class MessageCatalog {
public:
    explicit MessageCatalog(clsEmailStorage& store);
    ~MessageCatalog();
    MessageCatalog(const MessageCatalog&) = delete;
    MessageCatalog& operator=(const MessageCatalog&) = delete;

    // "latest" or a decimal id; 0 when no such message is stored.
    std::int16_t positionOf(const std::string& id) const;
    static std::string idText(std::uint64_t id) { return std::to_string(id); }

    std::shared_ptr<const MessageFacts> facts(std::int16_t position);
    bool matches(std::int16_t position, const std::vector<SearchTerm>& terms);
    bool matches(std::int16_t position, const MessageFacts& facts, const std::vector<SearchTerm>& terms) const;
    // Positions of the matching messages, newest first.
    std::vector<std::int16_t> search(const std::vector<SearchTerm>& terms);

    bool isRead(std::uint64_t id) const { return m_read.contains(id); }
    void markRead(std::uint64_t id) { m_read.insert(id); }
    std::size_t readCount() const { return m_read.size(); }

    void forget(std::uint64_t id);
    void clear();

private:
    struct Kept {
        std::shared_ptr<const MessageFacts> facts;
        std::size_t charged = 0;
    };

    bool termMatches(std::int16_t position, const MessageFacts& facts, const SearchTerm& term) const;

    const clsEmailStorage& m_store;
    ByteBudget& m_budget;
    std::unordered_map<std::uint64_t, Kept> m_facts;
    std::unordered_set<std::uint64_t> m_read;
};

// Up to SnippetLength characters of the message's text with its blanks collapsed.
std::string snippetOf(const Mime::Message& message);
inline constexpr std::size_t SnippetLength = 250;
