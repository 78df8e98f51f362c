#include "ChosenMessages.h"

#include <utility>

#include "MessageBoxes.h"
#include "clsEmailStorage.h"

namespace {

constexpr const char* MessageGoneText = "The message is no longer stored. Nothing was written.";
constexpr const char* MessagesGoneText = "The messages are no longer stored. Nothing was written.";

} // namespace

ChosenMessages::ChosenMessages(const clsEmailStorage& store, std::vector<std::uint64_t> ids)
    : m_store(&store), m_ids(std::move(ids))
{
}

ChosenMessages ChosenMessages::at(const clsEmailStorage& store, std::int16_t position)
{
    const bool stored = position >= 1 && position <= store.Count();
    return withId(store, stored ? store.emailId(position) : 0);
}

ChosenMessages ChosenMessages::withId(const clsEmailStorage& store, std::uint64_t id)
{
    return ChosenMessages(store, id == 0 ? std::vector<std::uint64_t>{} : std::vector<std::uint64_t>{id});
}

ChosenMessages ChosenMessages::all(const clsEmailStorage& store)
{
    std::vector<std::uint64_t> ids;
    ids.reserve(static_cast<std::size_t>(store.Count()));
    // An int counts past the last position, which a 16-bit counter cannot hold at the limit.
    for (int position = 1; position <= store.Count(); ++position)
        ids.push_back(store.emailId(static_cast<std::int16_t>(position)));
    return ChosenMessages(store, std::move(ids));
}

std::vector<std::int16_t> ChosenMessages::stillStored() const
{
    std::vector<std::int16_t> positions;
    positions.reserve(m_ids.size());
    for (const std::uint64_t id : m_ids)
        if (const std::int16_t position = m_store->positionOfId(id); position != 0)
            positions.push_back(position);
    if (positions.empty())
        msgBox(m_ids.size() == 1 ? MessageGoneText : MessagesGoneText, MsgButtons::Ok, MsgIcon::Information);
    return positions;
}
