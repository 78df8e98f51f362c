#include "ListingFacts.h"

#include <initializer_list>

#include "MimeMessage.h"
#include "SearchText.h"

namespace {

std::size_t heapOf(const std::string& text)
{
    // Short texts live inside the string itself.
    return text.capacity() > 15 ? text.capacity() + 1 : 0;
}

// One line of at most MaxShownBytes: a subject may be folded, hold control characters or run to
// the whole header.
std::string shown(std::string_view text)
{
    if (text.size() > MaxShownBytes) {
        std::size_t end = MaxShownBytes;
        while (end > 0 && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80)
            --end;
        text = text.substr(0, end);
    }
    std::string line(text);
    for (char& c : line)
        if (static_cast<unsigned char>(c) < 0x20 || c == '\x7f')
            c = ' ';
    return line;
}

std::string addressText(const std::vector<Mime::Address>& addresses)
{
    Search::AddressText text;
    for (const Mime::Address& address : addresses)
        text.add(address.name, address.address);
    text.lines.shrink_to_fit();
    return std::move(text.lines);
}

} // namespace

std::size_t ListingFacts::heapBytes() const
{
    return heapOf(sender) + heapOf(subject) + heapOf(senderKey) + search.heapBytes();
}

std::string senderOf(const Mime::Message& header, std::string_view envelopeFrom)
{
    if (header.from.empty())
        return std::string(envelopeFrom);
    const Mime::Address& from = header.from.front();
    return from.name.empty() ? from.address : from.name + " <" + from.address + ">";
}

ListingFacts listingFacts(std::string_view raw, std::string_view envelopeFrom)
{
    const Mime::Message header = Mime::parseHeader(raw);
    ListingFacts facts;
    facts.sender = shown(senderOf(header, envelopeFrom));
    facts.subject = shown(header.subject);
    facts.senderKey = Search::normalised(facts.sender);
    facts.attachmentMark = header.root.contentType == "multipart/mixed";
    Search::Searchable& search = facts.search;
    search.from = addressText(header.from);
    search.to = addressText(header.to);
    search.cc = addressText(header.cc);
    search.bcc = addressText(header.bcc);
    search.replyTo = addressText(header.replyTo);
    search.subject = Search::normalised(header.subject);
    search.messageId = Search::normalised(header.messageId);
    for (const std::string* field : {&search.from, &search.to, &search.cc, &search.bcc, &search.replyTo})
        search.text.append(*field);
    search.text.append(search.subject);
    search.text.shrink_to_fit();
    search.attachments = facts.attachmentMark ? 1 : 0;
    search.inlines = header.root.contentType == "multipart/related" ? 1 : 0;
    return facts;
}
