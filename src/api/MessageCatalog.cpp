#include "MessageCatalog.h"

#include <cctype>
#include <initializer_list>

#include "MimeDocument.h"
#include "clsEmailStorage.h"

namespace {

constexpr const char* LatestId = "latest";
// What keeping one message's facts costs beyond their texts: the map's node and the shared
// pointer's control block.
constexpr std::size_t KeepingOverhead = 96;

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

// At most MaxListedTextBytes, never cutting a UTF-8 character in half.
std::string cut(const std::string& text)
{
    if (text.size() <= MaxListedTextBytes)
        return text;
    std::size_t end = MaxListedTextBytes;
    while (end > 0 && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80)
        --end;
    return text.substr(0, end);
}

ListedAddresses listed(const std::vector<Mime::Address>& all, std::size_t leftOut)
{
    ListedAddresses result;
    result.count = all.size() + leftOut;
    result.first.reserve(std::min(all.size(), MaxListedAddresses));
    for (std::size_t i = 0; i < all.size() && i < MaxListedAddresses; ++i)
        result.first.push_back({cut(all[i].name), cut(all[i].address)});
    return result;
}

// Whether the list shows every address of the field, whole.
bool complete(const ListedAddresses& listed, const std::vector<Mime::Address>& all)
{
    if (listed.count != listed.first.size())
        return false;
    for (std::size_t i = 0; i < all.size(); ++i)
        if (listed.first[i].name.size() != all[i].name.size()
            || listed.first[i].address.size() != all[i].address.size())
            return false;
    return true;
}

// Names and addresses one a line: a search word never spans two of them.
std::string lines(std::initializer_list<const std::vector<Mime::Address>*> fields)
{
    std::string text;
    for (const auto* field : fields)
        for (const Mime::Address& address : *field)
            text.append(address.name).append(1, '\n').append(address.address).append(1, '\n');
    return text;
}

// A field as searches read it: the lines of every address when the list is cut, else the list.
bool addressesContain(const std::string& lines, std::initializer_list<const ListedAddresses*> fields,
                      const std::string& word)
{
    if (!lines.empty())
        return word.find('\n') == std::string::npos && containsFolded(lines, word);
    for (const ListedAddresses* field : fields)
        for (const Mime::Address& address : field->first)
            if (containsFolded(address.address, word) || containsFolded(address.name, word))
                return true;
    return false;
}

std::size_t heapOf(const std::string& text)
{
    // Short texts live inside the string itself.
    return text.capacity() > 15 ? text.capacity() + 1 : 0;
}

std::size_t heapOf(const ListedAddresses& addresses)
{
    std::size_t bytes = addresses.first.capacity() * sizeof(Mime::Address);
    for (const Mime::Address& address : addresses.first)
        bytes += heapOf(address.name) + heapOf(address.address);
    return bytes;
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

std::size_t MessageFacts::footprint() const
{
    std::size_t bytes = sizeof(MessageFacts) + KeepingOverhead;
    for (const std::string* text : {&subject, &messageId, &date, &snippet})
        bytes += heapOf(*text);
    for (const ListedAddresses* field : {&from, &to, &cc, &bcc, &replyTo})
        bytes += heapOf(*field);
    if (whole) {
        bytes += sizeof(Whole);
        for (const std::string* text :
             {&whole->fromLines, &whole->toLines, &whole->subject, &whole->text, &whole->html})
            bytes += heapOf(*text);
    }
    return bytes;
}

MessageFacts factsOf(const Mime::Message& message)
{
    MessageFacts facts;
    facts.subject = cut(message.subject);
    facts.messageId = cut(message.messageId);
    facts.date = cut(message.date);
    facts.snippet = snippetOf(message);
    facts.snippet.shrink_to_fit(); // kept for as long as the message: no room to grow
    const Mime::AddressesLeftOut& left = message.addressesLeftOut;
    facts.from = listed(message.from, left.from);
    facts.to = listed(message.to, left.to);
    facts.cc = listed(message.cc, left.cc);
    facts.bcc = listed(message.bcc, left.bcc);
    facts.replyTo = listed(message.replyTo, left.replyTo);
    facts.attachments = static_cast<int>(message.attachments.size());
    MessageFacts::Whole whole;
    if (!complete(facts.from, message.from))
        whole.fromLines = lines({&message.from});
    if (!complete(facts.to, message.to) || !complete(facts.cc, message.cc))
        whole.toLines = lines({&message.to, &message.cc});
    if (facts.subject.size() < message.subject.size())
        whole.subject = message.subject;
    if (anyEncodedText(message.root)) {
        whole.text = message.text;
        whole.html = message.html;
    }
    if (!whole.fromLines.empty() || !whole.toLines.empty() || !whole.subject.empty() || !whole.text.empty()
        || !whole.html.empty())
        facts.whole = std::make_unique<const MessageFacts::Whole>(std::move(whole));
    return facts;
}

MessageCatalog::MessageCatalog(clsEmailStorage& store) : m_store(store), m_budget(store.Budget())
{
}

MessageCatalog::~MessageCatalog()
{
    clear();
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

std::shared_ptr<const MessageFacts> MessageCatalog::facts(std::int16_t position)
{
    const std::uint64_t id = m_store.emailId(position);
    if (const auto found = m_facts.find(id); found != m_facts.end())
        return found->second.facts;
    const Mime::Document document(m_store.EmailBodyShared(position));
    auto facts = std::make_shared<const MessageFacts>(factsOf(document.message()));
    // A message the store no longer holds (id 0) has nothing to be kept for.
    const std::size_t bytes = facts->footprint();
    if (id != 0 && m_budget.tryTake(bytes))
        m_facts.emplace(id, Kept{facts, bytes});
    return facts;
}

bool MessageCatalog::termMatches(std::int16_t position, const MessageFacts& facts, const SearchTerm& term) const
{
    static const MessageFacts::Whole none;
    const MessageFacts::Whole& whole = facts.whole ? *facts.whole : none;
    const std::string& text = term.text;
    const bool from
        = containsFolded(m_store.EmailFrom(position), text) || addressesContain(whole.fromLines, {&facts.from}, text);
    if (term.field == SearchTerm::Field::From)
        return from;
    const bool to = containsFolded(m_store.EmailTo(position), text)
        || addressesContain(whole.toLines, {&facts.to, &facts.cc}, text);
    if (term.field == SearchTerm::Field::To)
        return to;
    const bool subject = containsFolded(whole.subject.empty() ? facts.subject : whole.subject, text);
    if (term.field == SearchTerm::Field::Subject)
        return subject;
    return from || to || subject || containsFolded(m_store.EmailBody(position), text)
        || containsFolded(whole.text, text) || containsFolded(whole.html, text);
}

bool MessageCatalog::matches(std::int16_t position, const MessageFacts& messageFacts,
                             const std::vector<SearchTerm>& terms) const
{
    for (const SearchTerm& term : terms)
        if (termMatches(position, messageFacts, term) == term.negated)
            return false;
    return true;
}

bool MessageCatalog::matches(std::int16_t position, const std::vector<SearchTerm>& terms)
{
    return matches(position, *facts(position), terms);
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
    if (const auto found = m_facts.find(id); found != m_facts.end()) {
        m_budget.giveBack(found->second.charged);
        m_facts.erase(found);
    }
    m_read.erase(id);
}

void MessageCatalog::clear()
{
    for (const auto& [id, kept] : m_facts)
        m_budget.giveBack(kept.charged);
    m_facts.clear();
    m_read.clear();
}
