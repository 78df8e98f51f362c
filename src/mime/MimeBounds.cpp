#include "MimeBounds.h"

#include <algorithm>
#include <array>
#include <map>
#include <unordered_set>
#include <utility>

#include "Latin1Text.h"

namespace Mime::Detail {
namespace {

constexpr std::size_t npos = std::string_view::npos;
// Distinct boundary lengths looked up per line; beyond them every "--" line counts as a part.
constexpr std::size_t MaxBoundaryLengths = 64;

enum Kind { NoAddress, FromKind, SenderKind, ReplyToKind, ToKind, CcKind, BccKind, KindCount };

std::string_view trimmedView(std::string_view text)
{
    constexpr std::string_view Space = " \t\r\n";
    const std::size_t first = text.find_first_not_of(Space);
    return first == npos ? std::string_view() : text.substr(first, text.find_last_not_of(Space) - first + 1);
}

Kind kindOf(std::string_view name)
{
    static constexpr std::array<std::pair<std::string_view, Kind>, 6> Names{{{"from", FromKind},
                                                                             {"sender", SenderKind},
                                                                             {"reply-to", ReplyToKind},
                                                                             {"to", ToKind},
                                                                             {"cc", CcKind},
                                                                             {"bcc", BccKind}}};
    name = trimmedView(name);
    for (const auto& [known, kind] : Names)
        if (equalNoCase(name, known))
            return kind;
    return NoAddress;
}

struct Line {
    std::size_t begin, end, next; // end before the line ending
};

Line lineAt(std::string_view raw, std::size_t at)
{
    const std::size_t feed = raw.find('\n', at);
    if (feed == npos)
        return {at, raw.size(), raw.size()};
    return {at, feed > at && raw[feed - 1] == '\r' ? feed - 1 : feed, feed + 1};
}

// A header field: its first line and the lines that continue it.
struct Field {
    std::size_t begin, colon, end, next; // end before the last line ending; colon npos when none
};

Field fieldAt(std::string_view raw, std::size_t at)
{
    Line line = lineAt(raw, at);
    const std::size_t colon = raw.substr(at, line.end - at).find(':');
    Field field{at, colon == npos ? npos : at + colon, line.end, line.next};
    while (field.next < raw.size() && (raw[field.next] == ' ' || raw[field.next] == '\t')) {
        line = lineAt(raw, field.next);
        field.end = line.end;
        field.next = line.next;
    }
    return field;
}

// Reads an address list a character at a time: where its elements end (commas outside quotes,
// comments and angle brackets) and whether an element holds anything.
class ListReader {
public:
    // Whether c ends an element.
    bool endsElement(char c)
    {
        if (m_escaped || (c == '\\' && (m_quoted || m_comments > 0)))
            m_escaped = !m_escaped;
        else if (m_quoted)
            m_quoted = c != '"';
        else if (m_comments > 0)
            m_comments += c == '(' ? 1 : c == ')' ? -1 : 0;
        else if (c == '(')
            ++m_comments;
        else if (c == ',' && !m_angle)
            return true;
        else if (c != ' ' && c != '\t' && c != '\r' && c != '\n')
            see(c);
        return false;
    }
    // Whether the element read since the last end holds anything; starts the next.
    bool takeContent() { return std::exchange(m_content, false); }

private:
    void see(char c)
    {
        m_content = true;
        m_quoted = c == '"';
        m_angle = c == '<' || (m_angle && c != '>');
    }

    bool m_quoted = false, m_escaped = false, m_angle = false, m_content = false;
    int m_comments = 0;
};

// An address list's elements, and where the list is cut (npos: nowhere) after `kept` of them:
// after `keep` elements, or at the last comma within MaxAddressFieldBytes.
struct ListScan {
    std::size_t elements = 0;
    std::size_t cut = npos;
    std::size_t kept = 0;
};

ListScan scanList(std::string_view value, std::size_t keep)
{
    ListReader reader;
    ListScan scan;
    std::size_t lastComma = npos, keptAtLastComma = 0;
    for (std::size_t i = 0; i < value.size(); ++i) {
        if (!reader.endsElement(value[i]))
            continue;
        scan.elements += reader.takeContent() ? 1u : 0u;
        if (scan.cut != npos || i > MaxAddressFieldBytes)
            continue;
        lastComma = i;
        keptAtLastComma = scan.elements;
        if (keep > 0 && scan.elements >= keep) {
            scan.cut = i;
            scan.kept = scan.elements;
        }
    }
    scan.elements += reader.takeContent() ? 1u : 0u;
    if (scan.cut != npos)
        return scan;
    if (keep == 0)
        return {scan.elements, 0, 0};
    if (value.size() > MaxAddressFieldBytes)
        return {scan.elements, lastComma != npos ? lastComma : MaxAddressFieldBytes,
                lastComma != npos ? keptAtLastComma : 0};
    scan.kept = scan.elements;
    return scan;
}

// The boundaries the message's Content-Type fields declare so far, by length.
class Boundaries {
public:
    void declare(std::string_view name, std::string_view value)
    {
        if (!equalNoCase(trimmedView(name), "content-type"))
            return;
        constexpr std::string_view Parameter = "boundary";
        for (std::size_t at = findNoCase(value, Parameter); at != npos; at = findNoCase(value, Parameter, at + 1)) {
            std::size_t start = value.find_first_not_of(" \t", at + Parameter.size());
            if (start == npos || value[start] != '=' || (start = value.find_first_not_of(" \t", start + 1)) == npos)
                continue;
            const bool quoted = value[start] == '"';
            start += quoted ? 1 : 0;
            const std::size_t end
                = std::min(value.find_first_of(quoted ? "\"\r\n" : "; \t\r\n\"", start), value.size());
            if (end > start)
                m_byLength[end - start].insert(value.substr(start, end - start));
        }
    }

    // Whether the line opens a part ("--" and a boundary, not followed by "--").
    bool opensPart(std::string_view line) const
    {
        if (!line.starts_with("--"))
            return false;
        if (m_byLength.size() > MaxBoundaryLengths)
            return true;
        line.remove_prefix(2);
        for (const auto& [length, boundaries] : m_byLength)
            if (line.size() >= length && boundaries.contains(line.substr(0, length)))
                return !line.substr(length).starts_with("--");
        return false;
    }

private:
    std::map<std::size_t, std::unordered_set<std::string_view>> m_byLength;
};

// Whether the field says that the body below is a message, with a header of its own.
bool announcesMessage(std::string_view name, std::string_view value)
{
    if (!equalNoCase(trimmedView(name), "content-type"))
        return false;
    value = trimmedView(value);
    for (std::string_view type : {"message/rfc822", "message/news", "message/global"})
        if (equalNoCase(value.substr(0, type.size()), type))
            return true;
    return false;
}

std::size_t* leftOutCount(AddressesLeftOut& counts, Kind kind)
{
    switch (kind) {
    case FromKind:
        return &counts.from;
    case ReplyToKind:
        return &counts.replyTo;
    case ToKind:
        return &counts.to;
    case CcKind:
        return &counts.cc;
    case BccKind:
        return &counts.bcc;
    default:
        return nullptr;
    }
}

// Walks the header blocks: the message's, each part's, each attached message's.
class Scanner {
public:
    Scanner(std::string_view raw, Structure& result) : m_raw(raw), m_result(result) { }

    void run()
    {
        std::size_t at = 0;
        bool inHeader = true;
        while (at < m_raw.size()) {
            const Line line = lineAt(m_raw, at);
            if (!inHeader) {
                if (m_boundaries.opensPart(m_raw.substr(line.begin, line.end - line.begin))) {
                    ++m_result.parts;
                    inHeader = true;
                }
                at = line.next;
            } else if (line.begin == line.end) {
                endHeader(line.next);
                inHeader = m_nextIsMessage;
                m_nextIsMessage = false;
                at = line.next;
            } else {
                at = field(fieldAt(m_raw, at));
            }
        }
        if (m_blocks == 0)
            m_result.headerEnd = m_raw.size();
    }

private:
    void endHeader(std::size_t next)
    {
        if (m_blocks++ == 0)
            m_result.headerEnd = next;
        m_read.fill(0);
    }

    // Returns where the next line starts.
    std::size_t field(const Field& field)
    {
        const std::string_view name
            = field.colon == npos ? std::string_view() : m_raw.substr(field.begin, field.colon - field.begin);
        const std::size_t valueBegin = field.colon == npos ? field.end : field.colon + 1;
        const std::string_view value = m_raw.substr(valueBegin, field.end - valueBegin);
        m_nextIsMessage = m_nextIsMessage || announcesMessage(name, value);
        m_boundaries.declare(name, value);
        const Kind kind = field.colon == npos ? NoAddress : kindOf(name);
        const bool overFields = ++m_fields > MaxHeaderFields;
        if (kind == NoAddress) {
            if (overFields)
                m_result.leftOut.push_back({field.begin, field.next});
            return field.next;
        }
        const ListScan list = scanList(value, overFields ? 0 : MaxAddressesRead - m_read[kind]);
        m_read[kind] += list.kept;
        if (m_blocks == 0)
            if (std::size_t* count = leftOutCount(m_result.addressesLeftOut, kind))
                *count += list.elements - std::min(list.elements, list.kept);
        if (list.cut == 0)
            m_result.leftOut.push_back({field.begin, field.next});
        else if (list.cut != npos)
            m_result.leftOut.push_back({valueBegin + list.cut, field.end});
        return field.next;
    }

    std::string_view m_raw;
    Structure& m_result;
    Boundaries m_boundaries;
    std::size_t m_fields = 0;
    std::size_t m_blocks = 0; // header blocks ended
    bool m_nextIsMessage = false;
    std::array<std::size_t, KindCount> m_read{};
};

} // namespace

Structure scanStructure(std::string_view raw)
{
    Structure result;
    Scanner(raw, result).run();
    return result;
}

} // namespace Mime::Detail
