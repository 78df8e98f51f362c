#include "MessageCatalog.h"

#include <cctype>

#include "clsEmailStorage.h"

namespace {

constexpr const char* LatestId = "latest";

bool isTextBody(const Mime::Part& part)
{
    return part.contentType == "text/plain" || part.contentType == "text/html";
}

bool anyEncodedText(const Mime::Part& part)
{
    if (isTextBody(part) && (part.transferEncoding == "base64" || part.transferEncoding == "quoted-printable"))
        return true;
    for (const Mime::Part& child : part.children)
        if (anyEncodedText(child))
            return true;
    return false;
}

bool addressesMatch(const std::vector<Mime::Address>& addresses, const std::string& text)
{
    for (const Mime::Address& address : addresses)
        if (containsFolded(address.address, text) || containsFolded(address.name, text))
            return true;
    return false;
}

// Drops tags and collapses blanks: enough for a snippet of an HTML-only message.
std::string plainOf(const std::string& html)
{
    std::string out;
    bool inTag = false;
    for (char c : html) {
        if (c == '<')
            inTag = true;
        else if (c == '>')
            inTag = false;
        else if (!inTag)
            out += c;
    }
    return out;
}

} // namespace

std::string snippetOf(const Mime::Message& message)
{
    const std::string source = message.text.empty() ? plainOf(message.html) : message.text;
    std::string out;
    std::size_t characters = 0;
    bool blank = false;
    for (char c : source) {
        if (std::isspace(static_cast<unsigned char>(c))) {
            blank = !out.empty();
            continue;
        }
        // Count UTF-8 lead bytes only, so a character is never cut in half.
        const bool lead = (static_cast<unsigned char>(c) & 0xC0) != 0x80;
        if (lead && characters + (blank ? 1 : 0) >= SnippetLength)
            break;
        if (blank) {
            out += ' ';
            ++characters;
            blank = false;
        }
        out += c;
        if (lead)
            ++characters;
    }
    return out;
}

std::int16_t MessageCatalog::positionOf(const std::string& id) const
{
    if (id == LatestId)
        return m_store.Count();
    if (id.empty() || id.size() > 20 || id.find_first_not_of("0123456789") != std::string::npos)
        return 0;
    try {
        return m_store.positionOfId(std::stoull(id));
    } catch (const std::out_of_range&) {
        return 0;
    }
}

const MessageFacts& MessageCatalog::facts(std::int16_t position)
{
    const std::uint64_t id = m_store.emailId(position);
    auto found = m_facts.find(id);
    if (found != m_facts.end())
        return found->second;
    const Mime::Message message = Mime::parse(m_store.EmailBody(position));
    MessageFacts facts;
    facts.subject = message.subject;
    facts.messageId = message.messageId;
    facts.date = message.date;
    facts.snippet = snippetOf(message);
    facts.from = message.from;
    facts.to = message.to;
    facts.cc = message.cc;
    facts.bcc = message.bcc;
    facts.replyTo = message.replyTo;
    facts.attachments = static_cast<int>(message.attachments.size());
    facts.encodedText = anyEncodedText(message.root);
    return m_facts.emplace(id, std::move(facts)).first->second;
}

bool MessageCatalog::termMatches(std::int16_t position, const MessageFacts& facts, const SearchTerm& term)
{
    const std::string& text = term.text;
    const bool from = containsFolded(m_store.EmailFrom(position), text) || addressesMatch(facts.from, text);
    if (term.field == SearchTerm::Field::From)
        return from;
    const bool to = containsFolded(m_store.EmailTo(position), text) || addressesMatch(facts.to, text)
        || addressesMatch(facts.cc, text);
    if (term.field == SearchTerm::Field::To)
        return to;
    const bool subject = containsFolded(facts.subject, text);
    if (term.field == SearchTerm::Field::Subject)
        return subject;
    if (from || to || subject || containsFolded(m_store.EmailBody(position), text))
        return true;
    if (!facts.encodedText)
        return false;
    const Mime::Message message = Mime::parse(m_store.EmailBody(position));
    return containsFolded(message.text, text) || containsFolded(message.html, text);
}

bool MessageCatalog::matches(std::int16_t position, const std::vector<SearchTerm>& terms)
{
    const MessageFacts& messageFacts = facts(position);
    for (const SearchTerm& term : terms)
        if (termMatches(position, messageFacts, term) == term.negated)
            return false;
    return true;
}

std::vector<std::int16_t> MessageCatalog::search(const std::vector<SearchTerm>& terms)
{
    std::vector<std::int16_t> found;
    for (std::int16_t position = m_store.Count(); position >= 1; --position)
        if (matches(position, terms))
            found.push_back(position);
    return found;
}

void MessageCatalog::forget(std::uint64_t id)
{
    m_facts.erase(id);
    m_read.erase(id);
}

void MessageCatalog::clear()
{
    m_facts.clear();
    m_read.clear();
}
