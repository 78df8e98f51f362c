#include "HtmlText.h"

#include <array>
#include <optional>
#include <cstdint>
#include <utility>

namespace Search {
namespace {

// Elements whose content a reader never sees.
constexpr std::array<std::string_view, 7> Hidden{"script", "style", "head", "title", "noscript", "template", "xml"};
// Elements that end a line, and those set apart by a blank line.
constexpr std::array<std::string_view, 16> LineBlocks{"div",     "tr",    "li",      "dt",     "dd",   "address",
                                                      "article", "aside", "footer",  "header", "main", "nav",
                                                      "section", "form",  "caption", "hr"};
constexpr std::array<std::string_view, 12> ParagraphBlocks{"p",  "ul", "ol", "table", "blockquote", "pre",
                                                           "h1", "h2", "h3", "h4",    "h5",         "h6"};

constexpr std::array<std::pair<std::string_view, char32_t>, 24> Entities{{
    {"amp", U'&'},         {"lt", U'<'},         {"gt", U'>'},         {"quot", U'"'},       {"apos", U'\''},
    {"nbsp", U' '},        {"copy", U'\u00A9'},  {"reg", U'\u00AE'},   {"trade", U'\u2122'}, {"hellip", U'\u2026'},
    {"mdash", U'\u2014'},  {"ndash", U'\u2013'}, {"laquo", U'\u00AB'}, {"raquo", U'\u00BB'}, {"euro", U'\u20AC'},
    {"lsquo", U'\u2018'},  {"rsquo", U'\u2019'}, {"ldquo", U'\u201C'}, {"rdquo", U'\u201D'}, {"bull", U'\u2022'},
    {"middot", U'\u00B7'}, {"shy", U'\u00AD'},   {"zwnj", U'\u200C'},  {"zwj", U'\u200D'},
}};

char lower(char c)
{
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

bool isBlank(char c)
{
    return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\f';
}

template <std::size_t N> bool isOneOf(std::string_view name, const std::array<std::string_view, N>& names)
{
    for (const std::string_view candidate : names)
        if (candidate == name)
            return true;
    return false;
}

void appendUtf8(std::string& out, char32_t c)
{
    if (c == 0 || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF))
        c = 0xFFFD;
    if (c < 0x80) {
        out += static_cast<char>(c);
    } else if (c < 0x800) {
        out += static_cast<char>(0xC0 | (c >> 6));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        out += static_cast<char>(0xE0 | (c >> 12));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (c >> 18));
        out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    }
}

// HTML's names of the Latin-1 characters U+00A0 to U+00FF, in order.
constexpr std::array<std::string_view, 96> Latin1Entities{
    "nbsp",   "iexcl",  "cent",   "pound",  "curren", "yen",    "brvbar", "sect",   "uml",    "copy",   "ordf",
    "laquo",  "not",    "shy",    "reg",    "macr",   "deg",    "plusmn", "sup2",   "sup3",   "acute",  "micro",
    "para",   "middot", "cedil",  "sup1",   "ordm",   "raquo",  "frac14", "frac12", "frac34", "iquest", "Agrave",
    "Aacute", "Acirc",  "Atilde", "Auml",   "Aring",  "AElig",  "Ccedil", "Egrave", "Eacute", "Ecirc",  "Euml",
    "Igrave", "Iacute", "Icirc",  "Iuml",   "ETH",    "Ntilde", "Ograve", "Oacute", "Ocirc",  "Otilde", "Ouml",
    "times",  "Oslash", "Ugrave", "Uacute", "Ucirc",  "Uuml",   "Yacute", "THORN",  "szlig",  "agrave", "aacute",
    "acirc",  "atilde", "auml",   "aring",  "aelig",  "ccedil", "egrave", "eacute", "ecirc",  "euml",   "igrave",
    "iacute", "icirc",  "iuml",   "eth",    "ntilde", "ograve", "oacute", "ocirc",  "otilde", "ouml",   "divide",
    "oslash", "ugrave", "uacute", "ucirc",  "uuml",   "yacute", "thorn",  "yuml"};

// The character of a numeric entity's name ("#233", "#xE9"); 0 when it is none.
char32_t numericEntity(std::string_view name)
{
    const bool hex = name.size() > 1 && lower(name[1]) == 'x';
    const std::string_view digits = name.substr(hex ? 2 : 1);
    if (digits.empty())
        return 0;
    std::uint32_t value = 0;
    for (const char c : digits) {
        const char l = lower(c);
        const bool decimal = l >= '0' && l <= '9';
        if (!decimal && !(hex && l >= 'a' && l <= 'f'))
            return 0;
        value = value * (hex ? 16 : 10) + static_cast<std::uint32_t>(decimal ? l - '0' : l - 'a' + 10);
    }
    return value == 0 ? U'\uFFFD' : static_cast<char32_t>(value);
}

char32_t namedEntity(std::string_view name)
{
    for (const auto& [entity, character] : Entities)
        if (entity == name)
            return character;
    for (std::size_t i = 0; i < Latin1Entities.size(); ++i)
        if (Latin1Entities[i] == name)
            return static_cast<char32_t>(0xA0 + i);
    return 0;
}

// The character an entity at text[at] ('&') stands for, and its length; nothing when it is none.
std::pair<char32_t, std::size_t> entityAt(std::string_view text, std::size_t at)
{
    const std::size_t end = text.find(';', at);
    if (end == std::string_view::npos || end - at > 12 || end == at + 1)
        return {0, 0};
    const std::string_view name = text.substr(at + 1, end - at - 1);
    const char32_t character = name.front() == '#' ? numericEntity(name) : namedEntity(name);
    return character == 0 ? std::pair<char32_t, std::size_t>{0, 0} : std::pair{character, end - at + 1};
}

// Writes text, collapsing blanks, and the breaks blocks ask for.
class TextWriter {
public:
    void text(std::string_view piece, bool verbatim)
    {
        for (std::size_t i = 0; i < piece.size(); ++i) {
            const char c = piece[i];
            if (c == '&') {
                if (const auto [character, length] = entityAt(piece, i); length > 0) {
                    putPending();
                    appendUtf8(m_out, character == U'\u00A0' ? U' ' : character);
                    i += length - 1;
                    continue;
                }
            }
            if (!verbatim && isBlank(c)) {
                m_space = !m_out.empty() && m_out.back() != '\n';
                continue;
            }
            putPending();
            m_out += c;
        }
    }
    // At most `lines` line ends in a row where a block asks for them.
    void lineBreak(int lines)
    {
        m_space = false;
        if (m_out.empty())
            return;
        int present = 0;
        for (auto it = m_out.rbegin(); it != m_out.rend() && *it == '\n'; ++it)
            ++present;
        for (; present < lines; ++present)
            m_out += '\n';
    }
    void raw(std::string_view piece)
    {
        putPending();
        m_out += piece;
    }
    std::size_t size() const { return m_out.size(); }
    std::string_view since(std::size_t at) const { return std::string_view(m_out).substr(at); }
    std::string finish();

private:
    void putPending()
    {
        if (m_space)
            m_out += ' ';
        m_space = false;
    }

    std::string m_out;
    bool m_space = false;
};

std::string TextWriter::finish()
{
    // Blanks at line ends go, and the whole is trimmed.
    std::string out;
    out.reserve(m_out.size());
    for (const char c : m_out) {
        if (c == '\n')
            while (!out.empty() && out.back() == ' ')
                out.pop_back();
        out += c;
    }
    while (!out.empty() && isBlank(out.back()))
        out.pop_back();
    const std::size_t first = out.find_first_not_of(" \n");
    return first == std::string::npos ? std::string() : out.substr(first);
}

// A tag's name in lower case, and where the tag ends.
struct Tag {
    std::string name;
    bool closing = false;
    std::size_t end = 0; // one past '>'
    std::string_view attributes;
};

std::optional<Tag> tagAt(std::string_view html, std::size_t at)
{
    Tag tag;
    std::size_t i = at + 1;
    if (i < html.size() && html[i] == '/') {
        tag.closing = true;
        ++i;
    }
    const std::size_t nameStart = i;
    while (i < html.size()
           && ((html[i] >= 'a' && html[i] <= 'z') || (html[i] >= 'A' && html[i] <= 'Z')
               || (html[i] >= '0' && html[i] <= '9') || html[i] == '-' || html[i] == ':'))
        tag.name += lower(html[i++]);
    if (i == nameStart)
        return std::nullopt;
    // Quotes inside attributes may hold a '>'.
    char quote = 0;
    const std::size_t attributes = i;
    for (; i < html.size(); ++i) {
        if (quote) {
            if (html[i] == quote)
                quote = 0;
        } else if (html[i] == '"' || html[i] == '\'') {
            quote = html[i];
        } else if (html[i] == '>') {
            break;
        }
    }
    tag.attributes = html.substr(attributes, i - attributes);
    tag.end = i < html.size() ? i + 1 : html.size();
    return tag;
}

std::size_t skipBlanks(std::string_view text, std::size_t at)
{
    while (at < text.size() && isBlank(text[at]))
        ++at;
    return at;
}

// An attribute's value from text[at], quoted or not; at moves behind it.
std::string_view valueAt(std::string_view text, std::size_t& at)
{
    if (at < text.size() && (text[at] == '"' || text[at] == '\'')) {
        const std::size_t end = std::min(text.find(text[at], at + 1), text.size());
        const std::string_view value = text.substr(at + 1, end - at - 1);
        at = end + 1;
        return value;
    }
    const std::size_t start = at;
    while (at < text.size() && !isBlank(text[at]))
        ++at;
    return text.substr(start, at - start);
}

// The value of an attribute, as written (entities left as they are).
std::string attribute(std::string_view attributes, std::string_view name)
{
    for (std::size_t at = 0; at < attributes.size();) {
        while (at < attributes.size() && (isBlank(attributes[at]) || attributes[at] == '/'))
            ++at;
        const std::size_t start = at;
        while (at < attributes.size() && !isBlank(attributes[at]) && attributes[at] != '=')
            ++at;
        std::string key(attributes.substr(start, at - start));
        for (char& c : key)
            c = lower(c);
        at = skipBlanks(attributes, at);
        if (at >= attributes.size() || attributes[at] != '=') {
            at += at == start ? 1 : 0;
            continue;
        }
        at = skipBlanks(attributes, at + 1);
        const std::string_view value = valueAt(attributes, at);
        if (key == name)
            return std::string(value);
    }
    return {};
}

class Converter {
public:
    explicit Converter(std::string_view html) : m_html(html) { }
    std::string run();

private:
    void element(const Tag& tag);
    void closeLink();
    // Where reading goes on after markup that shows nothing at open (a comment, a doctype), or
    // npos when there is none there.
    std::size_t skipMarkup(std::size_t open) const;
    // Where reading goes on after the content of a hidden element, whose tag ends at `at`.
    std::size_t skipHidden(const std::string& name, std::size_t at) const;

    std::string_view m_html;
    TextWriter m_writer;
    int m_verbatim = 0;
    std::string m_href;
    std::size_t m_linkStart = 0;
    bool m_inLink = false;
};

std::size_t Converter::skipMarkup(std::size_t open) const
{
    if (m_html.substr(open, 4) == "<!--") {
        const std::size_t end = m_html.find("-->", open + 4);
        return end == std::string_view::npos ? m_html.size() : end + 3;
    }
    if (open + 1 < m_html.size() && (m_html[open + 1] == '!' || m_html[open + 1] == '?')) {
        const std::size_t end = m_html.find('>', open);
        return end == std::string_view::npos ? m_html.size() : end + 1;
    }
    return std::string_view::npos;
}

std::size_t Converter::skipHidden(const std::string& name, std::size_t at) const
{
    // Up to its closing tag: what is inside is never markup a reader sees.
    const std::string closing = "</" + name;
    std::size_t end = at;
    for (;; ++end) {
        end = m_html.find("</", end);
        if (end == std::string_view::npos)
            return m_html.size();
        std::string candidate(m_html.substr(end, closing.size()));
        for (char& c : candidate)
            c = lower(c);
        if (candidate == closing)
            break;
    }
    const std::size_t close = m_html.find('>', end);
    return close == std::string_view::npos ? m_html.size() : close + 1;
}

std::string Converter::run()
{
    std::size_t at = 0;
    while (at < m_html.size()) {
        const std::size_t open = m_html.find('<', at);
        m_writer.text(m_html.substr(at, open - at), m_verbatim > 0);
        if (open == std::string_view::npos)
            break;
        if (const std::size_t after = skipMarkup(open); after != std::string_view::npos) {
            at = after;
            continue;
        }
        const std::optional<Tag> tag = tagAt(m_html, open);
        if (!tag) {
            m_writer.text("<", m_verbatim > 0);
            at = open + 1;
        } else if (!tag->closing && isOneOf(tag->name, Hidden)) {
            at = skipHidden(tag->name, tag->end);
        } else {
            at = tag->end;
            element(*tag);
        }
    }
    if (m_inLink)
        closeLink();
    return m_writer.finish();
}

void Converter::closeLink()
{
    m_inLink = false;
    std::string target = m_href;
    if (target.starts_with("mailto:"))
        target.erase(0, 7);
    const std::string_view shown = m_writer.since(m_linkStart);
    if (target.empty() || shown == target || target.starts_with('#'))
        return;
    m_writer.raw(" ( ");
    m_writer.text(target, true);
    m_writer.raw(" )");
}

void Converter::element(const Tag& tag)
{
    if (tag.name == "br") {
        m_writer.raw("\n");
        m_writer.lineBreak(1);
    } else if (tag.name == "a") {
        if (m_inLink)
            closeLink();
        if (!tag.closing) {
            m_href = attribute(tag.attributes, "href");
            m_linkStart = m_writer.size();
            m_inLink = true;
        }
    } else if (tag.name == "img" && !tag.closing) {
        m_writer.text(attribute(tag.attributes, "alt"), false);
    } else if (tag.name == "li" && !tag.closing) {
        m_writer.lineBreak(1);
        m_writer.raw("* ");
    } else if (tag.name == "td" || tag.name == "th") {
        m_writer.text(" ", false);
    } else if (isOneOf(tag.name, ParagraphBlocks)) {
        if (tag.name == "pre")
            m_verbatim += tag.closing ? (m_verbatim > 0 ? -1 : 0) : 1;
        m_writer.lineBreak(2);
    } else if (isOneOf(tag.name, LineBlocks)) {
        m_writer.lineBreak(1);
    }
}

} // namespace

std::string htmlToText(std::string_view html)
{
    return Converter(html).run();
}

} // namespace Search
