#include "MimeMessage.h"

#include <algorithm>
#include <cctype>
#include <climits>
#include <cerrno>
#include <iconv.h>

#include <gmime/gmime.h>

#include "Latin1Text.h"

namespace Mime {
namespace {

// Real mail nests a handful of levels. Beyond this the tree stops, so that a hostile message
// cannot make it too deep to be destroyed on an ordinary stack.
constexpr int MaxDepth = 1000;

constexpr std::string_view ReplacementCharacter = "\xEF\xBF\xBD";

void initialiseOnce()
{
    // g_mime_init is not thread-safe itself; a function-local static is.
    static const bool initialised = [] {
        g_mime_init();
        return true;
    }();
    (void)initialised;
}

// Owns one GObject reference.
template <typename T> class Ref {
public:
    explicit Ref(T* object = nullptr) : m_object(object) { }
    Ref(const Ref&) = delete;
    Ref& operator=(const Ref&) = delete;
    ~Ref()
    {
        if (m_object)
            g_object_unref(m_object);
    }
    T* get() const { return m_object; }

private:
    T* m_object;
};

std::string guessToUtf8(std::string_view bytes);

// GMime passes 8-bit bytes in header fields through undecoded; our strings are all UTF-8.
std::string text(const char* value)
{
    return value ? guessToUtf8(value) : std::string();
}

std::string lowerCase(std::string value)
{
    std::transform(value.begin(), value.end(), value.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return value;
}

std::string trimmed(std::string_view value)
{
    constexpr std::string_view Space = " \t\r\n\f\v";
    const auto first = value.find_first_not_of(Space);
    if (first == std::string_view::npos)
        return {};
    return std::string(value.substr(first, value.find_last_not_of(Space) - first + 1));
}

// A read-only stream over the caller's bytes. GMimeStreamMem reads only the array's data and
// length and, not owning it, never frees or grows it; so a 20 MiB message is not copied to be
// parsed, and with a persistent stream its parts are not copied either.
class RawStream {
public:
    explicit RawStream(std::string_view raw) : m_stream(g_mime_stream_mem_new())
    {
        m_view.data = reinterpret_cast<guint8*>(const_cast<char*>(raw.data()));
        m_view.len = static_cast<guint>(std::min<std::size_t>(raw.size(), UINT_MAX));
        g_mime_stream_mem_set_byte_array(GMIME_STREAM_MEM(m_stream.get()), &m_view);
        g_mime_stream_mem_set_owner(GMIME_STREAM_MEM(m_stream.get()), FALSE);
    }
    GMimeStream* get() const { return m_stream.get(); }

private:
    GByteArray m_view{};
    Ref<GMimeStream> m_stream;
};

Ref<GMimeMessage> parseMessage(GMimeStream* stream)
{
    Ref<GMimeParser> parser(g_mime_parser_new_with_stream(stream));
    g_mime_parser_set_format(parser.get(), GMIME_FORMAT_MESSAGE);
    g_mime_parser_set_persist_stream(parser.get(), TRUE);
    return Ref<GMimeMessage>(g_mime_parser_construct_message(parser.get(), nullptr));
}

// NUL bytes count as valid: they are text a sender put there, not the end of it.
bool isValidUtf8(std::string_view bytes)
{
    const gchar* end = nullptr;
    while (!g_utf8_validate(bytes.data(), static_cast<gssize>(bytes.size()), &end)) {
        const auto at = static_cast<std::size_t>(end - bytes.data());
        if (at >= bytes.size() || bytes[at] != '\0')
            return false;
        bytes.remove_prefix(at + 1);
    }
    return true;
}

// Undecodable bytes become U+FFFD; the rest is kept.
std::string convert(iconv_t converter, std::string_view bytes)
{
    std::string out;
    out.reserve(bytes.size() + bytes.size() / 2);
    char* in = const_cast<char*>(bytes.data());
    std::size_t inLeft = bytes.size();
    char buffer[16384];
    while (inLeft > 0) {
        char* outPointer = buffer;
        std::size_t outLeft = sizeof buffer;
        const std::size_t result = iconv(converter, &in, &inLeft, &outPointer, &outLeft);
        out.append(buffer, static_cast<std::size_t>(outPointer - buffer));
        if (result == static_cast<std::size_t>(-1) && errno != E2BIG) {
            // An invalid or truncated sequence: skip one byte and go on.
            out += ReplacementCharacter;
            ++in;
            --inLeft;
        }
    }
    char* outPointer = buffer;
    std::size_t outLeft = sizeof buffer;
    iconv(converter, nullptr, nullptr, &outPointer, &outLeft);
    out.append(buffer, static_cast<std::size_t>(outPointer - buffer));
    return out;
}

// Mail that is valid UTF-8 stays as it is; anything else is read as Windows-1252, the charset
// most undeclared 8-bit mail is written in.
std::string guessToUtf8(std::string_view bytes)
{
    if (isValidUtf8(bytes))
        return std::string(bytes);
    iconv_t converter = g_mime_iconv_open("UTF-8", "WINDOWS-1252");
    if (converter == reinterpret_cast<iconv_t>(-1))
        converter = g_mime_iconv_open("UTF-8", "ISO-8859-1");
    std::string out = convert(converter, bytes);
    g_mime_iconv_close(converter);
    return out;
}

std::string toUtf8(std::string_view bytes, const std::string& charset)
{
    const std::string name = lowerCase(trimmed(charset));
    // "x-unknown" and "unknown-8bit" say the sender did not know; iconv takes the first for a
    // charset of its own that turns every 8-bit byte into U+FFFD.
    if (name.empty() || name == "us-ascii" || name == "utf-8" || name == "utf8" || name == "x-unknown"
        || name.starts_with("unknown"))
        return guessToUtf8(bytes);
    iconv_t converter = g_mime_iconv_open("UTF-8", g_mime_charset_iconv_name(name.c_str()));
    if (converter == reinterpret_cast<iconv_t>(-1))
        return guessToUtf8(bytes); // a charset nobody knows: show the text as best we can
    std::string out = convert(converter, bytes);
    g_mime_iconv_close(converter);
    // iconv reads some malformed names as charsets that let bad bytes through.
    return isValidUtf8(out) ? out : guessToUtf8(bytes);
}

// Writes what a part holds after transfer decoding; an attached message as received, CR LF.
void writeDecoded(GMimeObject* object, GMimeStream* sink)
{
    if (GMIME_IS_PART(object)) {
        if (GMimeDataWrapper* content = g_mime_part_get_content(GMIME_PART(object)))
            g_mime_data_wrapper_write_to_stream(content, sink);
    } else if (GMIME_IS_MESSAGE_PART(object)) {
        if (GMimeMessage* message = g_mime_message_part_get_message(GMIME_MESSAGE_PART(object))) {
            GMimeFormatOptions* options = g_mime_format_options_new();
            g_mime_format_options_set_newline_format(options, GMIME_NEWLINE_FORMAT_DOS);
            g_mime_object_write_to_stream(GMIME_OBJECT(message), options, sink);
            g_mime_format_options_free(options);
        }
    }
}

// Counts decoded bytes without keeping them.
std::size_t decodedSize(GMimeObject* object)
{
    Ref<GMimeStream> sink(g_mime_stream_null_new());
    writeDecoded(object, sink.get());
    return GMIME_STREAM_NULL(sink.get())->written;
}

std::string decodedContent(GMimeObject* object)
{
    // Decoded content is never longer than encoded: room for that spares the copies of growing.
    gint64 encoded = 0;
    if (GMIME_IS_PART(object))
        if (GMimeDataWrapper* content = g_mime_part_get_content(GMIME_PART(object)))
            encoded = g_mime_stream_length(g_mime_data_wrapper_get_stream(content));
    Ref<GMimeStream> sink(g_mime_stream_mem_new_with_byte_array(
        g_byte_array_sized_new(static_cast<guint>(std::clamp<gint64>(encoded, 0, UINT_MAX)))));
    writeDecoded(object, sink.get());
    const GByteArray* bytes = g_mime_stream_mem_get_byte_array(GMIME_STREAM_MEM(sink.get()));
    return std::string(reinterpret_cast<const char*>(bytes->data), bytes->len);
}

std::string childId(const std::string& parentId, int index)
{
    const std::string number = std::to_string(index + 1);
    return parentId.empty() ? number : parentId + "." + number;
}

// Calls visit(object, partId, depth) for every entity below the message, numbered as IMAP
// numbers body sections: a multipart that is a message's body has no number of its own, a
// single body is "1".
template <typename Visit> void walk(GMimeObject* root, const Visit& visit)
{
    // An explicit stack rather than recursion: the depth is the sender's to choose.
    struct Pending {
        GMimeObject* object;
        std::string partId;
        int depth;
    };
    std::vector<Pending> pending{{root, "", 0}};
    while (!pending.empty()) {
        Pending entry = std::move(pending.back());
        pending.pop_back();
        if (!entry.object || entry.depth > MaxDepth || !visit(entry.object, entry.partId, entry.depth))
            continue;
        if (GMIME_IS_MULTIPART(entry.object)) {
            GMimeMultipart* multipart = GMIME_MULTIPART(entry.object);
            for (int i = g_mime_multipart_get_count(multipart) - 1; i >= 0; --i)
                pending.push_back({g_mime_multipart_get_part(multipart, i), childId(entry.partId, i), entry.depth + 1});
        } else if (GMIME_IS_MESSAGE_PART(entry.object)) {
            GMimeMessage* message = g_mime_message_part_get_message(GMIME_MESSAGE_PART(entry.object));
            GMimeObject* body = message ? g_mime_message_get_mime_part(message) : nullptr;
            if (body)
                pending.push_back(
                    {body, GMIME_IS_MULTIPART(body) ? entry.partId : childId(entry.partId, 0), entry.depth + 1});
        }
    }
}

void appendAddresses(InternetAddressList* list, std::vector<Address>& out, int depth = 0)
{
    if (!list || depth > 1)
        return;
    const int count = internet_address_list_length(list);
    for (int i = 0; i < count; ++i) {
        InternetAddress* address = internet_address_list_get_address(list, i);
        if (INTERNET_ADDRESS_IS_MAILBOX(address))
            out.push_back({text(internet_address_get_name(address)),
                           text(internet_address_mailbox_get_addr(INTERNET_ADDRESS_MAILBOX(address)))});
        else if (INTERNET_ADDRESS_IS_GROUP(address))
            appendAddresses(internet_address_group_get_members(INTERNET_ADDRESS_GROUP(address)), out, depth + 1);
    }
}

// An attached message is measured by writing it out; one inside another attached message is
// not, or a deep chain of them would be written out once per level.
Part describe(GMimeObject* object, const std::string& partId, bool measureMessage)
{
    Part part;
    part.partId = partId;
    if (GMimeContentType* type = g_mime_object_get_content_type(object))
        part.contentType = lowerCase(text(g_mime_content_type_get_media_type(type)) + "/"
                                     + text(g_mime_content_type_get_media_subtype(type)));
    part.charset = text(g_mime_object_get_content_type_parameter(object, "charset"));
    part.transferEncoding = lowerCase(trimmed(text(g_mime_object_get_header(object, "Content-Transfer-Encoding"))));
    if (GMIME_IS_PART(object))
        part.fileName = text(g_mime_part_get_filename(GMIME_PART(object)));
    else if (const char* name = g_mime_object_get_content_disposition_parameter(object, "filename"))
        part.fileName = text(name);
    else
        part.fileName = text(g_mime_object_get_content_type_parameter(object, "name"));
    part.contentId = text(g_mime_object_get_content_id(object));
    // An unknown disposition is to be treated as an attachment.
    const std::string disposition = lowerCase(trimmed(text(g_mime_object_get_disposition(object))));
    part.disposition = disposition.empty() || disposition == "inline" ? disposition : "attachment";
    if (GMIME_IS_PART(object) || (measureMessage && GMIME_IS_MESSAGE_PART(object)))
        part.size = decodedSize(object);
    return part;
}

// A leaf as the flat lists see it: inside a message/rfc822 part nothing is listed on its own.
struct Leaf {
    GMimeObject* object;
    Part part;
    bool inRelated;
};

bool isBodyCandidate(const Part& part, std::string_view type)
{
    return part.contentType == type && part.disposition != "attachment";
}

bool referencedFromHtml(const std::string& html, const std::string& contentId)
{
    if (contentId.empty())
        return false;
    // Content-IDs are compared without regard to case, as mail programs do.
    return FindNoCase(html, "cid:" + contentId) != std::string_view::npos;
}

// Builds the tree below object and collects the leaves the flat lists are made from.
void build(GMimeObject* object, Part& into, std::vector<Leaf>& leaves)
{
    // A parent is always visited before its children, so the open nodes form a path indexed by
    // depth.
    struct Open {
        Part* node;
        bool related; // inside a multipart/related
        bool listed;  // not inside an attached message: its leaves go to the flat lists
        bool isMessage;
    };
    std::vector<Open> path;
    walk(object, [&](GMimeObject* entity, const std::string& partId, int depth) {
        path.resize(static_cast<std::size_t>(depth));
        const bool listed = path.empty() || (path.back().listed && !path.back().isMessage);
        Part* node = &into;
        if (path.empty())
            into = describe(entity, partId, listed);
        else {
            path.back().node->children.push_back(describe(entity, partId, listed));
            node = &path.back().node->children.back();
        }
        const bool isMultipart = GMIME_IS_MULTIPART(entity);
        const bool isMessage = GMIME_IS_MESSAGE_PART(entity);
        // A multipart that is a message's body has no number of its own.
        if (isMultipart && (path.empty() || path.back().isMessage))
            node->partId.clear();
        const bool related = !path.empty() && path.back().related;
        if (listed && !isMultipart)
            leaves.push_back({entity, *node, related});
        path.push_back({node, node->contentType == "multipart/related" || (related && isMultipart), listed, isMessage});
        return isMultipart || isMessage;
    });
}

// GMime compares every line that starts with "--" against every boundary still open, so deep
// nesting with many such lines costs their product. Real mail stays far below this; beyond it
// only the header is parsed and the body shown as it is.
constexpr std::size_t MaxBoundaryComparisons = 50'000'000;

std::size_t countIgnoringCase(std::string_view haystack, std::string_view needle)
{
    std::size_t count = 0;
    for (std::size_t at = FindNoCase(haystack, needle); at != std::string_view::npos;
         at = FindNoCase(haystack, needle, at + 1))
        ++count;
    return count;
}

// Where the body starts when the message is too costly to take apart; npos when it is not.
std::size_t hostileBodyStart(std::string_view raw)
{
    std::size_t dashLines = raw.starts_with("--") ? 1 : 0;
    for (std::size_t at = raw.find("\n--"); at != std::string_view::npos; at = raw.find("\n--", at + 3))
        ++dashLines;
    // Each level of nesting needs a line of its own to be entered: depth <= dashLines.
    if (dashLines * dashLines <= MaxBoundaryComparisons
        || dashLines * countIgnoringCase(raw, "boundary") <= MaxBoundaryComparisons)
        return std::string_view::npos;
    const std::size_t blankLine = raw.find("\n\r\n") != std::string_view::npos ? raw.find("\n\r\n") + 3
        : raw.find("\n\n") != std::string_view::npos                           ? raw.find("\n\n") + 2
                                                                               : raw.size();
    return blankLine;
}

GMimeObject* findPart(GMimeMessage* message, std::string_view partId)
{
    GMimeObject* found = nullptr;
    GMimeObject* body = g_mime_message_get_mime_part(message);
    if (body && !GMIME_IS_MULTIPART(body) && partId == "1")
        return body;
    walk(body, [&](GMimeObject* entity, const std::string& id, int) {
        if (!found && id == partId && !GMIME_IS_MULTIPART(entity))
            found = entity;
        return !found;
    });
    return found;
}

} // namespace

Message parse(std::string_view raw)
{
    initialiseOnce();
    Message result;
    const std::size_t hostileBody = hostileBodyStart(raw);
    if (hostileBody != std::string_view::npos) {
        result = parse(raw.substr(0, hostileBody));
        result.text = guessToUtf8(raw.substr(hostileBody));
        return result;
    }
    RawStream stream(raw);
    Ref<GMimeMessage> message = parseMessage(stream.get());
    if (!message.get()) {
        result.text = guessToUtf8(raw);
        return result;
    }
    GMimeObject* object = GMIME_OBJECT(message.get());

    // GMime keeps the Content-* fields of the top part with that part, not with the message: both
    // lists together, in the order they were written, are the header as the sender wrote it.
    std::vector<std::pair<gint64, GMimeHeader*>> fields;
    for (GMimeObject* holder : {object, g_mime_message_get_mime_part(message.get())}) {
        if (!holder
            || (holder != object && g_mime_object_get_header_list(holder) == g_mime_object_get_header_list(object)))
            continue;
        GMimeHeaderList* headers = g_mime_object_get_header_list(holder);
        const int count = g_mime_header_list_get_count(headers);
        for (int i = 0; i < count; ++i) {
            GMimeHeader* header = g_mime_header_list_get_header_at(headers, i);
            const bool contentField = std::string_view(g_mime_header_get_name(header)).size() > 8
                && EqualNoCase(std::string_view(g_mime_header_get_name(header)).substr(0, 8), "Content-");
            if (holder == object || contentField)
                fields.emplace_back(g_mime_header_get_offset(header), header);
        }
    }
    std::stable_sort(fields.begin(), fields.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
    result.headers.reserve(fields.size());
    for (const auto& [offset, header] : fields)
        result.headers.push_back(
            {text(g_mime_header_get_name(header)), trimmed(text(g_mime_header_get_value(header)))});
    appendAddresses(g_mime_message_get_from(message.get()), result.from);
    appendAddresses(g_mime_message_get_to(message.get()), result.to);
    appendAddresses(g_mime_message_get_cc(message.get()), result.cc);
    appendAddresses(g_mime_message_get_bcc(message.get()), result.bcc);
    appendAddresses(g_mime_message_get_reply_to(message.get()), result.replyTo);
    result.subject = text(g_mime_message_get_subject(message.get()));
    result.date = trimmed(text(g_mime_object_get_header(object, "Date")));
    result.messageId = text(g_mime_message_get_message_id(message.get()));

    std::vector<Leaf> leaves;
    build(g_mime_message_get_mime_part(message.get()), result.root, leaves);

    // The body is the first text and HTML that are not attachments, outside attached messages.
    const Leaf* textLeaf = nullptr;
    const Leaf* htmlLeaf = nullptr;
    for (const Leaf& leaf : leaves) {
        if (!textLeaf && isBodyCandidate(leaf.part, "text/plain"))
            textLeaf = &leaf;
        else if (!htmlLeaf && isBodyCandidate(leaf.part, "text/html"))
            htmlLeaf = &leaf;
    }
    if (textLeaf)
        result.text = toUtf8(decodedContent(textLeaf->object), textLeaf->part.charset);
    if (htmlLeaf)
        result.html = toUtf8(decodedContent(htmlLeaf->object), htmlLeaf->part.charset);
    GMimeObject* body = g_mime_message_get_mime_part(message.get());
    if (leaves.empty() && body && GMIME_IS_MULTIPART(body)) {
        // A multipart whose boundary never comes: what it holds is all in its prologue.
        GMimeMultipart* multipart = GMIME_MULTIPART(body);
        result.text = text(g_mime_multipart_get_prologue(multipart)) + text(g_mime_multipart_get_epilogue(multipart));
    }

    for (Leaf& leaf : leaves) {
        if (&leaf == textLeaf || &leaf == htmlLeaf)
            continue;
        leaf.part.children.clear();
        const bool isText = leaf.part.contentType.rfind("text/", 0) == 0;
        const bool inlineInRelated = leaf.inRelated && !isText && leaf.part.disposition != "attachment";
        if (inlineInRelated || referencedFromHtml(result.html, leaf.part.contentId))
            result.inlineParts.push_back(std::move(leaf.part));
        else
            result.attachments.push_back(std::move(leaf.part));
    }
    return result;
}

std::optional<std::string> partContent(std::string_view raw, std::string_view partId)
{
    initialiseOnce();
    if (hostileBodyStart(raw) != std::string_view::npos)
        return std::nullopt;
    RawStream stream(raw);
    Ref<GMimeMessage> message = parseMessage(stream.get());
    if (!message.get())
        return std::nullopt;
    GMimeObject* part = findPart(message.get(), partId);
    if (!part)
        return std::nullopt;
    return decodedContent(part);
}

std::vector<std::string> headerValues(const Message& message, std::string_view name)
{
    std::vector<std::string> values;
    for (const Header& header : message.headers)
        if (EqualNoCase(header.name, name))
            values.push_back(header.value);
    return values;
}

} // namespace Mime
