#include "BodyScrollBars.h"

namespace {
// What the box's border takes from its size, and what one scroll bar takes.
constexpr float BorderTwips = 60.0f;
constexpr float ScrollBarTwips = 255.0f;
} // namespace

BodyScrollBarNeeds decideBodyScrollBars(float boxWidth, float boxHeight, float textWidth, float textHeight)
{
    float width = boxWidth - BorderTwips;
    float height = boxHeight - BorderTwips;
    BodyScrollBarNeeds needs;
    needs.vertical = textHeight > height;
    if (needs.vertical)
        width -= ScrollBarTwips;
    needs.horizontal = textWidth > width;
    // The horizontal bar takes height, so text that just fitted may now need the vertical bar.
    if (needs.horizontal) {
        height -= ScrollBarTwips;
        needs.vertical = textHeight > height;
    }
    return needs;
}
