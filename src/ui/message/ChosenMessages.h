#pragma once

#include <cstdint>
#include <vector>

class clsEmailStorage;

// What a modal step (a file dialog, a box, a nested wait) acts on: mail keeps arriving and the
// API deletes while it is open, so positions taken before it may name other messages after it.
// The messages are held by the store's ids, which never change, and looked up again afterwards.
class ChosenMessages {
public:
    // The message at this position; none for a position outside the store.
    static ChosenMessages at(const clsEmailStorage& store, std::int16_t position);
    // The message with this id; none for 0.
    static ChosenMessages withId(const clsEmailStorage& store, std::uint64_t id);
    // Every message stored now.
    static ChosenMessages all(const clsEmailStorage& store);

    bool empty() const { return m_ids.empty(); }
    // The positions of the chosen messages still stored, in store order. When none is left, a
    // box tells the user so, and the caller writes nothing.
    std::vector<std::int16_t> stillStored() const;

private:
    ChosenMessages(const clsEmailStorage& store, std::vector<std::uint64_t> ids);

    const clsEmailStorage* m_store;
    std::vector<std::uint64_t> m_ids;
};
