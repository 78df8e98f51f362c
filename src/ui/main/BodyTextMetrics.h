#pragma once

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <string_view>

#include <QRawFont>

class QFont;

// The widths of the 256 Latin-1 characters in one font, in 1/64 pixel, and the height of a line.
// The message body is painted with exactly these advances, so what is measured is what is shown.
struct Latin1Metrics {
    std::array<std::int32_t, 256> advance{};
    // Tab stops lie at every multiple of this, counted from the start of the line.
    std::int32_t tabStop = 64;
    // Pixels from one line to the next.
    int lineHeight = 1;

    // Where the character after c starts when c starts at x; inline, as every byte of a body passes here.
    std::int64_t After(char c, std::int64_t x) const
    {
        return c == '\t' ? x + tabStop - x % tabStop : x + advance[static_cast<unsigned char>(c)];
    }
};

// The glyphs that draw the Latin-1 characters; without a usable font file, characters are drawn
// one by one as text.
struct Latin1Glyphs {
    QRawFont raw;
    std::array<quint32, 256> index{};
    bool valid = false;
};

// The metrics of a font: its glyphs' own advances, control characters with the font's missing-glyph
// box, and tab stops eight average characters apart. Also hands out the glyphs when asked.
Latin1Metrics MetricsForFont(const QFont& font, Latin1Glyphs* glyphs = nullptr);

// The widest line in 1/64 pixel and the number of lines.
struct TextExtent {
    std::int64_t widest = 0;
    std::int64_t lines = 1;
};

// Lines end at CR LF, at a lone LF and at a lone CR; a text that ends with a line break ends with
// an empty line. Calls onBreak(start of the next line) at every line break.
template <class OnBreak>
TextExtent ScanText(std::string_view text, const Latin1Metrics& metrics, OnBreak onBreak)
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
        x = metrics.After(c, x);
    }
    extent.widest = std::max(extent.widest, x);
    return extent;
}

TextExtent MeasureText(std::string_view text, const Latin1Metrics& metrics);
