#include "MessageCatalog.h"

#include <algorithm>
#include <cctype>
#include <chrono>
#include <initializer_list>
#include <stdexcept>
#include <utility>

#include "HtmlText.h"
#include "Latin1Text.h"
#include "MimeDocument.h"
#include "SearchText.h"
#include "clsEmailStorage.h"

namespace {

constexpr const char* LatestId = "latest";
constexpr std::string_view RecipientSeparator = ", ";
// What keeping one message's facts costs beyond their texts: the map's node and the shared
// pointer's control block.
constexpr std::size_t KeepingOverhead = 96;

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

std::string addressText(const std::vector<Mime::Address>& addresses)
{
    Search::AddressText text;
    for (const Mime::Address& address : addresses)
        text.add(address.name, address.address);
    return std::move(text.lines);
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

bool isValidUtf8(std::string_view bytes)
{
    for (std::size_t i = 0; i < bytes.size();) {
        const auto c = static_cast<unsigned char>(bytes[i]);
        const std::size_t length = c < 0x80 ? 1 : (c >> 5) == 0x6 ? 2 : (c >> 4) == 0xE ? 3 : (c >> 3) == 0x1E ? 4 : 0;
        if (length == 0 || i + length > bytes.size() || (length == 2 && c < 0xC2))
            return false;
        for (std::size_t k = 1; k < length; ++k)
            if ((static_cast<unsigned char>(bytes[i + k]) & 0xC0) != 0x80)
                return false;
        i += length;
    }
    return true;
}

// What plain words are looked for in: the addresses, the subject, the decoded text and HTML (as a
// reader sees it, link targets included) and the attachments' file names.
std::string plainText(const Mime::Message& message, const Search::Searchable& fields)
{
    std::string text;
    for (const std::string* field : {&fields.from, &fields.to, &fields.cc, &fields.bcc, &fields.replyTo})
        text.append(*field);
    text.append(fields.subject).append(1, '\n');
    text.append(Search::normalised(message.text)).append(1, '\n');
    if (!message.html.empty())
        text.append(Search::normalised(Search::htmlToText(message.html))).append(1, '\n');
    for (const auto* list : {&message.attachments, &message.inlineParts})
        for (const Mime::Part& part : *list)
            if (!part.fileName.empty())
                text.append(Search::normalised(part.fileName)).append(1, '\n');
    return text;
}

} // namespace

std::string envelopeText(std::string_view bytes)
{
    if (isValidUtf8(bytes))
        return std::string(bytes);
    std::string out;
    out.reserve(bytes.size() * 2);
    for (const char c : bytes) {
        const auto u = static_cast<unsigned char>(c);
        if (u < 0x80) {
            out += c;
        } else {
            out += static_cast<char>(0xC0 | (u >> 6));
            out += static_cast<char>(0x80 | (u & 0x3F));
        }
    }
    return out;
}

std::vector<std::string> envelopeRecipients(std::string_view joined)
{
    std::vector<std::string> recipients;
    while (!joined.empty()) {
        const std::size_t end = joined.find(RecipientSeparator);
        std::string_view one = joined.substr(0, end);
        if (one.size() >= 2 && one.front() == '<' && one.back() == '>')
            one = one.substr(1, one.size() - 2);
        if (!one.empty())
            recipients.push_back(envelopeText(one));
        joined = end == std::string_view::npos ? std::string_view() : joined.substr(end + RecipientSeparator.size());
    }
    return recipients;
}

std::vector<Mime::Address> blindCopies(const Mime::Message& message, std::string_view joined)
{
    std::vector<Mime::Address> bcc = message.bcc;
    const auto named = [&](const std::string& address) {
        for (const std::vector<Mime::Address>* field :
             std::initializer_list<const std::vector<Mime::Address>*>{&message.to, &message.cc, &bcc})
            for (const Mime::Address& known : *field)
                if (equalNoCase(known.address, address))
                    return true;
        return false;
    };
    for (std::string& recipient : envelopeRecipients(joined))
        if (!named(recipient))
            bcc.push_back({{}, std::move(recipient)});
    return bcc;
}

std::string readerText(const Mime::Message& message)
{
    return message.text.empty() && !message.html.empty() ? Search::htmlToText(message.html) : message.text;
}

std::string snippetOf(const Mime::Message& message)
{
    const std::string source = readerText(message);
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
    std::size_t bytes = sizeof(MessageFacts) + KeepingOverhead + search.heapBytes();
    for (const std::string* text : {&subject, &messageId, &snippet})
        bytes += heapOf(*text);
    for (const ListedAddresses* field : {&from, &to, &cc, &bcc, &replyTo})
        bytes += heapOf(*field);
    return bytes;
}

MessageFacts factsOf(const Mime::Message& message, std::string_view recipients)
{
    MessageFacts facts;
    facts.subject = cut(message.subject);
    facts.messageId = cut(message.messageId);
    facts.snippet = snippetOf(message);
    facts.snippet.shrink_to_fit(); // kept for as long as the message: no room to grow
    const std::vector<Mime::Address> bcc = blindCopies(message, recipients);
    const Mime::AddressesLeftOut& left = message.addressesLeftOut;
    facts.from = listed(message.from, left.from);
    facts.to = listed(message.to, left.to);
    facts.cc = listed(message.cc, left.cc);
    facts.bcc = listed(bcc, left.bcc);
    facts.replyTo = listed(message.replyTo, left.replyTo);
    facts.attachments = static_cast<int>(message.attachments.size());

    Search::Searchable& search = facts.search;
    search.from = addressText(message.from);
    search.to = addressText(message.to);
    search.cc = addressText(message.cc);
    search.bcc = addressText(bcc);
    search.replyTo = addressText(message.replyTo);
    search.subject = Search::normalised(message.subject);
    search.messageId = Search::normalised(message.messageId);
    search.text = plainText(message, search);
    search.attachments = facts.attachments;
    search.inlines = static_cast<int>(message.inlineParts.size());
    for (std::string* text : {&search.from, &search.to, &search.cc, &search.bcc, &search.replyTo, &search.text})
        text->shrink_to_fit();
    return facts;
}

MessageCatalog::MessageCatalog(clsEmailStorage& store) : m_store(store), m_budget(store.budget())
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

std::int16_t MessageCatalog::positionOf(const std::string& id, const std::vector<Search::Term>& terms)
{
    if (id != LatestId || terms.empty())
        return positionOf(id);
    for (std::int16_t position = m_store.Count(); position >= 1; --position)
        if (matches(position, terms))
            return position;
    return 0;
}

std::shared_ptr<const MessageFacts> MessageCatalog::facts(std::int16_t position)
{
    const std::uint64_t id = m_store.emailId(position);
    if (const auto found = m_facts.find(id); found != m_facts.end())
        return found->second.facts;
    const Mime::Document document(m_store.emailBodyShared(position));
    auto facts = std::make_shared<const MessageFacts>(factsOf(document.message(), m_store.EmailTo(position)));
    // A message the store no longer holds (id 0) has nothing to be kept for.
    if (id != 0)
        keepCharged(id, facts, facts->footprint());
    return facts;
}

std::shared_ptr<const MessageFacts> MessageCatalog::kept(std::uint64_t id) const
{
    const auto found = m_facts.find(id);
    return found == m_facts.end() ? nullptr : found->second.facts;
}

void MessageCatalog::keep(KeptFacts& read)
{
    for (auto it = read.begin(); it != read.end();) {
        const auto next = std::next(it);
        if (!m_facts.contains(it->first) && m_budget.tryTake(it->second.charged))
            m_facts.insert(read.extract(it));
        it = next;
    }
}

// Facts the budget has no room for are read anew when next needed.
void MessageCatalog::keepCharged(std::uint64_t id, std::shared_ptr<const MessageFacts> facts, std::size_t bytes)
{
    if (m_budget.tryTake(bytes))
        m_facts.emplace(id, Kept{std::move(facts), bytes});
}

bool MessageCatalog::matches(std::int16_t position, const MessageFacts& messageFacts,
                             const std::vector<Search::Term>& terms) const
{
    using namespace std::chrono;
    const Search::Standing standing{
        duration_cast<milliseconds>(m_store.emailReceived(position).time_since_epoch()).count(),
        static_cast<std::int64_t>(m_store.EmailBody(position).size()), m_store.emailRead(position)};
    return Search::matches(messageFacts.search, standing, terms);
}

bool MessageCatalog::matches(std::int16_t position, const std::vector<Search::Term>& terms)
{
    return matches(position, *facts(position), terms);
}

std::vector<std::int16_t> MessageCatalog::search(const std::vector<Search::Term>& terms)
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
}

void MessageCatalog::clear()
{
    for (const auto& [id, kept] : m_facts)
        m_budget.giveBack(kept.charged);
    m_facts.clear();
}

std::shared_ptr<void> MessageCatalog::takeAll()
{
    if (m_facts.empty())
        return nullptr;
    for (const auto& [id, kept] : m_facts)
        m_budget.giveBack(kept.charged);
    return std::make_shared<decltype(m_facts)>(std::exchange(m_facts, {}));
}
