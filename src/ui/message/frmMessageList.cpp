#include "frmMessage.h"

#include <algorithm>
#include <chrono>
#include <functional>
#include <utility>

#include <QCache>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QStaticText>
#include <QStyledItemDelegate>
#include <QTableView>
#include <QVBoxLayout>

#include "ErrorReport.h"
#include "InboxListModel.h"
#include "QtLatin1.h"
#include "clsEmailStorage.h"

namespace {

constexpr const char* FilterPlaceholder = "Filter: from:ann subject:reset is:unread has:attachment";
constexpr const char* FilterTip = "The words of the HTTP API's search; plain words look in the senders, "
                                  "recipients and subjects.";
constexpr const char* FilterErrorText = "Not a search: %1";
// An invalid query shows in the box as well as below it.
constexpr const char* InvalidFilterStyle = "QLineEdit { border: 1px solid #c0392b; }";
// As the main window's: arrivals within this interval of the first are listed and painted together.
constexpr std::chrono::milliseconds ListRepaintInterval{100};
// During a burst the list lists and paints for at most one part in this many of the time: a
// machine on which that takes longer than 5 ms lists a burst less often rather than spending its
// time on the list instead of on capturing.
constexpr int ListPaintShare = 20;

// The message list, which tells how long each paint took: bursts of arrivals are listed at a
// pace that leaves the time to capturing them.
class MessageListView final : public QTableView {
public:
    using Painted = std::function<void(std::chrono::nanoseconds)>;
    explicit MessageListView(Painted painted) : m_painted(std::move(painted)) { }

protected:
    void paintEvent(QPaintEvent* event) override
    {
        const auto start = std::chrono::steady_clock::now();
        QTableView::paintEvent(event);
        m_painted(std::chrono::steady_clock::now() - start);
    }

private:
    Painted m_painted;
};

// Draws a row's text on one line, cut with an ellipsis, from a laid-out text kept by its words,
// width and weight: the style's own item text is laid out as a paragraph and measured twice per
// cell on every paint, and every arrival repaints the rows in view, which then cost more than
// capturing the message. Kept texts stay valid when the rows move, so a paint after an arrival
// lays out only the new row's.
class OneLineDelegate final : public QStyledItemDelegate {
public:
    using QStyledItemDelegate::QStyledItemDelegate;

    void paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override
    {
        QStyleOptionViewItem item = option;
        initStyleOption(&item, index);
        const bool selected = item.state & QStyle::State_Selected;
        const QPalette::ColorGroup group = item.state & QStyle::State_Enabled ? QPalette::Normal : QPalette::Disabled;
        if (selected)
            painter->fillRect(item.rect, item.palette.brush(group, QPalette::Highlight));
        if (!item.icon.isNull())
            item.icon.paint(painter, item.rect, Qt::AlignCenter);
        if (item.text.isEmpty())
            return;
        const QRect box = item.rect.adjusted(TextMargin, 0, -TextMargin, 0);
        const QStaticText& text = laidOut(item, box.width());
        const QSizeF size = text.size();
        const qreal x = item.displayAlignment & Qt::AlignRight ? box.right() + 1 - size.width() : box.left();
        painter->save();
        painter->setFont(item.font);
        painter->setPen(item.palette.color(group, selected ? QPalette::HighlightedText : QPalette::Text));
        painter->drawStaticText(QPointF(x, box.top() + (box.height() - size.height()) / 2), text);
        painter->restore();
    }

private:
    static constexpr int TextMargin = 4;
    // Enough for the rows in view many times over; a text is laid out again when it drops out.
    static constexpr int KeptTexts = 4000;

    const QStaticText& laidOut(const QStyleOptionViewItem& item, int width) const
    {
        const QString key = QString::number(width) + (item.font.bold() ? u'b' : u'r') + item.text;
        if (QStaticText* kept = m_texts.object(key))
            return *kept;
        auto* text = new QStaticText(item.fontMetrics.elidedText(item.text, Qt::ElideRight, width));
        text->setTextFormat(Qt::PlainText);
        text->setPerformanceHint(QStaticText::AggressiveCaching);
        text->prepare(QTransform(), item.font);
        m_texts.insert(key, text);
        return *text;
    }

    mutable QCache<QString, QStaticText> m_texts{KeptTexts};
};

} // namespace

QWidget* frmMessage::buildListPane()
{
    m_listPane = new QWidget;
    m_listPane->setObjectName(QStringLiteral("listPane"));
    auto* layout = new QVBoxLayout(m_listPane);
    layout->setContentsMargins(0, 0, 0, 0);
    txtListFilter = new QLineEdit;
    txtListFilter->setObjectName(QStringLiteral("txtListFilter"));
    txtListFilter->setPlaceholderText(fromLatin1(FilterPlaceholder));
    txtListFilter->setToolTip(fromLatin1(FilterTip));
    txtListFilter->setClearButtonEnabled(true);
    layout->addWidget(txtListFilter);
    lblListFilterError = new QLabel;
    lblListFilterError->setObjectName(QStringLiteral("lblListFilterError"));
    lblListFilterError->setTextFormat(Qt::PlainText);
    lblListFilterError->setWordWrap(true);
    lblListFilterError->hide();
    layout->addWidget(lblListFilterError);
    lstMessages = new MessageListView([this](std::chrono::nanoseconds took) {
        m_listPaintTook = took + std::exchange(m_listTakeTook, {});
        m_listPaintEnded = std::chrono::steady_clock::now();
    });
    lstMessages->setObjectName(QStringLiteral("lstMessages"));
    lstMessages->setSelectionBehavior(QAbstractItemView::SelectRows);
    lstMessages->setSelectionMode(QAbstractItemView::SingleSelection);
    lstMessages->setEditTriggers(QAbstractItemView::NoEditTriggers);
    lstMessages->setShowGrid(false);
    lstMessages->setWordWrap(false);
    lstMessages->setItemDelegate(new OneLineDelegate(lstMessages));
    lstMessages->verticalHeader()->hide();
    // Every row is one line: a view that measured rows would read every message's facts.
    lstMessages->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    lstMessages->verticalHeader()->setDefaultSectionSize(lstMessages->fontMetrics().height() + 6);
    lstMessages->horizontalHeader()->setHighlightSections(false);
    lstMessages->horizontalHeader()->setSortIndicatorShown(true);
    layout->addWidget(lstMessages, 1);
    connect(txtListFilter, &QLineEdit::textChanged, this, &frmMessage::txtListFilter_Change);
    m_listRepaint.setSingleShot(true);
    connect(&m_listRepaint, &QTimer::timeout, this, &frmMessage::listArrivalsDue);
    return m_listPane;
}

void frmMessage::makeList(clsEmailStorage& store)
{
    m_listModel = new InboxListModel(store, this);
    lstMessages->setModel(m_listModel);
    QHeaderView* header = lstMessages->horizontalHeader();
    header->setSectionResizeMode(QHeaderView::Interactive);
    header->setSectionResizeMode(int(Inbox::Column::Subject), QHeaderView::Stretch);
    header->setStretchLastSection(false);
    header->resizeSection(int(Inbox::Column::Sender), 110);
    header->resizeSection(int(Inbox::Column::Received), 80);
    header->resizeSection(int(Inbox::Column::Size), 72);
    header->resizeSection(int(Inbox::Column::Attachment), 24);
    // Newest first; a click on a column's title sorts by it (the model sorts, once per click).
    header->setSortIndicator(int(Inbox::Column::Received), Qt::DescendingOrder);
    lstMessages->setSortingEnabled(true);
    connect(lstMessages->selectionModel(), &QItemSelectionModel::currentRowChanged, this,
            &frmMessage::lstMessages_CurrentChanged);
    connect(m_listModel, &QAbstractItemModel::rowsInserted, this, &frmMessage::listRowsArrived);
    m_listModel->setGathering(true);
    m_listModel->setReadingAhead(listShown());
    connect(m_listModel, &InboxListModel::arrivalsGathered, this, &frmMessage::listArrivalsGathered);
}

void frmMessage::selectShown()
{
    // A message on show before its row is listed is selected when the row comes.
    if (!m_listModel || m_listModel->gathered(shownId()))
        return;
    const QModelIndex index = m_listModel->indexOfId(shownId());
    QItemSelectionModel* selection = lstMessages->selectionModel();
    if (index.isValid() ? index == selection->currentIndex() && selection->isRowSelected(index.row())
                        : !selection->hasSelection())
        return;
    m_selectingShown = true;
    if (index.isValid()) {
        selection->setCurrentIndex(index, QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
        lstMessages->scrollTo(index);
    } else {
        selection->clear();
    }
    m_selectingShown = false;
}

void frmMessage::listRowsArrived()
{
    // The main window may hear of an arrival before the list does, and show it first: its row is
    // selected once it is there.
    if (m_listModel->idAt(lstMessages->currentIndex().row()) != shownId())
        selectShown();
}

std::chrono::nanoseconds frmMessage::listInterval() const
{
    return std::max<std::chrono::nanoseconds>(ListRepaintInterval, m_listPaintTook * ListPaintShare);
}

void frmMessage::listArrivalsGathered()
{
    // Listing and painting the rows of every message of a burst of thousands would cost far more
    // than capturing them: the first arrival is listed at once, later ones within the interval
    // (counted from the last paint) together.
    if (m_listRepaint.isActive())
        return;
    const auto since = std::chrono::steady_clock::now() - m_listPaintEnded;
    const std::chrono::nanoseconds interval = listInterval();
    if (since >= interval)
        return listArrivalsDue();
    m_listRepaint.start(std::chrono::ceil<std::chrono::milliseconds>(interval - since));
}

void frmMessage::listArrivalsDue()
{
    if (!m_listModel->arrivalsWaiting())
        return;
    const auto start = std::chrono::steady_clock::now();
    m_listModel->takeArrivals();
    m_listTakeTook += std::chrono::steady_clock::now() - start;
    m_listRepaint.start(std::chrono::ceil<std::chrono::milliseconds>(listInterval()));
}

void frmMessage::lstMessages_CurrentChanged()
{
    if (m_selectingShown)
        return;
    trapped("lstMessages_CurrentChanged", [&] {
        const quint64 id = m_listModel->idAt(lstMessages->currentIndex().row());
        if (id != 0 && id != shownId())
            emit messageChosen(id);
    });
}

void frmMessage::txtListFilter_Change()
{
    trapped("txtListFilter_Change", [&] {
        if (!m_listModel)
            return;
        const QString error = m_listModel->setFilter(txtListFilter->text());
        lblListFilterError->setText(error.isEmpty() ? QString() : fromLatin1(FilterErrorText).arg(error));
        lblListFilterError->setVisible(!error.isEmpty());
        txtListFilter->setStyleSheet(error.isEmpty() ? QString() : fromLatin1(InvalidFilterStyle));
        selectShown();
    });
}
