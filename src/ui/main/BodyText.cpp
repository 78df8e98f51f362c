#include "BodyText.h"

#include <limits>

#include "AppError.h"

namespace {

bool isWordCharacter(char c)
{
    const auto u = static_cast<unsigned char>(c);
    return (u >= '0' && u <= '9') || (u >= 'A' && u <= 'Z') || (u >= 'a' && u <= 'z') || u == '_'
        || (u >= 0xC0 && u != 0xD7 && u != 0xF7);
}

} // namespace

TextExtent measureText(std::string_view text, const Latin1Metrics& metrics)
{
    return scanText(text, metrics, [](std::size_t) {});
}

bool BodyText::setText(std::shared_ptr<const std::string> text)
{
    if (!text)
        text = std::make_shared<const std::string>();
    if (text->size() >= std::numeric_limits<std::uint32_t>::max())
        throw overflowError();
    const bool changed = text != m_text && *text != *m_text;
    if (changed) {
        // Built aside first: a failure leaves the old text intact.
        std::vector<std::uint32_t> starts{0};
        const TextExtent extent
            = scanText(*text, m_metrics, [&](std::size_t next) { starts.push_back(static_cast<std::uint32_t>(next)); });
        m_lineStarts = std::move(starts);
        m_widest = extent.widest;
    }
    // The same text held anew is still taken: the old holder may let it go.
    m_text = std::move(text);
    m_anchor = m_caret = 0;
    m_column = 0;
    return changed;
}

void BodyText::setMetrics(const Latin1Metrics& metrics)
{
    m_metrics = metrics;
    m_widest = measureText(text(), m_metrics).widest;
}

std::size_t BodyText::lineEnd(std::size_t line) const
{
    if (line + 1 >= m_lineStarts.size())
        return text().size();
    std::size_t end = m_lineStarts[line + 1] - 1;
    if (text()[end] == '\n' && end > m_lineStarts[line] && text()[end - 1] == '\r')
        --end;
    return end;
}

std::size_t BodyText::lineOf(std::size_t offset) const
{
    const auto next = std::upper_bound(m_lineStarts.begin(), m_lineStarts.end(), offset);
    return static_cast<std::size_t>(next - m_lineStarts.begin()) - 1;
}

std::string_view BodyText::selectedText() const
{
    return std::string_view(text()).substr(selectionStart(), selectionEnd() - selectionStart());
}

bool BodyText::breakSelected(std::size_t line) const
{
    const std::size_t end = lineEnd(line);
    const std::size_t next = line + 1 < lineCount() ? m_lineStarts[line + 1] : end;
    return selectionStart() < next && selectionEnd() > end;
}

void BodyText::select(std::size_t anchor, std::size_t caret)
{
    m_anchor = std::min(anchor, text().size());
    moveCaret(std::min(caret, text().size()), true);
}

void BodyText::moveCaret(std::size_t offset, bool keepAnchor, bool keepColumn)
{
    m_caret = offset;
    if (!keepAnchor)
        m_anchor = offset;
    if (!keepColumn)
        m_column = xOf(offset);
}

std::size_t BodyText::moved(Motion motion, std::size_t offset, std::size_t pageLines) const
{
    const std::size_t size = text().size();
    const std::size_t line = lineOf(offset);
    const auto lineMoved = [&](std::size_t by, bool down) {
        const std::size_t last = lineCount() - 1;
        const std::size_t target = down ? std::min(last, line + std::min(by, last)) : line - std::min(by, line);
        return offsetAt(target, m_column);
    };
    switch (motion) {
    case Motion::NextChar:
        if (offset >= size)
            return size;
        return text()[offset] == '\r' && offset + 1 < size && text()[offset + 1] == '\n' ? offset + 2 : offset + 1;
    case Motion::PreviousChar:
        if (offset == 0)
            return 0;
        return offset >= 2 && text()[offset - 1] == '\n' && text()[offset - 2] == '\r' ? offset - 2 : offset - 1;
    case Motion::NextWord:
        while (offset < size && isWordCharacter(text()[offset]))
            ++offset;
        while (offset < size && !isWordCharacter(text()[offset]))
            ++offset;
        return offset;
    case Motion::PreviousWord:
        while (offset > 0 && !isWordCharacter(text()[offset - 1]))
            --offset;
        while (offset > 0 && isWordCharacter(text()[offset - 1]))
            --offset;
        return offset;
    case Motion::NextLine:
        return lineMoved(1, true);
    case Motion::PreviousLine:
        return lineMoved(1, false);
    case Motion::NextPage:
        return lineMoved(pageLines, true);
    case Motion::PreviousPage:
        return lineMoved(pageLines, false);
    case Motion::StartOfLine:
        return m_lineStarts[line];
    case Motion::EndOfLine:
        return lineEnd(line);
    case Motion::StartOfText:
        return 0;
    case Motion::EndOfText:
        return size;
    }
    return offset;
}

std::pair<std::size_t, std::size_t> BodyText::wordAt(std::size_t offset) const
{
    std::size_t start = std::min(offset, text().size());
    std::size_t end = start;
    while (start > 0 && isWordCharacter(text()[start - 1]))
        --start;
    while (end < text().size() && isWordCharacter(text()[end]))
        ++end;
    return {start, end};
}

std::pair<std::size_t, std::size_t> BodyText::wordRunAt(std::size_t offset) const
{
    const std::string& body = text();
    if (offset >= body.size())
        return {body.size(), body.size()};
    const bool word = isWordCharacter(body[offset]);
    std::size_t start = offset;
    std::size_t end = offset + 1;
    while (start > 0 && isWordCharacter(body[start - 1]) == word)
        --start;
    while (end < body.size() && isWordCharacter(body[end]) == word)
        ++end;
    return {start, end};
}

std::int64_t BodyText::xOf(std::size_t offset) const
{
    const std::size_t line = lineOf(offset);
    const std::size_t end = std::min(offset, lineEnd(line));
    std::int64_t x = 0;
    for (std::size_t p = m_lineStarts[line]; p < end; ++p)
        x = m_metrics.after(text()[p], x);
    return x;
}

std::size_t BodyText::offsetAt(std::size_t line, std::int64_t x) const
{
    const std::size_t end = lineEnd(line);
    std::int64_t left = 0;
    for (std::size_t p = m_lineStarts[line]; p < end; ++p) {
        const std::int64_t right = m_metrics.after(text()[p], left);
        if (x < (left + right) / 2)
            return p;
        left = right;
    }
    return end;
}

std::size_t BodyText::firstRightOf(std::size_t line, std::int64_t x, std::int64_t& start) const
{
    const std::size_t end = lineEnd(line);
    std::size_t p = m_lineStarts[line];
    start = 0;
    while (p < end) {
        const std::int64_t next = m_metrics.after(text()[p], start);
        if (next > x)
            break;
        start = next;
        ++p;
    }
    return p;
}
