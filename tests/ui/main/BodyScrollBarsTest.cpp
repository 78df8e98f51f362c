#include <vector>

#include <gtest/gtest.h>

#include "BodyScrollBars.h"
#include "BodyTextMetrics.h"

TEST(BodyScrollBars, DecidedFromTheSizes)
{
    // A box of 5775 by 2775 twips has 5715 by 2715 for its text.
    struct Case {
        const char* name;
        float textWidth;
        float textHeight;
        bool vertical;
        bool horizontal;
    };
    const Case cases[] = {
        {"fits exactly", 5715, 2715, false, false},
        {"one twip too wide", 5716, 195, false, true},
        {"one twip too tall", 100, 2716, true, false},
        {"the vertical bar takes the width a line needed", 5600, 2716, true, true},
        {"the horizontal bar takes the height the lines needed", 5716, 2500, true, true},
        {"tall enough to keep its height beside a horizontal bar", 5716, 2460, false, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const BodyScrollBarNeeds needs = DecideBodyScrollBars(5775, 2775, c.textWidth, c.textHeight);
        EXPECT_EQ(needs.vertical, c.vertical);
        EXPECT_EQ(needs.horizontal, c.horizontal);
    }
}

TEST(BodyTextMetrics, LinesAndTheirWidths)
{
    // Every character one pixel wide; tab stops every eight pixels.
    Latin1Metrics metrics;
    metrics.advance.fill(64);
    metrics.tabStop = 8 * 64;
    struct Case {
        const char* text;
        std::int64_t widestPixels;
        std::int64_t lines;
        std::vector<std::size_t> breaks;
    };
    const Case cases[] = {
        {"", 0, 1, {}},
        {"abc", 3, 1, {}},
        {"ab\r\nabcd", 4, 2, {4}},
        {"a\r\n", 1, 2, {3}},
        {"\r\n\r\n", 0, 3, {2, 4}},
        {"a\nbb\rccc", 3, 3, {2, 5}},
        {"\n\r", 0, 3, {1, 2}},
        {"a\tb", 9, 1, {}},
        {"abcdefgh\tx", 17, 1, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        std::vector<std::size_t> breaks;
        const TextExtent extent = ScanText(c.text, metrics, [&](std::size_t next) { breaks.push_back(next); });
        EXPECT_EQ(extent.widest, c.widestPixels * 64);
        EXPECT_EQ(extent.lines, c.lines);
        EXPECT_EQ(breaks, c.breaks);
    }
}
