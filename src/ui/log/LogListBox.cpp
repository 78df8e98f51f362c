#include "LogListBox.h"

#include <algorithm>
#include <climits>

#include <QAccessibleWidget>
#include <QClipboard>
#include <QContextMenuEvent>
#include <QGuiApplication>
#include <QHash>
#include <QKeyEvent>
#include <QMenu>
#include <QMouseEvent>
#include <QPointer>
#include <QPaintEvent>
#include <QPainter>
#include <QScrollBar>
#include <QStyle>
#include <QStyleOptionFocusRect>

#include "AppError.h"
#include "EditCaptions.h"
#include "LogBuffer.h"
#include "QtLatin1.h"

namespace {

// Room between the list's left edge and its text.
constexpr int TextMargin = 2;
// Line items a screen reader asked for are kept, up to this many, until the list goes.
constexpr qsizetype MaxAccessibleItems = 1024;

int clampToInt(qsizetype value)
{
    return int(std::clamp<qsizetype>(value, 0, INT_MAX));
}

// One line as a screen reader sees it; it stands for a row, whatever line is there now.
class LogLineAccessible : public QAccessibleInterface {
public:
    LogLineAccessible(LogListBox* list, qsizetype row) : m_list(list), m_row(row) { }

    const LogListBox* list() const { return m_list; }
    qsizetype row() const { return m_row; }

    bool isValid() const override { return m_list && m_row < m_list->lineCount(); }
    QObject* object() const override { return nullptr; }
    QWindow* window() const override { return m_list ? m_list->window()->windowHandle() : nullptr; }
    QAccessibleInterface* parent() const override { return QAccessible::queryAccessibleInterface(m_list.data()); }
    QAccessibleInterface* child(int) const override { return nullptr; }
    QAccessibleInterface* childAt(int, int) const override { return nullptr; }
    int childCount() const override { return 0; }
    int indexOfChild(const QAccessibleInterface*) const override { return -1; }
    QAccessible::Role role() const override { return QAccessible::ListItem; }
    void setText(QAccessible::Text, const QString&) override { }

    QString text(QAccessible::Text t) const override
    {
        if (t != QAccessible::Name || !isValid())
            return {};
        return fromLatin1(m_list->line(m_row));
    }

    QRect rect() const override
    {
        if (!isValid())
            return {};
        const QRect local = m_list->lineRect(m_row);
        return QRect(m_list->viewport()->mapToGlobal(local.topLeft()), local.size());
    }

    QAccessible::State state() const override
    {
        QAccessible::State state;
        state.selectable = true;
        state.focusable = true;
        if (!isValid()) {
            state.invalid = true;
            return state;
        }
        state.selected = m_list->isSelected(m_row);
        state.focused = m_row == m_list->selectedIndex() && m_list->hasFocus();
        const qsizetype top = m_list->topIndex();
        state.offscreen = m_row < top || m_row >= top + m_list->visibleLineCount();
        state.invisible = state.offscreen;
        return state;
    }

private:
    QPointer<LogListBox> m_list;
    qsizetype m_row;
};

// The list as a screen reader sees it: its lines, made into items only when asked for.
class LogListAccessible : public QAccessibleWidget {
public:
    explicit LogListAccessible(LogListBox* list) : QAccessibleWidget(list, QAccessible::List) { }

    ~LogListAccessible() override
    {
        for (QAccessible::Id id : std::as_const(m_items))
            QAccessible::deleteAccessibleInterface(id);
    }

    int childCount() const override { return clampToInt(list()->lineCount()); }

    QAccessibleInterface* child(int index) const override
    {
        if (index < 0 || index >= list()->lineCount())
            return nullptr;
        if (const auto found = m_items.constFind(index); found != m_items.cend())
            return QAccessible::accessibleInterface(*found);
        if (m_items.size() >= MaxAccessibleItems) {
            for (QAccessible::Id id : std::as_const(m_items))
                QAccessible::deleteAccessibleInterface(id);
            m_items.clear();
        }
        auto* item = new LogLineAccessible(list(), index);
        m_items.insert(index, QAccessible::registerAccessibleInterface(item));
        return item;
    }

    int indexOfChild(const QAccessibleInterface* child) const override
    {
        const auto* item = dynamic_cast<const LogLineAccessible*>(child);
        return item && item->list() == list() && item->isValid() ? clampToInt(item->row()) : -1;
    }

    QAccessibleInterface* childAt(int x, int y) const override
    {
        const QPoint at = list()->viewport()->mapFromGlobal(QPoint(x, y));
        if (!list()->viewport()->rect().contains(at))
            return nullptr;
        const qsizetype row = list()->topIndex() + at.y() / list()->lineHeight();
        return row < list()->lineCount() ? child(clampToInt(row)) : nullptr;
    }

    QAccessibleInterface* focusChild() const override
    {
        const qsizetype selected = list()->selectedIndex();
        return list()->hasFocus() && selected >= 0 ? child(clampToInt(selected)) : nullptr;
    }

private:
    LogListBox* list() const { return static_cast<LogListBox*>(widget()); }

    mutable QHash<qsizetype, QAccessible::Id> m_items;
};

QAccessibleInterface* accessibleLogList(const QString&, QObject* object)
{
    auto* list = qobject_cast<LogListBox*>(object);
    return list ? new LogListAccessible(list) : nullptr;
}
} // namespace

LogListBox::LogListBox(LogBuffer& lines, QWidget* parent) : QAbstractScrollArea(parent), m_lines(lines)
{
    static const bool accessible = (QAccessible::installFactory(accessibleLogList), true);
    Q_UNUSED(accessible);
    setFocusPolicy(Qt::StrongFocus);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    viewport()->setBackgroundRole(QPalette::Base);
    verticalScrollBar()->setSingleStep(1);
    updateVerticalRange();
    updateHorizontalRange();
}

void LogListBox::addLine(std::string_view text)
{
    lineAppended(m_lines.append(text));
}

void LogListBox::lineAppended(std::size_t droppedLines)
{
    const qsizetype gone = qsizetype(droppedLines);
    const bool noticeBefore = m_lines.dropped() > droppedLines;
    // When old lines went every entry moved up, and the selection with its entry unless that went.
    // The notice of dropped lines stays on top, in the place of the first dropped line.
    if (gone > 0 && m_selected >= 0 && !(noticeBefore && m_selected == 0)) {
        const qsizetype kept = m_selected - (noticeBefore ? 1 : 0);
        m_selected = kept < gone ? -1 : kept - gone + 1;
    }
    updateVerticalRange();
    if (gone > 0 || lineCount() - 1 <= topIndex() + visibleLineCount())
        viewport()->update();
    // Dropped lines move every item up: a reader learns that the list changed as a whole.
    if (QAccessible::isActive()) {
        if (gone > 0)
            announce(QAccessible::ObjectReorder, -1);
        else
            announce(QAccessible::ObjectCreated, lineCount() - 1);
    }
}

void LogListBox::Clear()
{
    m_lines.Clear();
    m_selected = -1;
    m_allSelected = false;
    updateVerticalRange();
    viewport()->update();
    if (QAccessible::isActive())
        announce(QAccessible::ObjectReorder, -1);
}

qsizetype LogListBox::lineCount() const
{
    return qsizetype(m_lines.Count());
}

std::string_view LogListBox::line(qsizetype index) const
{
    if (index < 0)
        throw subscriptOutOfRangeError();
    return m_lines.line(std::size_t(index));
}

void LogListBox::setSelectedIndex(qsizetype index)
{
    if (index < -1 || index >= lineCount())
        throw subscriptOutOfRangeError();
    if (index == m_selected && !m_allSelected)
        return;
    m_selected = index;
    m_allSelected = false;
    viewport()->update();
    if (index >= 0 && QAccessible::isActive()) {
        if (hasFocus())
            announce(QAccessible::Focus, index);
        announce(QAccessible::Selection, index);
    }
}

void LogListBox::selectAll()
{
    if (lineCount() == 0)
        return;
    m_allSelected = true;
    viewport()->update();
    if (QAccessible::isActive())
        announce(QAccessible::SelectionWithin, -1);
}

void LogListBox::copy() const
{
    if (m_allSelected)
        copyAll();
    else if (m_selected >= 0)
        QGuiApplication::clipboard()->setText(joinedLines(m_selected, m_selected));
}

void LogListBox::copyAll() const
{
    if (lineCount() > 0)
        QGuiApplication::clipboard()->setText(joinedLines(0, lineCount() - 1));
}

QString LogListBox::joinedLines(qsizetype first, qsizetype last) const
{
    std::string text;
    for (qsizetype i = first; i <= last; ++i) {
        if (i > first)
            text += '\n';
        text += line(i);
    }
    return fromLatin1(text);
}

void LogListBox::announce(QAccessible::Event what, qsizetype index)
{
    QAccessibleEvent event(this, what);
    if (index >= 0)
        event.setChild(clampToInt(index));
    QAccessible::updateAccessibility(&event);
}

void LogListBox::setHorizontalExtent(int pixels)
{
    m_extent = std::max(0, pixels);
    updateHorizontalRange();
}

void LogListBox::scrollToBottom()
{
    updateVerticalRange();
    verticalScrollBar()->setValue(verticalScrollBar()->maximum());
}

void LogListBox::ensureVisible(qsizetype index)
{
    if (index < 0 || index >= lineCount())
        return;
    const qsizetype top = topIndex();
    if (index < top)
        verticalScrollBar()->setValue(clampToInt(index));
    else if (index >= top + visibleLineCount())
        verticalScrollBar()->setValue(clampToInt(index - visibleLineCount() + 1));
}

qsizetype LogListBox::topIndex() const
{
    return verticalScrollBar()->value();
}

qsizetype LogListBox::visibleLineCount() const
{
    return std::max(1, viewport()->height() / lineHeight());
}

int LogListBox::lineHeight() const
{
    return std::max(1, fontMetrics().height());
}

QRect LogListBox::lineRect(qsizetype index) const
{
    const int height = lineHeight();
    return QRect(0, clampToInt((index - topIndex()) * height), viewport()->width(), height);
}

void LogListBox::paintEvent(QPaintEvent* event)
{
    QPainter painter(viewport());
    const QRect area = event->rect();
    painter.fillRect(area, palette().base());

    const int height = lineHeight();
    const qsizetype top = topIndex();
    const qsizetype first = top + std::max(0, area.top()) / height;
    const qsizetype last = std::min(lineCount() - 1, top + area.bottom() / height);
    const int x = TextMargin - horizontalScrollBar()->value();
    const int ascent = fontMetrics().ascent();
    for (qsizetype i = first; i <= last; ++i) {
        const QRect row = lineRect(i);
        const bool selected = isSelected(i);
        if (selected)
            painter.fillRect(row, palette().highlight());
        painter.setPen(palette().color(selected ? QPalette::HighlightedText : QPalette::Text));
        const std::string_view text = line(i);
        painter.drawText(QPoint(x, row.top() + ascent), QString::fromLatin1(text.data(), qsizetype(text.size())));
        if (i == m_selected && hasFocus()) {
            QStyleOptionFocusRect focus;
            focus.initFrom(this);
            focus.rect = row;
            focus.backgroundColor = palette().highlight().color();
            style()->drawPrimitive(QStyle::PE_FrameFocusRect, &focus, &painter, this);
        }
    }
}

void LogListBox::resizeEvent(QResizeEvent* event)
{
    // A log read at its end stays at its end when the view changes size.
    QScrollBar* bar = verticalScrollBar();
    const bool atBottom = bar->value() == bar->maximum();
    QAbstractScrollArea::resizeEvent(event);
    updateVerticalRange();
    updateHorizontalRange();
    if (atBottom)
        bar->setValue(bar->maximum());
}

void LogListBox::changeEvent(QEvent* event)
{
    QAbstractScrollArea::changeEvent(event);
    if (event->type() == QEvent::FontChange || event->type() == QEvent::StyleChange) {
        updateVerticalRange();
        updateHorizontalRange();
        viewport()->update();
    }
}

void LogListBox::mousePressEvent(QMouseEvent* event)
{
    if (event->button() != Qt::LeftButton) {
        QAbstractScrollArea::mousePressEvent(event);
        return;
    }
    const int y = event->position().toPoint().y();
    if (y < 0)
        return;
    const qsizetype index = topIndex() + y / lineHeight();
    if (index < lineCount())
        pickLine(index, true);
}

void LogListBox::keyPressEvent(QKeyEvent* event)
{
    if (event->matches(QKeySequence::Copy)) {
        copy();
        return;
    }
    if (event->matches(QKeySequence::SelectAll)) {
        selectAll();
        return;
    }
    const qsizetype count = lineCount();
    const qsizetype from = m_selected < 0 ? topIndex() : m_selected;
    const qsizetype page = std::max<qsizetype>(1, visibleLineCount() - 1);
    qsizetype target = 0;
    switch (event->key()) {
    case Qt::Key_Up:
        target = m_selected < 0 ? from : from - 1;
        break;
    case Qt::Key_Down:
        target = m_selected < 0 ? from : from + 1;
        break;
    case Qt::Key_PageUp:
        target = from - page;
        break;
    case Qt::Key_PageDown:
        target = from + page;
        break;
    case Qt::Key_Home:
        target = 0;
        break;
    case Qt::Key_End:
        target = count - 1;
        break;
    default:
        // Left and right scroll sideways, as the scroll area does by itself.
        QAbstractScrollArea::keyPressEvent(event);
        return;
    }
    event->accept();
    if (count > 0)
        pickLine(std::clamp<qsizetype>(target, 0, count - 1), false);
}

void LogListBox::contextMenuEvent(QContextMenuEvent* event)
{
    QMenu menu(this);
    QAction* copy = menu.addAction(fromLatin1(EditCaptions::Copy), this, &LogListBox::copy);
    copy->setShortcut(QKeySequence::Copy);
    copy->setEnabled(m_allSelected || m_selected >= 0);
    menu.addAction(fromLatin1(EditCaptions::CopyAll), this, &LogListBox::copyAll)->setEnabled(lineCount() > 0);
    menu.addSeparator();
    QAction* selectAll = menu.addAction(fromLatin1(EditCaptions::SelectAll), this, &LogListBox::selectAll);
    selectAll->setShortcut(QKeySequence::SelectAll);
    selectAll->setEnabled(lineCount() > 0);
    menu.exec(event->globalPos());
}

void LogListBox::scrollContentsBy(int, int)
{
    viewport()->update();
}

void LogListBox::updateVerticalRange()
{
    const qsizetype rows = visibleLineCount();
    QScrollBar* bar = verticalScrollBar();
    bar->setRange(0, clampToInt(lineCount() - rows));
    bar->setPageStep(clampToInt(rows));
}

void LogListBox::updateHorizontalRange()
{
    const int width = viewport()->width();
    QScrollBar* bar = horizontalScrollBar();
    bar->setRange(0, std::max(0, m_extent - width));
    bar->setPageStep(std::max(1, width));
    bar->setSingleStep(std::max(1, fontMetrics().averageCharWidth()));
}

void LogListBox::pickLine(qsizetype index, bool byMouse)
{
    const bool changed = index != m_selected;
    setSelectedIndex(index);
    ensureVisible(index);
    // A key that cannot move further picks nothing new; a click always counts.
    if (changed || byMouse)
        emit click();
}
