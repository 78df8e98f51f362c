#include "InboxListModel.h"

#include <algorithm>
#include <array>
#include <chrono>

#include <QApplication>
#include <QDateTime>
#include <QFont>
#include <QLocale>
#include <QStyle>
#include <QTimeZone>

#include "ErrorReport.h"

namespace {

constexpr std::array<const char*, Inbox::ColumnCount> ColumnCaptions{"From", "Subject", "Received", "Size", ""};
constexpr const char* AttachmentTip = "Has attachments";
// Reading facts gives the event loop back after this long.
constexpr std::chrono::milliseconds ReadingSlice{10};
// Reading ahead waits this long after the last arrival: a burst is captured first.
constexpr std::chrono::milliseconds ReadAheadQuiet{1000};

bool needsFacts(Inbox::Column column)
{
    return column == Inbox::Column::Sender || column == Inbox::Column::Subject || column == Inbox::Column::Attachment;
}

// A date without an offset in a query is read in this machine's zone, as the API reads it.
Search::LocalZone localZone()
{
    return [](const Search::CivilTime& t) {
        return QDateTime(QDate(t.year, t.month, t.day), QTime(t.hour, t.minute, std::min(t.second, 59), t.millisecond),
                         QTimeZone::systemTimeZone())
            .toMSecsSinceEpoch();
    };
}

QString utf8(const std::string& text)
{
    return QString::fromUtf8(text.data(), qsizetype(text.size()));
}

} // namespace

InboxListModel::InboxListModel(clsEmailStorage& store, QObject* parent)
    : QAbstractTableModel(parent), m_store(store), m_rows([this](std::uint64_t id) { return factsOf(id); })
{
    const std::int16_t count = m_store.Count();
    m_facts.resize(static_cast<std::size_t>(count));
    std::vector<Inbox::Row> rows;
    rows.reserve(m_facts.size());
    // An int: a 16-bit position would wrap past the last of 32,767 messages.
    for (int position = 1; position <= count; ++position)
        rows.push_back(Inbox::rowOf(m_store, static_cast<std::int16_t>(position)));
    m_rows.reset(std::move(rows));
    m_reading.setInterval(0);
    connect(&m_reading, &QTimer::timeout, this,
            [this] { trapped("InboxListModel::readFactsSlice", [&] { readFactsSlice(); }); });
    m_quiet.setSingleShot(true);
    m_quiet.setInterval(ReadAheadQuiet);
    connect(&m_quiet, &QTimer::timeout, this, [this] {
        if (!factsRead())
            m_reading.start();
    });
    m_store.addObserver(this);
}

InboxListModel::~InboxListModel()
{
    m_store.removeObserver(this);
}

int InboxListModel::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : static_cast<int>(m_rows.size());
}

int InboxListModel::columnCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : Inbox::ColumnCount;
}

std::shared_ptr<const ListingFacts> InboxListModel::factsOf(std::uint64_t id)
{
    const std::int16_t position = m_store.positionOfId(id);
    if (position == 0)
        return std::make_shared<const ListingFacts>();
    auto& kept = m_facts[static_cast<std::size_t>(position - 1)];
    if (!kept)
        kept = std::make_shared<const ListingFacts>(
            listingFacts(m_store.EmailBody(position), m_store.EmailFrom(position)));
    return kept;
}

QVariant InboxListModel::display(int row, Inbox::Column column) const
{
    const Inbox::Row& listedRow = m_rows.at(static_cast<std::size_t>(row));
    switch (column) {
    case Inbox::Column::Sender:
        return utf8(m_rows.facts(static_cast<std::size_t>(row)).sender);
    case Inbox::Column::Subject:
        return utf8(m_rows.facts(static_cast<std::size_t>(row)).subject);
    case Inbox::Column::Received: {
        // Today's mail by its time, older mail by its date, as mail programs list it.
        const QDateTime received = QDateTime::fromMSecsSinceEpoch(listedRow.receivedMs);
        return received.date() == QDate::currentDate() ? QLocale().toString(received.time(), QLocale::ShortFormat)
                                                       : QLocale().toString(received.date(), QLocale::ShortFormat);
    }
    case Inbox::Column::Size:
        return QLocale().formattedDataSize(listedRow.size);
    case Inbox::Column::Attachment:
        break;
    }
    return {};
}

QVariant InboxListModel::data(const QModelIndex& index, int role) const
{
    if (!index.isValid() || index.row() >= rowCount())
        return {};
    const auto column = static_cast<Inbox::Column>(index.column());
    const Inbox::Row& row = m_rows.at(static_cast<std::size_t>(index.row()));
    switch (role) {
    case Qt::DisplayRole:
        return display(index.row(), column);
    case Qt::FontRole:
        if (!row.read) {
            QFont bold;
            bold.setBold(true);
            return bold;
        }
        return {};
    case Qt::DecorationRole:
        if (column == Inbox::Column::Attachment && m_rows.facts(static_cast<std::size_t>(index.row())).attachmentMark)
            return QApplication::style()->standardIcon(QStyle::SP_FileIcon);
        return {};
    case Qt::ToolTipRole:
        if (column == Inbox::Column::Received)
            return QLocale().toString(QDateTime::fromMSecsSinceEpoch(row.receivedMs), QLocale::LongFormat);
        if (column == Inbox::Column::Attachment && m_rows.facts(static_cast<std::size_t>(index.row())).attachmentMark)
            return QString::fromLatin1(AttachmentTip);
        return {};
    case Qt::TextAlignmentRole:
        if (column == Inbox::Column::Size)
            return QVariant::fromValue(Qt::AlignRight | Qt::AlignVCenter);
        return {};
    case IdRole:
        return QVariant::fromValue(quint64(row.id));
    default:
        return {};
    }
}

QVariant InboxListModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal || section < 0 || section >= Inbox::ColumnCount)
        return {};
    if (role == Qt::DisplayRole)
        return QString::fromLatin1(ColumnCaptions[static_cast<std::size_t>(section)]);
    if (role == Qt::ToolTipRole && section == int(Inbox::Column::Attachment))
        return QString::fromLatin1(AttachmentTip);
    return {};
}

void InboxListModel::sort(int column, Qt::SortOrder order)
{
    if (column < 0 || column >= Inbox::ColumnCount)
        return;
    const auto chosen = static_cast<Inbox::Column>(column);
    const bool descending = order == Qt::DescendingOrder;
    if (needsFacts(chosen) && chosen != m_rows.column())
        whenFactsRead([this, chosen, descending] { sortNow(chosen, descending); });
    else
        sortNow(chosen, descending);
}

void InboxListModel::sortNow(Inbox::Column column, bool descending)
{
    takeArrivals();
    emit layoutAboutToBeChanged({}, QAbstractItemModel::VerticalSortHint);
    const QModelIndexList before = persistentIndexList();
    std::vector<quint64> ids;
    ids.reserve(std::size_t(before.size()));
    for (const QModelIndex& index : before)
        ids.push_back(idAt(index.row()));
    m_rows.sortBy(column, descending);
    QModelIndexList after;
    after.reserve(before.size());
    for (qsizetype i = 0; i < before.size(); ++i) {
        const QModelIndex found = indexOfId(ids[std::size_t(i)]);
        after << (found.isValid() ? index(found.row(), before[i].column()) : QModelIndex());
    }
    changePersistentIndexList(before, after);
    emit layoutChanged({}, QAbstractItemModel::VerticalSortHint);
}

void InboxListModel::whenFactsRead(std::function<void()> step)
{
    if (m_factsRead >= m_facts.size() && m_waiting.empty())
        return step();
    m_waiting.push_back(std::move(step));
    m_reading.start();
}

void InboxListModel::readFactsSlice()
{
    const auto until = std::chrono::steady_clock::now() + ReadingSlice;
    while (m_factsRead < m_facts.size() && std::chrono::steady_clock::now() < until) {
        if (!m_facts[m_factsRead])
            factsOf(m_store.emailId(static_cast<std::int16_t>(m_factsRead + 1)));
        ++m_factsRead;
    }
    if (m_factsRead < m_facts.size())
        return;
    m_reading.stop();
    for (const auto& step : std::exchange(m_waiting, {}))
        step();
}

std::optional<Inbox::Row> InboxListModel::listed(std::int16_t position)
{
    Inbox::Row row = Inbox::rowOf(m_store, position);
    if (!m_filter.active())
        return row;
    if (m_filter.needsFacts())
        row.facts = factsOf(row.id);
    if (!m_filter.accepts(row, row.facts.get()))
        return std::nullopt;
    return row;
}

QString InboxListModel::setFilter(const QString& query)
{
    if (const std::string error = m_filter.set(query.toStdString(), localZone()); !error.empty())
        return utf8(error);
    if (m_filter.needsFacts())
        whenFactsRead([this] { filterNow(); });
    else
        filterNow();
    return {};
}

void InboxListModel::filterNow()
{
    beginResetModel();
    // The store's messages are listed anew, the gathered ones with them.
    m_arrivals.clear();
    std::vector<Inbox::Row> rows;
    for (int position = 1; position <= m_store.Count(); ++position)
        if (auto row = listed(static_cast<std::int16_t>(position)))
            rows.push_back(std::move(*row));
    m_rows.reset(std::move(rows));
    endResetModel();
}

quint64 InboxListModel::idAt(int row) const
{
    return row >= 0 && row < rowCount() ? m_rows.at(static_cast<std::size_t>(row)).id : 0;
}

QModelIndex InboxListModel::indexOfId(quint64 id) const
{
    const auto shown = m_rows.find(id);
    return shown ? index(static_cast<int>(*shown), 0) : QModelIndex();
}

void InboxListModel::setReadingAhead(bool on)
{
    m_readingAhead = on;
    if (on) {
        m_quiet.start();
        return;
    }
    m_quiet.stop();
    if (m_waiting.empty())
        m_reading.stop();
}

void InboxListModel::emailStored(std::int16_t position)
{
    trapped("InboxListModel::emailStored", [&] {
        m_facts.emplace_back();
        if (m_readingAhead) {
            // Mail is coming: the reading waits for it to stop, unless a sort or filter waits.
            if (m_waiting.empty())
                m_reading.stop();
            m_quiet.start();
        }
        if (m_gathering) {
            m_arrivals.push_back(m_store.emailId(position));
            if (m_arrivals.size() == 1)
                emit arrivalsGathered();
        } else if (auto row = listed(position)) {
            list(std::move(*row));
        }
    });
}

void InboxListModel::list(Inbox::Row row)
{
    const int shown = static_cast<int>(m_rows.placeOf(row));
    beginInsertRows({}, shown, shown);
    m_rows.insert(std::move(row));
    endInsertRows();
}

void InboxListModel::setGathering(bool on)
{
    if (!on)
        takeArrivals();
    m_gathering = on;
}

bool InboxListModel::gathered(quint64 id) const
{
    return std::find(m_arrivals.rbegin(), m_arrivals.rend(), id) != m_arrivals.rend();
}

void InboxListModel::takeArrivals()
{
    if (m_arrivals.empty())
        return;
    std::vector<Inbox::Row> rows;
    rows.reserve(m_arrivals.size());
    for (const std::uint64_t id : std::exchange(m_arrivals, {}))
        if (const std::int16_t position = m_store.positionOfId(id); position != 0)
            if (auto row = listed(position))
                rows.push_back(std::move(*row));
    if (rows.empty())
        return;
    // Newest first, arrivals go together at the top: one insertion for all of them, so that the
    // view lays out and repaints once. In another order they go where each belongs.
    const std::size_t first = m_rows.placeOf(rows.front());
    const bool together
        = std::all_of(rows.begin(), rows.end(), [&](Inbox::Row& row) { return m_rows.placeOf(row) == first; });
    if (!together) {
        for (Inbox::Row& row : rows)
            list(std::move(row));
        return;
    }
    beginInsertRows({}, int(first), int(first + rows.size() - 1));
    for (Inbox::Row& row : rows)
        m_rows.insert(std::move(row));
    endInsertRows();
}

void InboxListModel::emailRemoved(std::int16_t position, std::uint64_t id)
{
    trapped("InboxListModel::emailRemoved", [&] {
        if (position >= 1 && std::size_t(position) <= m_facts.size()) {
            m_facts.erase(m_facts.begin() + (position - 1));
            if (std::size_t(position) <= m_factsRead)
                --m_factsRead;
        }
        if (const auto waiting = std::find(m_arrivals.begin(), m_arrivals.end(), id); waiting != m_arrivals.end()) {
            m_arrivals.erase(waiting);
            return;
        }
        const auto shown = m_rows.find(id);
        if (!shown)
            return;
        beginRemoveRows({}, int(*shown), int(*shown));
        m_rows.removeAt(*shown);
        endRemoveRows();
    });
}

void InboxListModel::emailsCleared()
{
    beginResetModel();
    m_arrivals.clear();
    m_facts.clear();
    m_factsRead = 0;
    m_rows.reset({});
    endResetModel();
}

void InboxListModel::emailMarkedRead(std::int16_t, std::uint64_t id)
{
    if (const auto shown = m_rows.find(id)) {
        m_rows.markRead(*shown);
        emit dataChanged(index(int(*shown), 0), index(int(*shown), Inbox::ColumnCount - 1), {Qt::FontRole});
    }
}
