#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "ListingFacts.h"
#include "SearchQuery.h"

class clsEmailStorage;

namespace Inbox {

// The list's columns, in the order shown.
enum class Column { Sender, Subject, Received, Size, Attachment };
inline constexpr int ColumnCount = 5;

// One listed message: what the store says of it, and its facts once something needed them.
struct Row {
    std::uint64_t id = 0;
    std::int64_t receivedMs = 0;
    std::int64_t size = 0;
    bool read = false;
    std::shared_ptr<const ListingFacts> facts;
};

// Reads (or finds kept) the facts of the message with this id.
using FactsReader = std::function<std::shared_ptr<const ListingFacts>(std::uint64_t id)>;

// The store's message at this position as a row, without its facts.
Row rowOf(const clsEmailStorage& store, std::int16_t position);
// Facts read from the store's source and envelope; a message no longer stored has none.
FactsReader factsFrom(const clsEmailStorage& store);

// The listed messages in the order chosen: newest first unless told otherwise. Rows are kept
// ascending and shown reversed for a descending order, so that arrivals in the default order
// append, and a row is found by id with a binary search while the order is the arrival's.
// Facts are read once per message, when shown, sorted or filtered on.
class Rows {
public:
    explicit Rows(FactsReader reader) : m_reader(std::move(reader)) { }

    std::size_t size() const { return m_rows.size(); }
    const Row& at(std::size_t shown) const { return m_rows[index(shown)]; }
    const ListingFacts& facts(std::size_t shown) { return factsOf(m_rows[index(shown)]); }

    Column column() const { return m_column; }
    bool descending() const { return m_descending; }
    // Orders by this column; ties (and the arrival time) go by arrival.
    void sortBy(Column column, bool descending);

    // The shown position at which the order puts this row (its facts read if the order needs them).
    std::size_t placeOf(Row& row);
    // Adds a row where the order puts it; returns its shown position.
    std::size_t insert(Row row);
    // The shown position of the message with this id, if listed.
    std::optional<std::size_t> find(std::uint64_t id) const;
    void removeAt(std::size_t shown);
    void markRead(std::size_t shown) { m_rows[index(shown)].read = true; }
    // Replaces every row (unordered); they are sorted in the current order.
    void reset(std::vector<Row> rows);

private:
    std::size_t index(std::size_t shown) const { return m_descending ? m_rows.size() - 1 - shown : shown; }
    std::size_t shownOf(std::size_t index) const { return m_descending ? m_rows.size() - 1 - index : index; }
    const ListingFacts& factsOf(Row& row);
    // Where in m_rows the order puts this row.
    std::size_t slotOf(Row& row);
    bool less(const Row& a, const Row& b) const;
    void sortRows();

    FactsReader m_reader;
    std::vector<Row> m_rows;
    Column m_column = Column::Received;
    bool m_descending = true;
};

// A filter in the API's query words. The words are the API's; plain words and has: look at what
// a row knows, the header (its addresses and subject, whether it is a mixed multipart).
class Filter {
public:
    // Takes a new query; returns why it cannot be read (the filter then stays as it was), or "".
    std::string set(std::string_view query, const Search::LocalZone& localZone);
    bool active() const { return !m_terms.empty(); }
    // Whether a row needs its facts to be judged.
    bool needsFacts() const { return m_needsFacts; }
    bool accepts(const Row& row, const ListingFacts* facts) const;

private:
    std::vector<Search::Term> m_terms;
    bool m_needsFacts = false;
};

} // namespace Inbox
