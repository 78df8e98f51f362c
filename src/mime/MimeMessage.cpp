#include "MimeMessage.h"

#include <algorithm>
#include <unordered_set>

#include "GMimeParse.h"
#include "Latin1Text.h"
#include "MimeCharset.h"

namespace Mime {
namespace {

using Detail::lowerCase;
using Detail::text;
using Detail::trimmed;

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
        part.size = Detail::decodedSize(object);
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

// The Content-IDs the HTML refers to ("cid:ID" up to a quote, bracket or blank), lower case:
// mail programs compare them without regard to case. One pass over the HTML, however many parts.
std::unordered_set<std::string> contentIdsReferenced(std::string_view html)
{
    constexpr std::string_view Scheme = "cid:";
    constexpr std::string_view End = "\"'<>()[] \t\r\n\f";
    std::unordered_set<std::string> ids;
    for (std::size_t at = findNoCase(html, Scheme); at != std::string_view::npos; at = findNoCase(html, Scheme, at)) {
        at += Scheme.size();
        const std::size_t end = std::min(html.find_first_of(End, at), html.size());
        ids.insert(lowerCase(std::string(html.substr(at, end - at))));
        at = end;
    }
    return ids;
}

// The nodes open while the tree is built. A parent is always visited before its children, so
// they form a path indexed by depth.
struct OpenNode {
    Part* node;
    bool related; // inside a multipart/related
    bool listed;  // not inside an attached message: its leaves go to the flat lists
    bool isMessage;
};

// Adds one entity below the path's last node (or as the root) and returns its node.
Part* addNode(GMimeObject* entity, const std::string& partId, const std::vector<OpenNode>& path, Part& root,
              bool listed)
{
    if (path.empty()) {
        root = describe(entity, partId, listed);
        return &root;
    }
    path.back().node->children.push_back(describe(entity, partId, listed));
    return &path.back().node->children.back();
}

// Builds the tree below object and collects the leaves the flat lists are made from.
void build(GMimeObject* object, Part& into, std::vector<Leaf>& leaves)
{
    std::vector<OpenNode> path;
    Detail::walk(object, [&](GMimeObject* entity, const std::string& partId, int depth) {
        path.resize(static_cast<std::size_t>(depth));
        const bool listed = path.empty() || (path.back().listed && !path.back().isMessage);
        Part* node = addNode(entity, partId, path, into, listed);
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

// GMime keeps the Content-* fields of the top part with that part, not with the message: both
// lists together, in the order they were written, are the header as the sender wrote it.
void readHeaderFields(GMimeMessage* message, Message& result)
{
    GMimeObject* object = GMIME_OBJECT(message);
    std::vector<std::pair<gint64, GMimeHeader*>> fields;
    for (GMimeObject* holder : {object, g_mime_message_get_mime_part(message)}) {
        if (!holder
            || (holder != object && g_mime_object_get_header_list(holder) == g_mime_object_get_header_list(object)))
            continue;
        GMimeHeaderList* headers = g_mime_object_get_header_list(holder);
        const int count = g_mime_header_list_get_count(headers);
        for (int i = 0; i < count; ++i) {
            GMimeHeader* header = g_mime_header_list_get_header_at(headers, i);
            const bool contentField = std::string_view(g_mime_header_get_name(header)).size() > 8
                && equalNoCase(std::string_view(g_mime_header_get_name(header)).substr(0, 8), "Content-");
            if (holder == object || contentField)
                fields.emplace_back(g_mime_header_get_offset(header), header);
        }
    }
    std::stable_sort(fields.begin(), fields.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
    result.headers.reserve(fields.size());
    for (const auto& [offset, header] : fields)
        result.headers.push_back(
            {text(g_mime_header_get_name(header)), trimmed(text(g_mime_header_get_value(header)))});
}

// The header: its fields, addresses, subject, date and id.
void readHeader(GMimeMessage* message, Message& result)
{
    readHeaderFields(message, result);
    appendAddresses(g_mime_message_get_from(message), result.from);
    appendAddresses(g_mime_message_get_to(message), result.to);
    appendAddresses(g_mime_message_get_cc(message), result.cc);
    appendAddresses(g_mime_message_get_bcc(message), result.bcc);
    appendAddresses(g_mime_message_get_reply_to(message), result.replyTo);
    result.subject = text(g_mime_message_get_subject(message));
    result.date = trimmed(text(g_mime_object_get_header(GMIME_OBJECT(message), "Date")));
    if (GDateTime* date = g_mime_message_get_date(message))
        result.sentAt = DateTime{g_date_time_to_unix(date), int(g_date_time_get_utc_offset(date) / G_TIME_SPAN_MINUTE)};
    result.messageId = text(g_mime_message_get_message_id(message));
}

// The body is the first text and HTML that are not attachments, outside attached messages.
std::pair<const Leaf*, const Leaf*> chooseBody(GMimeObject* body, const std::vector<Leaf>& leaves, Message& result)
{
    const Leaf* textLeaf = nullptr;
    const Leaf* htmlLeaf = nullptr;
    for (const Leaf& leaf : leaves) {
        if (!textLeaf && isBodyCandidate(leaf.part, "text/plain"))
            textLeaf = &leaf;
        else if (!htmlLeaf && isBodyCandidate(leaf.part, "text/html"))
            htmlLeaf = &leaf;
    }
    if (textLeaf)
        result.text = toUtf8(Detail::decodedContent(textLeaf->object), textLeaf->part.charset);
    if (htmlLeaf)
        result.html = toUtf8(Detail::decodedContent(htmlLeaf->object), htmlLeaf->part.charset);
    if (leaves.empty() && body && GMIME_IS_MULTIPART(body)) {
        // A multipart whose boundary never comes: what it holds is all in its prologue.
        GMimeMultipart* multipart = GMIME_MULTIPART(body);
        result.text = text(g_mime_multipart_get_prologue(multipart)) + text(g_mime_multipart_get_epilogue(multipart));
    }
    return {textLeaf, htmlLeaf};
}

// Every leaf but the body is an inline part (a picture of the HTML) or an attachment.
void sortLeaves(std::vector<Leaf>& leaves, std::pair<const Leaf*, const Leaf*> body, Message& result)
{
    const std::unordered_set<std::string> referenced = contentIdsReferenced(result.html);
    for (Leaf& leaf : leaves) {
        if (&leaf == body.first || &leaf == body.second)
            continue;
        leaf.part.children.clear();
        const bool isText = leaf.part.contentType.starts_with("text/");
        const bool inlineInRelated = leaf.inRelated && !isText && leaf.part.disposition != "attachment";
        if (inlineInRelated || (!leaf.part.contentId.empty() && referenced.contains(lowerCase(leaf.part.contentId))))
            result.inlineParts.push_back(std::move(leaf.part));
        else
            result.attachments.push_back(std::move(leaf.part));
    }
}

// The structure, the text and HTML the reader sees, and the parts beside them.
void readBody(GMimeObject* body, Message& result)
{
    std::vector<Leaf> leaves;
    build(body, result.root, leaves);
    const auto bodyLeaves = chooseBody(body, leaves, result);
    sortLeaves(leaves, bodyLeaves, result);
}

} // namespace

namespace Detail {

Message read(const ParsedMessage& parsed)
{
    Message result;
    GMimeMessage* message = parsed.message.get();
    if (message) {
        readHeader(message, result);
        result.addressesLeftOut = parsed.structure.addressesLeftOut;
        readBody(g_mime_message_get_mime_part(message), result);
    }
    // What could not be taken apart is shown as text.
    if (parsed.bodyLeftOut != std::string_view::npos)
        result.text = guessToUtf8(parsed.raw.substr(parsed.bodyLeftOut));
    else if (!message)
        result.text = guessToUtf8(parsed.raw);
    return result;
}

} // namespace Detail

Message parse(std::string_view raw)
{
    return Detail::read(Detail::ParsedMessage(raw));
}

std::string_view headerOf(std::string_view raw)
{
    raw = raw.substr(0, MaxHeaderBytes);
    for (std::string_view end : {"\r\n\r\n", "\n\n"})
        if (const std::size_t at = raw.find(end); at != std::string_view::npos)
            return raw.substr(0, at + end.size());
    return raw;
}

Message parseHeader(std::string_view raw)
{
    const Detail::ParsedMessage parsed(headerOf(raw), false);
    Message result;
    if (GMimeMessage* message = parsed.message.get()) {
        readHeader(message, result);
        result.addressesLeftOut = parsed.structure.addressesLeftOut;
        if (GMimeObject* body = g_mime_message_get_mime_part(message))
            if (GMimeContentType* type = g_mime_object_get_content_type(body))
                result.root.contentType = Detail::lowerCase(text(g_mime_content_type_get_media_type(type)) + "/"
                                                            + text(g_mime_content_type_get_media_subtype(type)));
    }
    return result;
}

std::optional<std::string> partContent(std::string_view raw, std::string_view partId)
{
    const Detail::ParsedMessage parsed(raw);
    return Detail::PartIndex(parsed).content(partId);
}

std::vector<std::string> headerValues(const Message& message, std::string_view name)
{
    std::vector<std::string> values;
    for (const Header& header : message.headers)
        if (equalNoCase(header.name, name))
            values.push_back(header.value);
    return values;
}

} // namespace Mime
