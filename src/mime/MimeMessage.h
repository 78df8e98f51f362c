#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// A captured message read as its recipient's mail program reads it. Everything here is plain
// data: the library that does the parsing stays behind Mime::parse and Mime::Document. All text
// is UTF-8.
namespace Mime {

struct Address {
    std::string name;    // display name, encoded words decoded; may be empty
    std::string address; // the address itself, as written
};

struct Header {
    std::string name;  // as written
    std::string value; // unfolded, encoded words decoded
};

struct Part {
    // Where the part sits: "1", "2", "2.1"... as IMAP numbers body sections; "" for a
    // message that is not multipart (its single body is then part "1").
    std::string partId;
    std::string contentType;      // lower case, "type/subtype"
    std::string charset;          // as declared, empty when none
    std::string transferEncoding; // lower case, empty when none
    std::string fileName;         // RFC 2231 and 2047 decoded; empty when none
    std::string contentId;        // without angle brackets; empty when none
    std::string disposition;      // "inline", "attachment" or empty
    std::size_t size = 0;         // bytes after transfer decoding
    std::vector<Part> children;   // multipart and message/rfc822 parts
};

// A point in time and the offset from UTC it was written with.
struct DateTime {
    std::int64_t secondsSinceEpoch = 0;
    int offsetMinutes = 0;
};

// Addresses of a field beyond those read (MimeBounds.h): counted, not read.
struct AddressesLeftOut {
    std::size_t from = 0, to = 0, cc = 0, bcc = 0, replyTo = 0;
};

struct Message {
    std::vector<Header> headers; // every header field, in order
    std::vector<Address> from, to, cc, bcc, replyTo;
    AddressesLeftOut addressesLeftOut;
    std::string subject;
    std::string date; // as written in the Date field
    // The Date field read as RFC 5322 reads it, obsolete forms included (comments, zone names,
    // two-digit years); nothing when it cannot be read.
    std::optional<DateTime> sentAt;
    std::string messageId; // without angle brackets
    std::string text;      // the body's text/plain part, decoded from its charset
    std::string html;      // the body's text/html part, decoded from its charset
    Part root;             // the whole structure
    // Flat lists for readers that do not walk the tree (children left empty):
    std::vector<Part> inlineParts; // referenced by Content-ID from the HTML (cid: images)
    std::vector<Part> attachments; // everything else that is not the text or the HTML body
};

// Reads a message (header and body, CR LF or LF line ends). Never throws for malformed mail:
// shows what can be shown.
Message parse(std::string_view raw);

// A header is read from at most this many bytes: enough for every field real mail writes, and a
// bound on what a list or a notice costs for a hostile header.
inline constexpr std::size_t MaxHeaderBytes = std::size_t{64} * 1024;

// The header of a message: up to and with its blank line, at most MaxHeaderBytes.
std::string_view headerOf(std::string_view raw);

// Reads the header alone (headerOf): fields, addresses, subject, date and id, and the top part's
// type in root.contentType; text, HTML and parts stay empty. Nothing of the body is taken apart,
// so parseCount does not count it.
Message parseHeader(std::string_view raw);

// The bytes of one part after transfer decoding, or nothing when no part has that id. Parses
// the message for this part alone: a reader of several parts keeps a Mime::Document.
std::optional<std::string> partContent(std::string_view raw, std::string_view partId);

// Messages taken apart so far by this process: what tests and benchmarks count the work by.
std::size_t parseCount();

// The values of one header field (name compared without regard to case), decoded.
std::vector<std::string> headerValues(const Message& message, std::string_view name);

} // namespace Mime
