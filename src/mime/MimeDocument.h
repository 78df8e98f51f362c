#pragma once

#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "MimeMessage.h"

namespace Mime {

// A message parsed once, answering both how it reads and what each of its parts holds: a
// reader that needs several parts (a summary's checksums, the pictures of an HTML mail) pays
// for one parse, not one per part. It shares the bytes it was made from.
class Document {
public:
    explicit Document(std::shared_ptr<const std::string> raw);
    ~Document();
    Document(const Document&) = delete;
    Document& operator=(const Document&) = delete;

    // The message as its recipient reads it; read on first use, then kept.
    const Message& message() const;
    // The bytes of one part after transfer decoding, or nothing when no part has that id.
    std::optional<std::string> partContent(std::string_view partId) const;

private:
    struct State;
    std::unique_ptr<State> m_state;
};

} // namespace Mime
