#include "MailComposer.h"

#include "GMimeParse.h"
#include "Latin1Text.h"

namespace Mime {
namespace {

using Detail::Ref;

constexpr const char* Charset = "utf-8";
constexpr const char* MessageIdDomain = "quellpost.localhost";

void setBestEncoding(GMimePart* part)
{
    g_mime_part_set_content_encoding(part, g_mime_part_get_best_content_encoding(part, GMIME_ENCODING_CONSTRAINT_7BIT));
}

GMimeObject* textPart(const char* subtype, const std::string& text)
{
    GMimeTextPart* part = g_mime_text_part_new_with_subtype(subtype);
    g_mime_text_part_set_text(part, text.c_str());
    g_mime_text_part_set_charset(part, Charset);
    setBestEncoding(GMIME_PART(part));
    return GMIME_OBJECT(part);
}

GMimeObject* filePart(const Composition::File& file)
{
    const std::string& type = file.contentType;
    const std::size_t slash = type.find('/');
    const bool valid = slash != std::string::npos && slash > 0 && slash + 1 < type.size();
    GMimePart* part = valid ? g_mime_part_new_with_type(type.substr(0, slash).c_str(), type.substr(slash + 1).c_str())
                            : g_mime_part_new_with_type("application", "octet-stream");
    GMimeStream* stream = g_mime_stream_mem_new_with_buffer(file.content.data(), file.content.size());
    GMimeDataWrapper* wrapper = g_mime_data_wrapper_new_with_stream(stream, GMIME_CONTENT_ENCODING_DEFAULT);
    g_mime_part_set_content(part, wrapper);
    g_object_unref(wrapper);
    g_object_unref(stream);
    g_mime_part_set_content_encoding(part, GMIME_CONTENT_ENCODING_BASE64);
    g_mime_object_set_disposition(GMIME_OBJECT(part), file.contentId.empty() ? "attachment" : "inline");
    if (!file.fileName.empty())
        g_mime_part_set_filename(part, file.fileName.c_str());
    if (!file.contentId.empty())
        g_mime_part_set_content_id(part, file.contentId.c_str());
    return GMIME_OBJECT(part);
}

// A multipart of the subtype around first and the others; first alone when there are none.
GMimeObject* wrap(const char* subtype, GMimeObject* first, const std::vector<GMimeObject*>& others)
{
    if (others.empty())
        return first;
    GMimeMultipart* multipart = g_mime_multipart_new_with_subtype(subtype);
    g_mime_multipart_add(multipart, first);
    g_object_unref(first);
    for (GMimeObject* other : others) {
        g_mime_multipart_add(multipart, other);
        g_object_unref(other);
    }
    return GMIME_OBJECT(multipart);
}

GMimeObject* body(const Composition& message)
{
    GMimeObject* text = textPart("plain", message.text);
    if (!message.html.empty())
        text = wrap("alternative", text, {textPart("html", message.html)});
    std::vector<GMimeObject*> inlines, attachments;
    for (const Composition::File& file : message.files)
        (file.contentId.empty() ? attachments : inlines).push_back(filePart(file));
    return wrap("mixed", wrap("related", text, inlines), attachments);
}

void addMailboxes(GMimeMessage* message, GMimeAddressType type, const std::vector<Composition::Mailbox>& boxes)
{
    for (const Composition::Mailbox& box : boxes)
        g_mime_message_add_mailbox(message, type, box.name.c_str(), box.address.c_str());
}

bool given(const Composition& message, std::string_view name)
{
    for (const auto& [field, value] : message.headers)
        if (equalNoCase(field, name))
            return true;
    return false;
}

} // namespace

std::string compose(const Composition& composition)
{
    Detail::initialiseOnce();
    Ref<GMimeMessage> message(g_mime_message_new(TRUE));
    GMimeMessage* m = message.get();
    g_mime_message_add_mailbox(m, GMIME_ADDRESS_TYPE_FROM, composition.from.name.c_str(),
                               composition.from.address.c_str());
    addMailboxes(m, GMIME_ADDRESS_TYPE_TO, composition.to);
    addMailboxes(m, GMIME_ADDRESS_TYPE_CC, composition.cc);
    addMailboxes(m, GMIME_ADDRESS_TYPE_REPLY_TO, composition.replyTo);
    g_mime_message_set_subject(m, composition.subject.c_str(), Charset);
    GDateTime* now = g_date_time_new_now_local();
    g_mime_message_set_date(m, now);
    g_date_time_unref(now);
    if (!given(composition, "Message-ID")) {
        char* id = g_mime_utils_generate_message_id(MessageIdDomain);
        g_mime_message_set_message_id(m, id);
        g_free(id);
    }
    for (const auto& [name, value] : composition.headers)
        g_mime_object_append_header(GMIME_OBJECT(m), name.c_str(), value.c_str(), Charset);
    GMimeObject* root = body(composition);
    g_mime_message_set_mime_part(m, root);
    g_object_unref(root);

    GMimeFormatOptions* options = g_mime_format_options_clone(nullptr);
    g_mime_format_options_set_newline_format(options, GMIME_NEWLINE_FORMAT_DOS);
    char* written = g_mime_object_to_string(GMIME_OBJECT(m), options);
    g_mime_format_options_free(options);
    std::string result = written ? written : "";
    g_free(written);
    return result;
}

std::optional<std::string> addressOf(std::string_view text)
{
    Detail::initialiseOnce();
    const std::string value(text);
    if (value.empty() || value.find('\0') != std::string::npos)
        return std::nullopt;
    const Ref<InternetAddressList> list(internet_address_list_parse(nullptr, value.c_str()));
    if (!list.get() || internet_address_list_length(list.get()) != 1)
        return std::nullopt;
    InternetAddress* address = internet_address_list_get_address(list.get(), 0);
    if (!INTERNET_ADDRESS_IS_MAILBOX(address))
        return std::nullopt;
    std::string addr = Detail::text(internet_address_mailbox_get_addr(INTERNET_ADDRESS_MAILBOX(address)));
    const std::size_t at = addr.find('@');
    if (at == std::string::npos || at == 0 || at + 1 >= addr.size() || addr.find_first_of(" <>") != std::string::npos)
        return std::nullopt;
    return addr;
}

} // namespace Mime
