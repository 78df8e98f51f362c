#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "SearchMatch.h"

namespace Mime {
struct Message;
}

// What a list row and a notice show of a message, and what a list's filter reads: taken from its
// header alone (Mime::parseHeader, at most Mime::MaxHeaderBytes), once, so that a 20 MiB body or a
// header of 250,000 addresses costs what a short message costs.
struct ListingFacts {
    std::string sender;    // the header's first From as "Name <address>", else the envelope's; cut
    std::string subject;   // decoded, on one line, cut
    std::string senderKey; // the sender as a sort compares it: case folded
    // A mixed multipart is what carries attachments: mail programs that list from the header mark it so.
    bool attachmentMark = false;
    // The header's fields, normalised for the query words; plain words look in these alone.
    Search::Searchable search;

    // The bytes these take beyond the struct itself.
    std::size_t heapBytes() const;
};

// A shown text is cut to this many bytes (never inside a UTF-8 character).
inline constexpr std::size_t MaxShownBytes = 300;

// The header's first sender as "Name <address>", or the envelope's sender when it names none.
std::string senderOf(const Mime::Message& header, std::string_view envelopeFrom);

// Reads the facts of a message from its source and its envelope's sender.
ListingFacts listingFacts(std::string_view raw, std::string_view envelopeFrom);
