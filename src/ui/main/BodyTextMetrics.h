#pragma once

#include <array>

#include <QRawFont>

#include "BodyText.h"

class QFont;

// The glyphs that draw the Latin-1 characters; without a usable font file, characters are drawn
// one by one as text.
struct Latin1Glyphs {
    QRawFont raw;
    std::array<quint32, 256> index{};
    bool valid = false;
};

// The metrics of a font: its glyphs' own advances, control characters with the font's missing-glyph
// box, and tab stops eight average characters apart. Also hands out the glyphs when asked.
Latin1Metrics metricsForFont(const QFont& font, Latin1Glyphs* glyphs = nullptr);
