// Arbitrary bytes read as a captured message. Besides not crashing: the text and the HTML are
// valid UTF-8, and every part in the flat lists can be fetched by its id with the size the
// reader gave it.
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "MimeMessage.h"

namespace {

bool isUtf8(std::string_view text)
{
    std::size_t i = 0;
    while (i < text.size()) {
        const auto lead = static_cast<unsigned char>(text[i]);
        const std::size_t length = lead < 0x80 ? 1
            : lead >= 0xC2 && lead < 0xE0      ? 2
            : lead >= 0xE0 && lead < 0xF0      ? 3
            : lead >= 0xF0 && lead < 0xF5      ? 4
                                               : 0;
        if (length == 0 || i + length > text.size())
            return false;
        for (std::size_t k = 1; k < length; ++k)
            if ((static_cast<unsigned char>(text[i + k]) & 0xC0) != 0x80)
                return false;
        i += length;
    }
    return true;
}

void checkListed(std::string_view raw, const Mime::Part& part)
{
    const auto content = Mime::partContent(raw, part.partId);
    if (!content || content->size() != part.size)
        std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string_view raw(reinterpret_cast<const char*>(data), size);
    const Mime::Message message = Mime::parse(raw);
    if (!isUtf8(message.text) || !isUtf8(message.html) || !isUtf8(message.subject))
        std::abort();
    for (const Mime::Part& part : message.inlineParts)
        checkListed(raw, part);
    for (const Mime::Part& part : message.attachments)
        checkListed(raw, part);
    Mime::headerValues(message, "Content-Type");
    return 0;
}
