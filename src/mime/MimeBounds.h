#pragma once

#include <cstddef>
#include <string_view>
#include <vector>

#include "MimeMessage.h"

// How much of a message the reader takes apart. Taking apart costs far more than the bytes:
// each part, header field and address becomes objects of a few hundred bytes, so a mail of
// 1 MB in tiny parts or addresses would cost hundreds of MiB and seconds. Beyond these bounds
// the rest is left out of the parse; nothing is left out of the message itself.
namespace Mime {

// Parts beyond this: only the message's header is taken apart, its body shown as text.
inline constexpr std::size_t MaxParts = 10'000;
// Header fields, all the message's and its parts' headers together.
inline constexpr std::size_t MaxHeaderFields = 10'000;
// Addresses of one kind (From, To...) in one header, and the bytes of one address field.
inline constexpr std::size_t MaxAddressesRead = 1'000;
inline constexpr std::size_t MaxAddressFieldBytes = std::size_t{64} * 1024;

namespace Detail {

struct ByteRange {
    std::size_t begin;
    std::size_t end;
};

// What a scan of the message's lines found, before any parse.
struct Structure {
    std::vector<ByteRange> leftOut;    // in order, apart: the bytes the parse does not see
    AddressesLeftOut addressesLeftOut; // of the message's own header
    std::size_t parts = 0;             // delimiter lines of a declared boundary
    std::size_t headerEnd = 0;         // where the message's own header ends
};

// Finds the header fields and addresses beyond the bounds, and counts the parts.
Structure scanStructure(std::string_view raw);

} // namespace Detail
} // namespace Mime
