#include "GMimeParse.h"

#include <algorithm>
#include <atomic>
#include <cctype>
#include <climits>

#include "Latin1Text.h"
#include "MimeCharset.h"

namespace Mime::Detail {
namespace {

// GMime compares every line that starts with "--" against every boundary still open, so deep
// nesting with many such lines costs their product. Real mail stays far below this; beyond it
// only the header is parsed and the body shown as it is.
constexpr std::size_t MaxBoundaryComparisons = 50'000'000;

std::atomic<std::size_t> parses{0};

std::size_t countIgnoringCase(std::string_view haystack, std::string_view needle)
{
    std::size_t count = 0;
    for (std::size_t at = findNoCase(haystack, needle); at != std::string_view::npos;
         at = findNoCase(haystack, needle, at + 1))
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

Ref<GMimeMessage> parseMessage(GMimeStream* stream)
{
    Ref<GMimeParser> parser(g_mime_parser_new_with_stream(stream));
    g_mime_parser_set_format(parser.get(), GMIME_FORMAT_MESSAGE);
    g_mime_parser_set_persist_stream(parser.get(), TRUE);
    return Ref<GMimeMessage>(g_mime_parser_construct_message(parser.get(), nullptr));
}

// Scans what is to be parsed; a body of too many parts is left out, from the end of the header.
Structure scan(std::string_view raw, std::size_t& bodyLeftOut)
{
    if (bodyLeftOut != std::string_view::npos)
        return scanStructure(raw.substr(0, bodyLeftOut));
    Structure structure = scanStructure(raw);
    if (structure.parts > MaxParts) {
        bodyLeftOut = structure.headerEnd;
        std::erase_if(structure.leftOut, [&](const ByteRange& range) { return range.begin >= bodyLeftOut; });
    }
    return structure;
}

} // namespace

void initialiseOnce()
{
    // g_mime_init is not thread-safe itself; a function-local static is.
    static const bool initialised = [] {
        g_mime_init();
        return true;
    }();
    (void)initialised;
}

RawStream::RawStream(std::string_view raw, const std::vector<ByteRange>& leftOut)
    : m_stream((initialiseOnce(), g_mime_stream_mem_new()))
{
    m_view.data = reinterpret_cast<guint8*>(const_cast<char*>(raw.data()));
    m_view.len = static_cast<guint>(std::min<std::size_t>(raw.size(), UINT_MAX));
    g_mime_stream_mem_set_byte_array(GMIME_STREAM_MEM(m_stream.get()), &m_view);
    g_mime_stream_mem_set_owner(GMIME_STREAM_MEM(m_stream.get()), FALSE);
    if (leftOut.empty())
        return;
    m_chain.reset(g_mime_stream_cat_new());
    std::size_t from = 0;
    const auto add = [&](std::size_t end) {
        end = std::min<std::size_t>(end, m_view.len);
        if (end > from) {
            Ref<GMimeStream> piece(g_mime_stream_substream(m_stream.get(), gint64(from), gint64(end)));
            g_mime_stream_cat_add_source(GMIME_STREAM_CAT(m_chain.get()), piece.get());
        }
    };
    for (const ByteRange& range : leftOut) {
        add(range.begin);
        from = std::max(from, range.end);
    }
    add(m_view.len);
}

ParsedMessage::ParsedMessage(std::string_view bytes, bool counted)
    : raw(bytes), bodyLeftOut(hostileBodyStart(bytes)), structure(scan(bytes, bodyLeftOut)),
      stream(bytes.substr(0, bodyLeftOut), structure.leftOut), message(parseMessage(stream.get()))
{
    if (counted)
        ++parses;
}

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

PartIndex::PartIndex(const ParsedMessage& parsed)
{
    // A body left out of the parse has no parts to give.
    if (!parsed.message.get() || parsed.bodyLeftOut != std::string_view::npos)
        return;
    GMimeObject* body = g_mime_message_get_mime_part(parsed.message.get());
    // A single body is also part "1", as IMAP numbers it; the first leaf of an id wins.
    if (body && !GMIME_IS_MULTIPART(body))
        m_leaves.emplace("1", body);
    walk(body, [&](GMimeObject* entity, const std::string& partId, int) {
        if (!GMIME_IS_MULTIPART(entity))
            m_leaves.emplace(partId, entity);
        return true;
    });
}

std::optional<std::string> PartIndex::content(std::string_view partId) const
{
    const auto found = m_leaves.find(partId);
    if (found == m_leaves.end())
        return std::nullopt;
    return decodedContent(found->second);
}

} // namespace Mime::Detail

std::size_t Mime::parseCount()
{
    return Detail::parses.load();
}
