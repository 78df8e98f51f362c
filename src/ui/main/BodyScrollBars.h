#pragma once

// Which scroll bars the message body box needs, decided from sizes in twips compared as
// single-precision numbers, the way the body box's text was always measured.
struct BodyScrollBarNeeds {
    bool vertical = false;
    bool horizontal = false;
};

// The box's outer size and the text's widest line and total height, all in twips.
BodyScrollBarNeeds decideBodyScrollBars(float boxWidth, float boxHeight, float textWidth, float textHeight);
