#include "SearchMatch.h"

#include <initializer_list>

#include "SearchText.h"

namespace Search {
namespace {

std::size_t heapOf(const std::string& text)
{
    // Short texts live inside the string itself.
    return text.capacity() > 15 ? text.capacity() + 1 : 0;
}

bool textMatches(const Searchable& m, const Term& term)
{
    const auto in = [&term](const std::string& field) { return containsNormalised(field, term.text); };
    switch (term.field) {
    case Field::Text:
        return in(m.text);
    case Field::From:
        return in(m.from);
    case Field::To:
        return in(m.to);
    case Field::Cc:
        return in(m.cc);
    case Field::Bcc:
        return in(m.bcc);
    case Field::ReplyTo:
        return in(m.replyTo);
    case Field::Addressed:
        return in(m.from) || in(m.to) || in(m.cc) || in(m.bcc) || in(m.replyTo);
    case Field::Subject:
        return in(m.subject);
    case Field::MessageId:
        return in(m.messageId);
    default:
        return false;
    }
}

bool termMatches(const Searchable& m, const Standing& s, const Term& term)
{
    switch (term.field) {
    case Field::Read:
        return s.read;
    case Field::Attachment:
        return m.attachments > 0;
    case Field::Inline:
        return m.inlines > 0;
    case Field::After:
        return s.receivedMs >= term.number;
    case Field::Before:
        return s.receivedMs <= term.number;
    case Field::Larger:
        return s.size > term.number;
    case Field::Smaller:
        return s.size < term.number;
    default:
        return textMatches(m, term);
    }
}

} // namespace

void AddressText::add(std::string_view name, std::string_view address)
{
    lines.append(normalised(name)).append(1, ' ').append(normalised(address)).append(1, '\n');
}

std::size_t Searchable::heapBytes() const
{
    std::size_t bytes = 0;
    for (const std::string* field : {&from, &to, &cc, &bcc, &replyTo, &subject, &messageId, &text})
        bytes += heapOf(*field);
    return bytes;
}

bool matches(const Searchable& message, const Standing& standing, const std::vector<Term>& terms)
{
    for (const Term& term : terms)
        if (termMatches(message, standing, term) == term.negated)
            return false;
    return true;
}

} // namespace Search
