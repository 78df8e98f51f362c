#pragma once

#include <cstddef>
#include <string>

class LogListBox;

// The routines through which log lines reach their lists. Each registered list keeps the
// newest line in view and can be scrolled sideways as far as its widest line.
namespace mdlListBoxMod {

inline constexpr long SlotCount = 6;
// The program's log list.
inline constexpr long LogSlot = 0;

// Registers the list in the slot and empties it; false for a slot above the table or no list.
bool LBM_Init(long slot, LogListBox* list);
// Appends one line (Latin-1 bytes) to the slot's list and brings it into view.
void LBM_AddItem(long slot, const std::string& text);
// The slot's list shows a line its lines took from another writer (droppedLines of the oldest
// went), as LBM_AddItem shows its own.
void showAppendedItem(long slot, const std::string& text, std::size_t droppedLines);
// Empties the slot's list and removes its horizontal scrolling.
void LBM_Clear(long slot);

} // namespace mdlListBoxMod
