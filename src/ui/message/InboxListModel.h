#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

#include <QAbstractTableModel>
#include <QTimer>

#include "InboxRows.h"
#include "clsEmailStorage.h"

// The store's messages as a table: sender, subject, time, size and attachment mark, unread ones
// in bold; newest first or sorted by any column, filtered by the API's query words. It follows the
// store's change events row by row (an arrival inserts, a removal removes), so that a selection
// stays on its message; only clearing and a new filter reset it. A sort or a filter that needs
// facts not read yet waits while they are read in slices of the event loop, so that a store of
// 32,767 messages never holds it for long.
class InboxListModel final : public QAbstractTableModel, private StoreObserver {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(InboxListModel)
public:
    // The role that gives a row's store id.
    static constexpr int IdRole = Qt::UserRole + 1;

    // The store must outlive the model.
    explicit InboxListModel(clsEmailStorage& store, QObject* parent = nullptr);
    ~InboxListModel() override;

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;
    void sort(int column, Qt::SortOrder order) override;

    // Lists the messages the query matches; returns why it cannot be read (the list then stays
    // as it was), or an empty text.
    QString setFilter(const QString& query);
    // The store id of a row (0 for none), and the row of a store id.
    quint64 idAt(int row) const;
    QModelIndex indexOfId(quint64 id) const;
    // A sort or a filter waits for facts to be read, or arrivals wait to be listed.
    bool waiting() const { return !m_waiting.empty() || !m_arrivals.empty(); }

    // Gathering, arrivals wait (at the cost of noting their ids) until taken: a burst is listed
    // in one insertion where the order puts its messages together, instead of one per message.
    // Off, each arrival is listed at once.
    void setGathering(bool on);
    // Lists the arrivals gathered so far.
    void takeArrivals();
    // This message arrived and waits to be listed; any do.
    bool gathered(quint64 id) const;
    bool arrivalsWaiting() const { return !m_arrivals.empty(); }

    // Reading ahead, the facts not read yet are read in slices once no mail has come for a
    // while, so that the first sort or filter by the header need not wait for them; an arrival
    // pauses the reading. Off, facts are read when first needed.
    void setReadingAhead(bool on);
    // Every message's facts are read: a sort or filter by the header will not wait.
    bool factsRead() const { return m_factsRead >= m_facts.size(); }

signals:
    // The first arrival since the last were taken is waiting.
    void arrivalsGathered();

private:
    void emailStored(std::int16_t position) override;
    void emailRemoved(std::int16_t position, std::uint64_t id) override;
    void emailsCleared() override;
    void emailMarkedRead(std::int16_t position, std::uint64_t id) override;

    // The facts of a message, read at most once while it is stored.
    std::shared_ptr<const ListingFacts> factsOf(std::uint64_t id);
    // The store's message at this position as a row, if the filter takes it.
    std::optional<Inbox::Row> listed(std::int16_t position);
    QVariant display(int row, Inbox::Column column) const;
    void sortNow(Inbox::Column column, bool descending);
    void filterNow();
    // Runs the step once every message's facts are read: at once, or after slices of reading.
    void whenFactsRead(std::function<void()> step);
    void readFactsSlice();
    // Lists one arrival where the order puts it.
    void list(Inbox::Row row);

    clsEmailStorage& m_store;
    // Facts read so far, by store position (index 0 for position 1).
    std::vector<std::shared_ptr<const ListingFacts>> m_facts;
    // Showing a row reads its facts once: the rows are the model's cache, not its state.
    mutable Inbox::Rows m_rows;
    Inbox::Filter m_filter;
    // Facts before this index of m_facts are read.
    std::size_t m_factsRead = 0;
    QTimer m_reading;
    std::vector<std::function<void()>> m_waiting;
    bool m_readingAhead = false;
    // Runs out when no mail has come for the quiet interval.
    QTimer m_quiet;
    bool m_gathering = false;
    // Store ids of the arrivals not listed yet, in order of arrival.
    std::vector<std::uint64_t> m_arrivals;
};
