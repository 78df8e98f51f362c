#include "clsEmailStorage.h"

#include <algorithm>
#include <new>
#include <utility>

#include "AppError.h"
#include "CaptureLimits.h"
#include "Latin1Text.h"

namespace {
constexpr int MaxEmails = CaptureLimits::MaxStoredMessages;
constexpr std::size_t SpareRoomKept = 32;

std::size_t bytesOf(const auto& message)
{
    return message.from.size() + message.to.size() + message.body->size() + message.authUser.size();
}

const std::string& fromOf(const auto& message)
{
    return message.from;
}

const std::string& toOf(const auto& message)
{
    return message.to;
}

const std::string& bodyOf(const auto& message)
{
    return *message.body;
}

const std::string& emptyText()
{
    static const std::string empty;
    return empty;
}
} // namespace

std::string clsEmailStorage::joinRecipients(const std::vector<std::string>& recipients)
{
    std::string joined;
    for (const std::string& recipient : recipients) {
        if (!joined.empty())
            joined += RecipientSeparator;
        joined += recipient;
    }
    return joined;
}

int16_t clsEmailStorage::StoreEmail(std::string sEmailFrom, std::string sEmailTo, std::string sEmailBody,
                                    std::string sAuthUser)
{
    // The count is a signed 16-bit number: refuse before appending, so nothing is half-stored.
    if (m_messages.size() >= MaxEmails)
        throw overflowError();
    // A body collected line by line carries up to as much again in unused room, which the store
    // would keep for good: one copy now is cheaper.
    if (sEmailBody.capacity() - sEmailBody.size() > SpareRoomKept)
        sEmailBody.shrink_to_fit();
    const std::size_t bytes = sEmailFrom.size() + sEmailTo.size() + sEmailBody.size() + sAuthUser.size();
    if (!m_budget.tryTake(bytes))
        throw std::bad_alloc();
    // push_back either succeeds or leaves the list as it was (moving strings cannot throw).
    try {
        auto body = std::make_shared<const std::string>(std::move(sEmailBody));
        m_messages.push_back(Message{std::move(sEmailFrom), std::move(sEmailTo), std::move(body), std::move(sAuthUser),
                                     m_lastId + 1, std::chrono::system_clock::now()});
    } catch (...) {
        m_budget.giveBack(bytes);
        throw;
    }
    ++m_lastId;
    const int16_t position = Count();
    notify([position](StoreObserver& observer) { observer.emailStored(position); });
    return position;
}

bool clsEmailStorage::RemoveEmail(int16_t iIndex)
{
    const Message* message = messageAt(iIndex);
    if (message == nullptr)
        return false;
    m_budget.giveBack(bytesOf(*message));
    const std::uint64_t id = message->id;
    m_readCount -= message->read ? 1 : 0;
    m_messages.erase(m_messages.begin() + (iIndex - 1));
    // A cursor at or behind the removed message moves down with the messages: a next search then
    // starts at the first message it has not looked at, never beyond it.
    for (SearchState* state : {&m_fromSearch, &m_toSearch, &m_bodySearch}) {
        if (state->cursor >= iIndex)
            --state->cursor;
    }
    notify([iIndex, id](StoreObserver& observer) { observer.emailRemoved(iIndex, id); });
    return true;
}

void clsEmailStorage::Clear()
{
    for (const Message& message : m_messages)
        m_budget.giveBack(bytesOf(message));
    // Swapping with an empty list also hands back the list's own memory.
    std::deque<Message>().swap(m_messages);
    m_readCount = 0;
    m_fromSearch.cursor = 0;
    m_toSearch.cursor = 0;
    m_bodySearch.cursor = 0;
    notify([](StoreObserver& observer) { observer.emailsCleared(); });
}

const std::string& clsEmailStorage::EmailFrom(int16_t iIndex) const
{
    const Message* message = messageAt(iIndex);
    return message ? message->from : emptyText();
}

const std::string& clsEmailStorage::EmailTo(int16_t iIndex) const
{
    const Message* message = messageAt(iIndex);
    return message ? message->to : emptyText();
}

const std::string& clsEmailStorage::EmailBody(int16_t iIndex) const
{
    const Message* message = messageAt(iIndex);
    return message ? *message->body : emptyText();
}

std::shared_ptr<const std::string> clsEmailStorage::emailBodyShared(int16_t iIndex) const
{
    const Message* message = messageAt(iIndex);
    return message ? message->body : nullptr;
}

std::uint64_t clsEmailStorage::emailId(int16_t iIndex) const
{
    const Message* message = messageAt(iIndex);
    return message ? message->id : 0;
}

std::chrono::system_clock::time_point clsEmailStorage::emailReceived(int16_t iIndex) const
{
    const Message* message = messageAt(iIndex);
    return message ? message->received : std::chrono::system_clock::time_point{};
}

const std::string& clsEmailStorage::emailAuthUser(int16_t iIndex) const
{
    const Message* message = messageAt(iIndex);
    return message ? message->authUser : emptyText();
}

int16_t clsEmailStorage::positionOfId(std::uint64_t id) const
{
    // Ids grow with every message stored and removals keep the order, so the list is sorted by id.
    const auto found
        = std::lower_bound(m_messages.begin(), m_messages.end(), id,
                           [](const Message& message, std::uint64_t wanted) { return message.id < wanted; });
    if (found == m_messages.end() || found->id != id)
        return 0;
    return static_cast<int16_t>(found - m_messages.begin() + 1);
}

bool clsEmailStorage::emailRead(int16_t iIndex) const
{
    const Message* message = messageAt(iIndex);
    return message && message->read;
}

bool clsEmailStorage::markEmailRead(std::uint64_t id)
{
    const int16_t position = positionOfId(id);
    if (position == 0 || m_messages[static_cast<std::size_t>(position - 1)].read)
        return false;
    m_messages[static_cast<std::size_t>(position - 1)].read = true;
    ++m_readCount;
    notify([position, id](StoreObserver& observer) { observer.emailMarkedRead(position, id); });
    return true;
}

void clsEmailStorage::addObserver(StoreObserver* observer)
{
    m_observers.push_back(observer);
}

void clsEmailStorage::removeObserver(StoreObserver* observer)
{
    std::erase(m_observers, observer);
}

void clsEmailStorage::notify(const std::function<void(StoreObserver&)>& event)
{
    // An observer may remove itself (or another) while being told: tell a copy of the list.
    const std::vector<StoreObserver*> observers = m_observers;
    for (StoreObserver* observer : observers) {
        if (std::find(m_observers.begin(), m_observers.end(), observer) != m_observers.end())
            event(*observer);
    }
}

int16_t clsEmailStorage::FindFirstEmailFrom(std::string_view sFromString, bool bExactMatch)
{
    return findFirst(fromOf, m_fromSearch, sFromString, bExactMatch);
}

int16_t clsEmailStorage::FindNextEmailFrom(std::string_view sFromString, bool bExactMatch)
{
    return findNext(fromOf, m_fromSearch, sFromString, bExactMatch);
}

int16_t clsEmailStorage::FindFirstEmailTo(std::string_view sToString, bool bExactMatch)
{
    return findFirst(toOf, m_toSearch, sToString, bExactMatch);
}

int16_t clsEmailStorage::FindNextEmailTo(std::string_view sToString, bool bExactMatch)
{
    return findNext(toOf, m_toSearch, sToString, bExactMatch);
}

int16_t clsEmailStorage::FindFirstEmailBodyWith(std::string_view sBodyString)
{
    return findFirst(bodyOf, m_bodySearch, sBodyString, false);
}

int16_t clsEmailStorage::FindNextEmailBodyWith(std::string_view sBodyString)
{
    return findNext(bodyOf, m_bodySearch, sBodyString, false);
}

// Null beyond the stored messages; a position below 1 names no message at all and is an error.
const clsEmailStorage::Message* clsEmailStorage::messageAt(int16_t iIndex) const
{
    if (iIndex < 1)
        throw subscriptOutOfRangeError();
    if (iIndex > Count())
        return nullptr;
    return &m_messages[static_cast<std::size_t>(iIndex - 1)];
}

int16_t clsEmailStorage::scan(Field field, std::string_view text, bool exactMatch, int start) const
{
    const int last = Count();
    for (int position = start; position <= last; ++position) {
        const std::string& entry = field(m_messages[static_cast<std::size_t>(position - 1)]);
        // Containment is tested in place: upper-cased copies of multi-megabyte bodies would cost too much.
        // An empty entry contains nothing, not even the empty text.
        const bool hit
            = exactMatch ? entry == text : !entry.empty() && findNoCase(entry, text) != std::string_view::npos;
        if (hit)
            return static_cast<int16_t>(position);
    }
    return 0;
}

int16_t clsEmailStorage::findFirst(Field field, SearchState& state, std::string_view text, bool exactMatch)
{
    const int16_t hit = scan(field, text, exactMatch, 1);
    if (hit != 0) {
        state.cursor = hit;
        state.text = text;
    }
    return hit;
}

int16_t clsEmailStorage::findNext(Field field, SearchState& state, std::string_view text, bool exactMatch)
{
    if (text.empty() && state.text.empty())
        return 0;
    // The start position is a signed 16-bit number too.
    if (state.cursor >= MaxEmails)
        throw overflowError();
    const int start = state.cursor + 1;
    const int16_t hit = scan(field, text.empty() ? std::string_view(state.text) : text, exactMatch, start);
    if (hit != 0) {
        state.cursor = hit;
        if (!text.empty())
            state.text = text;
    }
    return hit;
}
