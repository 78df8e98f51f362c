#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include <QJsonObject>

#include "MessageCatalog.h"

class clsEmailStorage;

// The JSON shapes of the API, named and laid out as the published clients read them.
namespace ApiJson {

// One message in a list or a live event: envelope, counts and a snippet, no bodies.
QJsonObject listItem(const clsEmailStorage& store, MessageCatalog& catalog, std::int16_t position);

// What a list item reads of the store, copied, so that the item can be written away from the
// event loop: the body is shared, never copied.
struct ListingEntry {
    std::uint64_t id = 0;
    bool read = false;
    std::string envelopeFrom;
    std::string authUser;
    std::chrono::system_clock::time_point received;
    std::shared_ptr<const std::string> body;
};
ListingEntry entryOf(const clsEmailStorage& store, std::int16_t position);
// The item of an entry, from its facts (MessageCatalog's, or factsOf the entry's body).
QJsonObject listItem(const ListingEntry& entry, const MessageFacts& facts);
// The same item as compact JSON text, byte for byte, written without the object tree: the event
// stream writes one for every arrival.
void appendListItem(std::string& out, const ListingEntry& entry, const MessageFacts& facts);

// A page of a list or a search: positions are the matches, newest first; total counts the store.
QJsonObject page(const clsEmailStorage& store, MessageCatalog& catalog, const std::vector<std::int16_t>& matches,
                 std::size_t start, std::size_t limit);

// A page of every message, newest first.
QJsonObject listPage(const clsEmailStorage& store, MessageCatalog& catalog, std::size_t start, std::size_t limit);

// One message in full, from one parse: envelope, decoded text and HTML, attachments with
// checksums. Reading it marks the message read.
QJsonObject summary(clsEmailStorage& store, std::int16_t position);

// Every header field by its canonical name, each with its values in order.
QJsonObject headers(const Mime::Message& message);

// {"Error": text}: what every refusal of the API carries.
QJsonObject error(const char* text);

// The member named so in any letter case, as the peer's JSON decoder matches keys to fields;
// undefined when there is none.
QJsonValue member(const QJsonObject& object, const char* name);

} // namespace ApiJson
