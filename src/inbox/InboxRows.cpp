#include "InboxRows.h"

#include <algorithm>
#include <chrono>
#include <tuple>

#include "clsEmailStorage.h"

namespace Inbox {

Row rowOf(const clsEmailStorage& store, std::int16_t position)
{
    using namespace std::chrono;
    return Row{store.emailId(position),
               duration_cast<milliseconds>(store.emailReceived(position).time_since_epoch()).count(),
               static_cast<std::int64_t>(store.EmailBody(position).size()), store.emailRead(position), nullptr};
}

FactsReader factsFrom(const clsEmailStorage& store)
{
    return [&store](std::uint64_t id) {
        const std::int16_t position = store.positionOfId(id);
        return std::make_shared<const ListingFacts>(
            position == 0 ? ListingFacts{} : listingFacts(store.EmailBody(position), store.EmailFrom(position)));
    };
}

const ListingFacts& Rows::factsOf(Row& row)
{
    if (!row.facts)
        row.facts = m_reader(row.id);
    return *row.facts;
}

bool Rows::less(const Row& a, const Row& b) const
{
    switch (m_column) {
    case Column::Sender:
        return std::tie(a.facts->senderKey, a.id) < std::tie(b.facts->senderKey, b.id);
    case Column::Subject:
        return std::tie(a.facts->search.subject, a.id) < std::tie(b.facts->search.subject, b.id);
    case Column::Size:
        return std::tie(a.size, a.id) < std::tie(b.size, b.id);
    case Column::Attachment:
        return std::tie(a.facts->attachmentMark, a.id) < std::tie(b.facts->attachmentMark, b.id);
    case Column::Received:
        break;
    }
    return a.id < b.id;
}

void Rows::sortRows()
{
    // Sender, subject and the mark compare facts: read them all first, once.
    if (m_column == Column::Sender || m_column == Column::Subject || m_column == Column::Attachment)
        for (Row& row : m_rows)
            factsOf(row);
    std::sort(m_rows.begin(), m_rows.end(), [this](const Row& a, const Row& b) { return less(a, b); });
}

void Rows::sortBy(Column column, bool descending)
{
    const bool resort = column != m_column;
    m_column = column;
    m_descending = descending;
    if (resort)
        sortRows();
}

std::size_t Rows::slotOf(Row& row)
{
    if (m_column == Column::Sender || m_column == Column::Subject || m_column == Column::Attachment)
        factsOf(row);
    const auto at = std::upper_bound(m_rows.begin(), m_rows.end(), row,
                                     [this](const Row& a, const Row& b) { return less(a, b); });
    return static_cast<std::size_t>(at - m_rows.begin());
}

std::size_t Rows::placeOf(Row& row)
{
    const std::size_t slot = slotOf(row);
    return m_descending ? m_rows.size() - slot : slot;
}

std::size_t Rows::insert(Row row)
{
    const std::size_t slot = slotOf(row);
    m_rows.insert(m_rows.begin() + static_cast<std::ptrdiff_t>(slot), std::move(row));
    return shownOf(slot);
}

std::optional<std::size_t> Rows::find(std::uint64_t id) const
{
    if (m_column == Column::Received) {
        const auto at = std::lower_bound(m_rows.begin(), m_rows.end(), id,
                                         [](const Row& row, std::uint64_t wanted) { return row.id < wanted; });
        if (at != m_rows.end() && at->id == id)
            return shownOf(static_cast<std::size_t>(at - m_rows.begin()));
        return std::nullopt;
    }
    const auto at = std::find_if(m_rows.begin(), m_rows.end(), [id](const Row& row) { return row.id == id; });
    if (at == m_rows.end())
        return std::nullopt;
    return shownOf(static_cast<std::size_t>(at - m_rows.begin()));
}

void Rows::removeAt(std::size_t shown)
{
    m_rows.erase(m_rows.begin() + static_cast<std::ptrdiff_t>(index(shown)));
}

void Rows::reset(std::vector<Row> rows)
{
    m_rows = std::move(rows);
    sortRows();
}

std::string Filter::set(std::string_view query, const Search::LocalZone& localZone)
{
    Search::Query parsed = Search::parseQuery(query, localZone);
    if (!parsed.error.empty())
        return parsed.error;
    m_terms = std::move(parsed.terms);
    m_needsFacts = std::any_of(m_terms.begin(), m_terms.end(), [](const Search::Term& term) {
        using Search::Field;
        return term.field != Field::Read && term.field != Field::After && term.field != Field::Before
            && term.field != Field::Larger && term.field != Field::Smaller;
    });
    return {};
}

bool Filter::accepts(const Row& row, const ListingFacts* facts) const
{
    static const Search::Searchable none;
    return Search::matches(facts ? facts->search : none, {row.receivedMs, row.size, row.read}, m_terms);
}

} // namespace Inbox
