#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace Mime {

// A message to be written: the fields of the API's send request, every text UTF-8.
struct Composition {
    struct Mailbox {
        std::string name;
        std::string address;
    };
    struct File {
        std::string content; // the bytes
        std::string fileName;
        std::string contentType; // type/subtype; application/octet-stream when empty
        std::string contentId;   // set: an inline part of the HTML, else an attachment
    };
    Mailbox from;
    std::vector<Mailbox> to, cc, replyTo;
    std::string subject, text, html;
    std::vector<File> files;
    std::vector<std::pair<std::string, std::string>> headers; // further fields, as given
};

// The message as a mail program writes it, CR LF line ends: text/plain (and text/html as an
// alternative), inline files with the HTML in multipart/related, attachments in multipart/mixed,
// each part in the transfer encoding its bytes need; Date and Message-ID added unless given.
// Blind copies are not written: they go in the envelope only.
std::string compose(const Composition& composition);

// The address itself when text is one address as RFC 5322 writes it ("a@b.c", "Name <a@b.c>");
// nothing when it is not.
std::optional<std::string> addressOf(std::string_view text);

} // namespace Mime
