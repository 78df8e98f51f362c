#include "LogListBox.h"

#include <algorithm>
#include <climits>
#include <limits>

#include <QKeyEvent>
#include <QMouseEvent>
#include <QPaintEvent>
#include <QPainter>
#include <QScrollBar>
#include <QStyle>
#include <QStyleOptionFocusRect>

#include "AppError.h"

namespace {
// Large enough that a million typical lines need a few hundred allocations.
constexpr std::size_t BlockSize = 64 * 1024;
// Room between the list's left edge and its text.
constexpr int TextMargin = 2;

int clampToInt(qsizetype value)
{
    return int(std::clamp<qsizetype>(value, 0, INT_MAX));
}
} // namespace

LogListBox::LogListBox(QWidget* parent)
    : QAbstractScrollArea(parent)
{
    setFocusPolicy(Qt::StrongFocus);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    viewport()->setBackgroundRole(QPalette::Base);
    verticalScrollBar()->setSingleStep(1);
    updateVerticalRange();
    updateHorizontalRange();
}

void LogListBox::AddLine(std::string_view text)
{
    if (text.size() > std::numeric_limits<std::uint32_t>::max())
        throw OverflowError();
    if (m_blocks.empty() || m_blocks.back().size() + text.size() > m_blocks.back().capacity()) {
        std::string block;
        block.reserve(std::max(BlockSize, text.size()));
        m_blocks.push_back(std::move(block));
    }
    std::string& block = m_blocks.back();
    m_lines.push_back({std::uint32_t(m_blocks.size() - 1), std::uint32_t(block.size()), std::uint32_t(text.size())});
    block.append(text); // within the reserved capacity: no reallocation, cannot fail

    const qsizetype index = LineCount() - 1;
    updateVerticalRange();
    if (index <= TopIndex() + VisibleLineCount())
        viewport()->update();
}

void LogListBox::Clear()
{
    m_lines = {};
    m_blocks = {};
    m_selected = -1;
    updateVerticalRange();
    viewport()->update();
}

std::string_view LogListBox::Line(qsizetype index) const
{
    if (index < 0 || index >= LineCount())
        throw SubscriptOutOfRangeError();
    const LineRef& ref = m_lines[std::size_t(index)];
    return std::string_view(m_blocks[ref.block]).substr(ref.offset, ref.length);
}

void LogListBox::SetSelectedIndex(qsizetype index)
{
    if (index < -1 || index >= LineCount())
        throw SubscriptOutOfRangeError();
    if (index == m_selected)
        return;
    m_selected = index;
    viewport()->update();
}

void LogListBox::SetHorizontalExtent(int pixels)
{
    m_extent = std::max(0, pixels);
    updateHorizontalRange();
}

void LogListBox::ScrollToBottom()
{
    updateVerticalRange();
    verticalScrollBar()->setValue(verticalScrollBar()->maximum());
}

void LogListBox::EnsureVisible(qsizetype index)
{
    if (index < 0 || index >= LineCount())
        return;
    const qsizetype top = TopIndex();
    if (index < top)
        verticalScrollBar()->setValue(clampToInt(index));
    else if (index >= top + VisibleLineCount())
        verticalScrollBar()->setValue(clampToInt(index - VisibleLineCount() + 1));
}

qsizetype LogListBox::TopIndex() const
{
    return verticalScrollBar()->value();
}

qsizetype LogListBox::VisibleLineCount() const
{
    return std::max(1, viewport()->height() / LineHeight());
}

int LogListBox::LineHeight() const
{
    return std::max(1, fontMetrics().height());
}

QRect LogListBox::LineRect(qsizetype index) const
{
    const int height = LineHeight();
    return QRect(0, clampToInt((index - TopIndex()) * height), viewport()->width(), height);
}

void LogListBox::paintEvent(QPaintEvent* event)
{
    QPainter painter(viewport());
    const QRect area = event->rect();
    painter.fillRect(area, palette().base());

    const int height = LineHeight();
    const qsizetype top = TopIndex();
    const qsizetype first = top + std::max(0, area.top()) / height;
    const qsizetype last = std::min(LineCount() - 1, top + area.bottom() / height);
    const int x = TextMargin - horizontalScrollBar()->value();
    const int ascent = fontMetrics().ascent();
    for (qsizetype i = first; i <= last; ++i) {
        const QRect row = LineRect(i);
        const bool selected = i == m_selected;
        if (selected)
            painter.fillRect(row, palette().highlight());
        painter.setPen(palette().color(selected ? QPalette::HighlightedText : QPalette::Text));
        const std::string_view line = Line(i);
        painter.drawText(QPoint(x, row.top() + ascent), QString::fromLatin1(line.data(), qsizetype(line.size())));
        if (selected && hasFocus()) {
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
    const qsizetype index = TopIndex() + y / LineHeight();
    if (index < LineCount())
        pickLine(index, true);
}

void LogListBox::keyPressEvent(QKeyEvent* event)
{
    const qsizetype count = LineCount();
    const qsizetype from = m_selected < 0 ? TopIndex() : m_selected;
    const qsizetype page = std::max<qsizetype>(1, VisibleLineCount() - 1);
    qsizetype target = 0;
    switch (event->key()) {
    case Qt::Key_Up: target = m_selected < 0 ? from : from - 1; break;
    case Qt::Key_Down: target = m_selected < 0 ? from : from + 1; break;
    case Qt::Key_PageUp: target = from - page; break;
    case Qt::Key_PageDown: target = from + page; break;
    case Qt::Key_Home: target = 0; break;
    case Qt::Key_End: target = count - 1; break;
    default:
        // Left and right scroll sideways, as the scroll area does by itself.
        QAbstractScrollArea::keyPressEvent(event);
        return;
    }
    event->accept();
    if (count > 0)
        pickLine(std::clamp<qsizetype>(target, 0, count - 1), false);
}

void LogListBox::scrollContentsBy(int, int)
{
    viewport()->update();
}

void LogListBox::updateVerticalRange()
{
    const qsizetype rows = VisibleLineCount();
    QScrollBar* bar = verticalScrollBar();
    bar->setRange(0, clampToInt(LineCount() - rows));
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
    SetSelectedIndex(index);
    EnsureVisible(index);
    // A key that cannot move further picks nothing new; a click always counts.
    if (changed || byMouse)
        emit Click();
}
