#include "mdlListBoxMod.h"

#include <array>
#include <cmath>
#include <cstdint>
#include <functional>
#include <limits>

#include <QFontMetricsF>
#include <QPointer>
#include <QStyle>

#include "AppError.h"
#include "ErrorReport.h"
#include "LogListBox.h"

namespace mdlListBoxMod {
namespace {

constexpr double TwipsPerInch = 1440.0;
// Room a list box keeps beside its text, in pixels.
constexpr double ExtentSlack = 2.0;

std::array<QPointer<LogListBox>, SlotCount> ListBoxSlots;
// Per slot: the widest line since the last clearing, in twips.
std::array<std::int32_t, SlotCount> WidestLine{};

// Slots above the table are quietly ignored; below it there are none.
bool inTable(long slot)
{
    if (slot < 0)
        throw subscriptOutOfRangeError();
    return slot < SlotCount;
}

// Nearest whole number, a half going to the even neighbour (the default rounding mode).
std::int32_t roundToLong(double value)
{
    const double rounded = std::nearbyint(value);
    if (!(rounded >= std::numeric_limits<std::int32_t>::min() && rounded <= std::numeric_limits<std::int32_t>::max()))
        throw overflowError();
    return std::int32_t(rounded);
}

double twipsPerPixel(const LogListBox& list)
{
    return TwipsPerInch / list.logicalDpiX();
}

// The text's width in the font of the list's window, in twips.
std::int32_t lineWidth(const LogListBox& list, const std::string& text)
{
    const QWidget* window = list.window();
    const QFontMetricsF metrics(window->font(), window);
    const double pixels = metrics.horizontalAdvance(QString::fromLatin1(text.data(), qsizetype(text.size())));
    return roundToLong(pixels * twipsPerPixel(list));
}

// Pixels to scroll sideways for a line of the given width: room for the vertical scroll bar too.
std::int32_t extentFor(const LogListBox& list, std::int32_t widthTwips)
{
    const int scrollBarWidth = list.style()->pixelMetric(QStyle::PM_ScrollBarExtent, nullptr, &list);
    return roundToLong(widthTwips / twipsPerPixel(list) + scrollBarWidth + ExtentSlack);
}

void clearSlot(long slot)
{
    LogListBox* list = ListBoxSlots[std::size_t(slot)];
    if (list)
        list->Clear();
    WidestLine[std::size_t(slot)] = 0;
    if (list)
        list->setHorizontalExtent(0);
}

// One line into the slot's list (append puts it there), its widest line kept, the line in view.
void addItem(long slot, const std::string& text, const std::function<void(LogListBox&)>& append)
{
    trapped("LBM_AddItem", [&] {
        if (!inTable(slot))
            return;
        // A slot without a list (never registered, or its window is gone) drops the line.
        LogListBox* list = ListBoxSlots[std::size_t(slot)];
        if (!list)
            return;
        append(*list);
        const std::int32_t width = lineWidth(*list, text);
        std::int32_t& widest = WidestLine[std::size_t(slot)];
        if (width > widest) {
            widest = width;
            list->setHorizontalExtent(extentFor(*list, width));
        }
        list->scrollToBottom();
    });
}

} // namespace

bool LBM_Init(long slot, LogListBox* list)
{
    bool registered = false;
    trapped("LBM_Init", [&] {
        if (!inTable(slot) || !list)
            return;
        ListBoxSlots[std::size_t(slot)] = list;
        clearSlot(slot);
        registered = true;
    });
    return registered;
}

void LBM_AddItem(long slot, const std::string& text)
{
    addItem(slot, text, [&](LogListBox& list) { list.addLine(text); });
}

void showAppendedItem(long slot, const std::string& text, std::size_t droppedLines)
{
    addItem(slot, text, [&](LogListBox& list) { list.lineAppended(droppedLines); });
}

void LBM_Clear(long slot)
{
    trapped("LBM_Clear", [&] {
        if (inTable(slot))
            clearSlot(slot);
    });
}

} // namespace mdlListBoxMod
