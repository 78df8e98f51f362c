// Arbitrary bytes as a message: text, HTML and subject stay UTF-8; every listed part has its size.
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string>

#include "MimeDocument.h"

namespace {

bool isUtf8(std::string_view text)
{
    for (std::size_t i = 0; i < text.size();) {
        const auto lead = static_cast<unsigned char>(text[i++]);
        if (lead >= 0x80 && (lead < 0xC2 || lead >= 0xF5))
            return false;
        for (int more = lead < 0x80 ? 0 : lead < 0xE0 ? 1 : lead < 0xF0 ? 2 : 3; more > 0; --more, ++i)
            if (i >= text.size() || (static_cast<unsigned char>(text[i]) & 0xC0) != 0x80)
                return false;
    }
    return true;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const Mime::Document document(std::make_shared<const std::string>(reinterpret_cast<const char*>(data), size));
    const Mime::Message& message = document.message();
    if (!isUtf8(message.text) || !isUtf8(message.html) || !isUtf8(message.subject))
        std::abort();
    for (const auto* list : {&message.inlineParts, &message.attachments})
        for (const Mime::Part& part : *list)
            if (document.partContent(part.partId).value_or("").size() != part.size)
                std::abort();
    return 0;
}
