#include "LogListBox.h"

#include <algorithm>
#include <climits>

#include <QKeyEvent>
#include <QMouseEvent>
#include <QPaintEvent>
#include <QPainter>
#include <QScrollBar>
#include <QStyle>
#include <QStyleOptionFocusRect>

#include "AppError.h"
#include "LogBuffer.h"

namespace {
// Room between the list's left edge and its text.
constexpr int TextMargin = 2;

int clampToInt(qsizetype value)
{
    return int(std::clamp<qsizetype>(value, 0, INT_MAX));
}
} // namespace

LogListBox::LogListBox(LogBuffer& lines, QWidget* parent) : QAbstractScrollArea(parent), m_lines(lines)
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
    const bool noticeBefore = m_lines.Dropped() > 0;
    const qsizetype gone = qsizetype(m_lines.Append(text));
    // When old lines went every entry moved up, and the selection with its entry unless that went.
    // The notice of dropped lines stays on top, in the place of the first dropped line.
    if (gone > 0 && m_selected >= 0 && !(noticeBefore && m_selected == 0)) {
        const qsizetype kept = m_selected - (noticeBefore ? 1 : 0);
        m_selected = kept < gone ? -1 : kept - gone + 1;
    }
    updateVerticalRange();
    if (gone > 0 || LineCount() - 1 <= TopIndex() + VisibleLineCount())
        viewport()->update();
}

void LogListBox::Clear()
{
    m_lines.Clear();
    m_selected = -1;
    updateVerticalRange();
    viewport()->update();
}

qsizetype LogListBox::LineCount() const
{
    return qsizetype(m_lines.Count());
}

std::string_view LogListBox::Line(qsizetype index) const
{
    if (index < 0)
        throw SubscriptOutOfRangeError();
    return m_lines.Line(std::size_t(index));
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
