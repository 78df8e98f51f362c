#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "SearchQuery.h"

namespace Search {

// What searches read of one message, normalised once (SearchText.h) and kept: a query then
// costs substring scans, never a parse or a decoding. Address fields hold each address's name
// and address, one address a line, so that no word spans two of them.
struct Searchable {
    std::string from, to, cc, bcc, replyTo;
    std::string subject;
    std::string messageId;
    // What a plain word is looked for in: the fields above, the decoded text and HTML (as text,
    // link targets included) and the file names of the attachments.
    std::string text;
    int attachments = 0;
    int inlines = 0;

    std::size_t heapBytes() const;
};

// What changes or lives with the store rather than the message's text.
struct Standing {
    std::int64_t receivedMs = 0;
    std::int64_t size = 0;
    bool read = false;
};

// One address field's lines: name and address of each, normalised, one address a line.
struct AddressText {
    void add(std::string_view name, std::string_view address);
    std::string lines;
};

bool matches(const Searchable& message, const Standing& standing, const std::vector<Term>& terms);

} // namespace Search
