#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "MimeMessage.h"
#include "SearchMatch.h"

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
// message goes: a page of the list or a search then costs no parsing and no decoding.
struct MessageFacts {
    // As a list shows them: cut.
    std::string subject;
    std::string messageId;
    std::string snippet;
    ListedAddresses from, to, cc, bcc, replyTo;
    int attachments = 0;
    // What searches read: every address, the whole subject, the decoded text.
    Search::Searchable search;

    // The bytes these take, as the byte budget is charged for them.
    std::size_t footprint() const;
};

// Reads the facts of a message from its reading and its envelope's recipients.
MessageFacts factsOf(const Mime::Message& message, std::string_view envelopeRecipients);

// Text of the envelope as UTF-8: as sent when it is valid UTF-8 (SMTPUTF8), else one byte a
// Latin-1 character.
std::string envelopeText(std::string_view bytes);
// The envelope's recipients, each without angle brackets, as UTF-8.
std::vector<std::string> envelopeRecipients(std::string_view joined);
// The Bcc a reader of the API sees: the field's addresses, then every envelope recipient that no
// To, Cc or Bcc address names, as a blind copy is sent. The source stays as received.
std::vector<Mime::Address> blindCopies(const Mime::Message& message, std::string_view joined);

// The store as the API sees it: messages by id, newest first, with their facts. The facts it
// keeps are charged to the store's byte budget and given back when their message goes; facts the
// budget has no room for are read anew each time they are needed. The owner tells it of removals
// (forget, clear).
class MessageCatalog {
public:
    explicit MessageCatalog(clsEmailStorage& store);
    ~MessageCatalog();
    MessageCatalog(const MessageCatalog&) = delete;
    MessageCatalog& operator=(const MessageCatalog&) = delete;

    // "latest" or a decimal id; 0 when no such message is stored.
    std::int16_t positionOf(const std::string& id) const;
    // As positionOf, "latest" naming the newest message the search matches.
    std::int16_t positionOf(const std::string& id, const std::vector<Search::Term>& terms);
    static std::string idText(std::uint64_t id) { return std::to_string(id); }

    std::shared_ptr<const MessageFacts> facts(std::int16_t position);
    // The facts kept for a message, if any; nothing is read.
    std::shared_ptr<const MessageFacts> kept(std::uint64_t id) const;
    // Facts with the bytes charged for them, by message id.
    struct Kept {
        std::shared_ptr<const MessageFacts> facts;
        std::size_t charged = 0;
    };
    using KeptFacts = std::unordered_map<std::uint64_t, Kept>;
    // Keeps facts read away from the event loop, as facts() would have kept them; what it keeps
    // is moved out of `read` with its map entry, made where the facts were read. The caller
    // leaves out messages no longer stored; `charged` is each one's footprint.
    void keep(KeptFacts& read);
    bool matches(std::int16_t position, const std::vector<Search::Term>& terms);
    bool matches(std::int16_t position, const MessageFacts& facts, const std::vector<Search::Term>& terms) const;
    // Positions of the matching messages, newest first.
    std::vector<std::int16_t> search(const std::vector<Search::Term>& terms);

    void forget(std::uint64_t id);
    void clear();
    // As clear, handing over the facts it kept, for the caller to free where it costs least.
    std::shared_ptr<void> takeAll();

private:
    void keepCharged(std::uint64_t id, std::shared_ptr<const MessageFacts> facts, std::size_t bytes);

    const clsEmailStorage& m_store;
    ByteBudget& m_budget;
    KeptFacts m_facts;
};

// The text a reader sees: the text part, or for mail with HTML alone its HTML as text.
std::string readerText(const Mime::Message& message);

// Up to SnippetLength characters of the message's text with its blanks collapsed.
std::string snippetOf(const Mime::Message& message);
inline constexpr std::size_t SnippetLength = 250;
