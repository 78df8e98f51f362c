#pragma once

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

// The widths of the 256 Latin-1 characters in one font, in 1/64 pixel, and the height of a line.
// The message body is painted with exactly these advances, so what is measured is what is shown.
struct Latin1Metrics {
    std::array<std::int32_t, 256> advance{};
    // Tab stops lie at every multiple of this, counted from the start of the line.
    std::int32_t tabStop = 64;
    // Pixels from one line to the next.
    int lineHeight = 1;

    // Where the character after c starts when c starts at x; inline, as every byte of a body passes here.
    std::int64_t after(char c, std::int64_t x) const
    {
        return c == '\t' ? x + tabStop - x % tabStop : x + advance[static_cast<unsigned char>(c)];
    }
};

// The widest line in 1/64 pixel and the number of lines.
struct TextExtent {
    std::int64_t widest = 0;
    std::int64_t lines = 1;
};

// Lines end at CR LF, at a lone LF and at a lone CR; a text that ends with a line break ends with
// an empty line. Calls onBreak(start of the next line) at every line break.
template <class OnBreak> TextExtent scanText(std::string_view text, const Latin1Metrics& metrics, OnBreak onBreak)
{
    TextExtent extent;
    std::int64_t x = 0;
    const std::size_t size = text.size();
    for (std::size_t i = 0; i < size; ++i) {
        const char c = text[i];
        if (c == '\n' || c == '\r') {
            if (c == '\r' && i + 1 < size && text[i + 1] == '\n')
                ++i;
            extent.widest = std::max(extent.widest, x);
            x = 0;
            ++extent.lines;
            onBreak(i + 1);
            continue;
        }
        x = metrics.after(c, x);
    }
    extent.widest = std::max(extent.widest, x);
    return extent;
}

TextExtent measureText(std::string_view text, const Latin1Metrics& metrics);

// A message body as its view shows it and as a screen reader asks about it: the text, its lines,
// a selection and a caret, and where each character lies on its line. Offsets are byte offsets,
// a CR LF counting as two; x positions are in 1/64 pixel from the start of a line.
class BodyText {
public:
    enum class Motion {
        NextChar,
        PreviousChar,
        NextWord,
        PreviousWord,
        NextLine,
        PreviousLine,
        NextPage,
        PreviousPage,
        StartOfLine,
        EndOfLine,
        StartOfText,
        EndOfText
    };

    // Replaces the text and puts the caret at its start; false when the text was the same.
    // On failure the old text stays.
    // The text is shared, not copied: a body of many megabytes is held once, by the store.
    bool setText(std::shared_ptr<const std::string> text);
    const std::string& text() const { return *m_text; }
    std::size_t size() const { return m_text->size(); }

    // The advances the lines are laid out with; setting them measures the text anew.
    void setMetrics(const Latin1Metrics& metrics);
    const Latin1Metrics& metrics() const { return m_metrics; }
    // The widest line's width.
    std::int64_t widest() const { return m_widest; }

    std::size_t lineCount() const { return m_lineStarts.size(); }
    std::size_t lineStart(std::size_t line) const { return m_lineStarts[line]; }
    // Where the line's break begins, or the end of the text on the last line.
    std::size_t lineEnd(std::size_t line) const;
    std::size_t lineOf(std::size_t offset) const;

    std::size_t anchor() const { return m_anchor; }
    std::size_t caret() const { return m_caret; }
    std::size_t selectionStart() const { return std::min(m_anchor, m_caret); }
    std::size_t selectionEnd() const { return std::max(m_anchor, m_caret); }
    std::string_view selectedText() const;
    // Whether the selection takes in the line's break.
    bool breakSelected(std::size_t line) const;
    // Selects from anchor to caret, both clamped to the text; the caret is where vertical moves start.
    void select(std::size_t anchor, std::size_t caret);
    // Moves the caret, keeping the anchor where a selection is being extended. Vertical moves keep
    // the column they aim at, so that a short line on the way does not pull the caret to the left.
    void moveCaret(std::size_t offset, bool keepAnchor, bool keepColumn = false);
    // Where a motion leads from offset; a page is pageLines lines.
    std::size_t moved(Motion motion, std::size_t offset, std::size_t pageLines) const;
    // The word around offset, as [first, second); empty between words.
    std::pair<std::size_t, std::size_t> wordAt(std::size_t offset) const;
    // The word, or the run of characters between words, that holds the character at offset, as
    // [first, second); empty at the end of the text.
    std::pair<std::size_t, std::size_t> wordRunAt(std::size_t offset) const;

    // The x of offset on its line.
    std::int64_t xOf(std::size_t offset) const;
    // The offset nearest to x on the line.
    std::size_t offsetAt(std::size_t line, std::int64_t x) const;
    // The first character of the line that ends right of x, and in start where it starts; the
    // line's end when none does.
    std::size_t firstRightOf(std::size_t line, std::int64_t x, std::int64_t& start) const;

private:
    std::shared_ptr<const std::string> m_text = std::make_shared<const std::string>();
    // Kept in 32 bits: the capture server keeps no message anywhere near 4 GiB.
    std::vector<std::uint32_t> m_lineStarts{0};
    Latin1Metrics m_metrics;
    std::int64_t m_widest = 0;
    std::size_t m_anchor = 0;
    std::size_t m_caret = 0;
    // Where vertical moves aim.
    std::int64_t m_column = 0;
};
