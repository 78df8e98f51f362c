#include "MessageBodyView.h"

#include <limits>
#include <utility>

#include <QClipboard>
#include <QContextMenuEvent>
#include <QFontMetricsF>
#include <QGlyphRun>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QMenu>
#include <QPainter>
#include <QScrollBar>
#include <QtMath>

#include "AppError.h"

namespace {

constexpr const char* CopyCaption = "&Copy";
constexpr const char* SelectAllCaption = "Select &All";

// Room between the frame and the text, in pixels; the right one keeps a caret at the end in view.
constexpr int LeftMargin = 1;
constexpr int RightMargin = 2;
constexpr int HorizontalStep = 20;

bool IsWordCharacter(char c)
{
    const auto u = static_cast<unsigned char>(c);
    return (u >= '0' && u <= '9') || (u >= 'A' && u <= 'Z') || (u >= 'a' && u <= 'z') || u == '_' ||
           (u >= 0xC0 && u != 0xD7 && u != 0xF7);
}

// One colour's share of what a paint draws: glyphs where the font has them, else characters.
struct GlyphBatch {
    QList<quint32> glyphs;
    QList<QPointF> positions;
    QString characters;

    void add(const Latin1Glyphs& font, char c, QPointF at)
    {
        positions.append(at);
        if (font.valid)
            glyphs.append(font.index[static_cast<unsigned char>(c)]);
        else
            characters.append(QChar(static_cast<unsigned char>(c)));
    }

    void draw(QPainter& painter, const Latin1Glyphs& font, const QColor& colour) const
    {
        if (positions.isEmpty())
            return;
        painter.setPen(colour);
        if (font.valid) {
            QGlyphRun run;
            run.setRawFont(font.raw);
            run.setGlyphIndexes(glyphs);
            run.setPositions(positions);
            painter.drawGlyphRun(QPointF(), run);
            return;
        }
        for (qsizetype i = 0; i < positions.size(); ++i)
            painter.drawText(positions[i], QString(characters[i]));
    }
};

} // namespace

MessageBodyView::MessageBodyView(QWidget* parent)
    : QAbstractScrollArea(parent)
{
    setFocusPolicy(Qt::StrongFocus);
    viewport()->setCursor(Qt::IBeamCursor);
    applyFont();
}

void MessageBodyView::SetText(std::string text)
{
    // Line starts are kept in 32 bits; the capture server keeps no message anywhere near that size.
    if (text.size() >= std::numeric_limits<std::uint32_t>::max())
        throw OverflowError();
    const bool changed = text != m_text;
    if (changed) {
        // Built aside first: a failure leaves the view showing the old text intact.
        std::vector<std::uint32_t> starts{0};
        const TextExtent extent =
            ScanText(text, m_metrics, [&](std::size_t next) { starts.push_back(static_cast<std::uint32_t>(next)); });
        m_text = std::move(text);
        m_lineStarts = std::move(starts);
        m_widest = extent.widest;
    }
    m_anchor = m_caret = 0;
    m_column = 0;
    m_selecting = false;
    updateScrollRanges();
    verticalScrollBar()->setValue(0);
    horizontalScrollBar()->setValue(0);
    viewport()->update();
    if (changed)
        emit TextChanged();
}

void MessageBodyView::SetSelection(std::size_t start, std::size_t length)
{
    start = std::min(start, m_text.size());
    const std::size_t end = start + std::min(length, m_text.size() - start);
    m_anchor = start;
    moveCaret(end, true);
    ensureVisible(start);
}

std::string MessageBodyView::SelectedText() const
{
    return m_text.substr(SelectionStart(), SelectionLength());
}

void MessageBodyView::SelectAll()
{
    m_anchor = 0;
    m_caret = m_text.size();
    viewport()->update();
}

void MessageBodyView::Copy() const
{
    if (SelectionLength() == 0)
        return;
    QGuiApplication::clipboard()->setText(
        QString::fromLatin1(m_text.data() + SelectionStart(), qsizetype(SelectionLength())));
}

std::size_t MessageBodyView::TopLine() const
{
    return static_cast<std::size_t>(verticalScrollBar()->value());
}

int MessageBodyView::ScrolledX() const
{
    return horizontalScrollBar()->value();
}

void MessageBodyView::applyFont()
{
    m_metrics = MetricsForFont(font(), &m_glyphs);
    m_ascent = QFontMetricsF(font()).ascent();
    m_widest = MeasureText(m_text, m_metrics).widest;
    updateScrollRanges();
    viewport()->update();
}

int MessageBodyView::visibleLines() const
{
    return std::max(1, viewport()->height() / m_metrics.lineHeight);
}

void MessageBodyView::updateScrollRanges()
{
    constexpr std::int64_t maxInt = std::numeric_limits<int>::max();
    const int lines = visibleLines();
    const std::int64_t hiddenLines = std::int64_t(LineCount()) - lines;
    verticalScrollBar()->setRange(0, int(std::clamp<std::int64_t>(hiddenLines, 0, maxInt)));
    verticalScrollBar()->setPageStep(lines);
    verticalScrollBar()->setSingleStep(1);

    const std::int64_t contentWidth = (m_widest + 63) / 64 + LeftMargin + RightMargin;
    const int viewWidth = viewport()->width();
    horizontalScrollBar()->setRange(0, int(std::clamp<std::int64_t>(contentWidth - viewWidth, 0, maxInt)));
    horizontalScrollBar()->setPageStep(std::max(1, viewWidth));
    horizontalScrollBar()->setSingleStep(HorizontalStep);
}

std::size_t MessageBodyView::lineOf(std::size_t position) const
{
    const auto next = std::upper_bound(m_lineStarts.begin(), m_lineStarts.end(), position);
    return static_cast<std::size_t>(next - m_lineStarts.begin()) - 1;
}

std::size_t MessageBodyView::lineEnd(std::size_t line) const
{
    if (line + 1 >= m_lineStarts.size())
        return m_text.size();
    std::size_t end = m_lineStarts[line + 1] - 1;
    if (m_text[end] == '\n' && end > m_lineStarts[line] && m_text[end - 1] == '\r')
        --end;
    return end;
}

std::int64_t MessageBodyView::xOf(std::size_t line, std::size_t position) const
{
    const std::size_t end = std::min(position, lineEnd(line));
    std::int64_t x = 0;
    for (std::size_t p = m_lineStarts[line]; p < end; ++p)
        x = m_metrics.After(m_text[p], x);
    return x;
}

std::size_t MessageBodyView::positionAt(std::size_t line, std::int64_t x) const
{
    const std::size_t end = lineEnd(line);
    std::int64_t left = 0;
    for (std::size_t p = m_lineStarts[line]; p < end; ++p) {
        const std::int64_t right = m_metrics.After(m_text[p], left);
        if (x < (left + right) / 2)
            return p;
        left = right;
    }
    return end;
}

std::size_t MessageBodyView::positionAt(QPoint point) const
{
    const std::int64_t row = point.y() >= 0 ? point.y() / m_metrics.lineHeight : -1;
    const std::int64_t line = std::clamp<std::int64_t>(std::int64_t(TopLine()) + row, 0, std::int64_t(LineCount()) - 1);
    return positionAt(std::size_t(line), std::int64_t(point.x() + ScrolledX() - LeftMargin) * 64);
}

std::size_t MessageBodyView::moved(Motion motion, std::size_t position)
{
    const std::size_t size = m_text.size();
    const std::size_t line = lineOf(position);
    const auto lineMoved = [&](std::int64_t by) {
        const std::int64_t target = std::clamp<std::int64_t>(std::int64_t(line) + by, 0, std::int64_t(LineCount()) - 1);
        return positionAt(std::size_t(target), m_column);
    };
    switch (motion) {
    case Motion::NextChar:
        if (position >= size)
            return size;
        return m_text[position] == '\r' && position + 1 < size && m_text[position + 1] == '\n' ? position + 2 : position + 1;
    case Motion::PreviousChar:
        if (position == 0)
            return 0;
        return position >= 2 && m_text[position - 1] == '\n' && m_text[position - 2] == '\r' ? position - 2 : position - 1;
    case Motion::NextWord:
        while (position < size && IsWordCharacter(m_text[position]))
            ++position;
        while (position < size && !IsWordCharacter(m_text[position]))
            ++position;
        return position;
    case Motion::PreviousWord:
        while (position > 0 && !IsWordCharacter(m_text[position - 1]))
            --position;
        while (position > 0 && IsWordCharacter(m_text[position - 1]))
            --position;
        return position;
    case Motion::NextLine:
        return lineMoved(1);
    case Motion::PreviousLine:
        return lineMoved(-1);
    case Motion::NextPage:
        verticalScrollBar()->setValue(verticalScrollBar()->value() + visibleLines());
        return lineMoved(visibleLines());
    case Motion::PreviousPage:
        verticalScrollBar()->setValue(verticalScrollBar()->value() - visibleLines());
        return lineMoved(-visibleLines());
    case Motion::StartOfLine:
        return m_lineStarts[line];
    case Motion::EndOfLine:
        return lineEnd(line);
    case Motion::StartOfText:
        return 0;
    case Motion::EndOfText:
        return size;
    }
    return position;
}

void MessageBodyView::moveCaret(std::size_t position, bool keepAnchor, bool keepColumn)
{
    m_caret = position;
    if (!keepAnchor)
        m_anchor = position;
    if (!keepColumn)
        m_column = xOf(lineOf(position), position);
    ensureVisible(position);
    viewport()->update();
}

void MessageBodyView::ensureVisible(std::size_t position)
{
    const std::size_t line = lineOf(position);
    const std::size_t top = TopLine();
    const auto lines = std::size_t(visibleLines());
    if (line < top)
        verticalScrollBar()->setValue(int(line));
    else if (line >= top + lines)
        verticalScrollBar()->setValue(int(line - lines + 1));

    // A position out of view sideways is brought to the middle, so that its context shows too.
    const std::int64_t x = (xOf(line, position) + 63) / 64 + LeftMargin;
    const int width = viewport()->width();
    if (x < ScrolledX() || x > std::int64_t(ScrolledX()) + width - RightMargin)
        horizontalScrollBar()->setValue(int(std::clamp<std::int64_t>(x - width / 2, 0, std::numeric_limits<int>::max())));
}

void MessageBodyView::paintEvent(QPaintEvent* event)
{
    QPainter painter(viewport());
    QPalette colours = palette();
    colours.setCurrentColorGroup(!isEnabled() ? QPalette::Disabled : isActiveWindow() ? QPalette::Active : QPalette::Inactive);

    const int lineHeight = m_metrics.lineHeight;
    const std::size_t top = TopLine();
    const std::size_t first = std::min(LineCount(), top + std::size_t(std::max(0, event->rect().top()) / lineHeight));
    const std::size_t last = std::min(LineCount(), top + std::size_t(std::max(0, event->rect().bottom()) / lineHeight) + 1);
    // The text's x, in 1/64 pixel, at the viewport's left and right edges.
    const std::int64_t left = std::int64_t(ScrolledX() - LeftMargin) * 64;
    const std::int64_t right = left + std::int64_t(viewport()->width()) * 64;
    const std::size_t selectionStart = SelectionStart();
    const std::size_t selectionEnd = selectionStart + SelectionLength();
    const auto viewX = [&](std::int64_t x) { return qreal(x - left) / 64; };

    GlyphBatch plain;
    GlyphBatch selected;
    for (std::size_t line = first; line < last; ++line) {
        const qreal y = qreal(line - top) * lineHeight;
        const std::size_t end = lineEnd(line);
        std::size_t p = m_lineStarts[line];
        std::int64_t x = 0;
        while (p < end) {
            const std::int64_t next = m_metrics.After(m_text[p], x);
            if (next > left)
                break;
            x = next;
            ++p;
        }
        qreal highlightFrom = -1;
        qreal highlightTo = -1;
        for (; p < end && x < right; ++p) {
            const char c = m_text[p];
            const std::int64_t next = m_metrics.After(c, x);
            const bool inSelection = p >= selectionStart && p < selectionEnd;
            if (inSelection) {
                if (highlightFrom < 0)
                    highlightFrom = viewX(x);
                highlightTo = viewX(next);
            }
            if (c != ' ' && c != '\t')
                (inSelection ? selected : plain).add(m_glyphs, c, QPointF(viewX(x), y + m_ascent));
            x = next;
        }
        // A selected line break shows as a space's width of highlight after the line.
        const std::size_t nextStart = line + 1 < LineCount() ? m_lineStarts[line + 1] : end;
        if (p == end && x < right && selectionStart < nextStart && selectionEnd > end) {
            if (highlightFrom < 0)
                highlightFrom = viewX(x);
            highlightTo = viewX(x + m_metrics.advance[' ']);
        }
        if (highlightFrom >= 0)
            painter.fillRect(QRectF(highlightFrom, y, highlightTo - highlightFrom, lineHeight), colours.highlight());
    }
    plain.draw(painter, m_glyphs, colours.text().color());
    selected.draw(painter, m_glyphs, colours.highlightedText().color());

    if (hasFocus()) {
        const std::size_t line = lineOf(m_caret);
        if (line >= first && line < last) {
            const qreal x = std::floor(viewX(xOf(line, m_caret)));
            const qreal y = qreal(line - top) * lineHeight;
            painter.fillRect(QRectF(x, y, 1, lineHeight), colours.text());
        }
    }
}

void MessageBodyView::resizeEvent(QResizeEvent* event)
{
    QAbstractScrollArea::resizeEvent(event);
    updateScrollRanges();
}

void MessageBodyView::changeEvent(QEvent* event)
{
    QAbstractScrollArea::changeEvent(event);
    if (event->type() == QEvent::FontChange)
        applyFont();
    else if (event->type() == QEvent::PaletteChange || event->type() == QEvent::EnabledChange ||
             event->type() == QEvent::ActivationChange)
        viewport()->update();
}

void MessageBodyView::focusInEvent(QFocusEvent* event)
{
    QAbstractScrollArea::focusInEvent(event);
    viewport()->update();
}

void MessageBodyView::focusOutEvent(QFocusEvent* event)
{
    QAbstractScrollArea::focusOutEvent(event);
    viewport()->update();
}

void MessageBodyView::keyPressEvent(QKeyEvent* event)
{
    if (event->matches(QKeySequence::Copy)) {
        Copy();
        return;
    }
    if (event->matches(QKeySequence::SelectAll)) {
        SelectAll();
        return;
    }
    struct Binding {
        QKeySequence::StandardKey move;
        QKeySequence::StandardKey select;
        Motion motion;
    };
    static constexpr Binding bindings[] = {
        {QKeySequence::MoveToNextChar, QKeySequence::SelectNextChar, Motion::NextChar},
        {QKeySequence::MoveToPreviousChar, QKeySequence::SelectPreviousChar, Motion::PreviousChar},
        {QKeySequence::MoveToNextWord, QKeySequence::SelectNextWord, Motion::NextWord},
        {QKeySequence::MoveToPreviousWord, QKeySequence::SelectPreviousWord, Motion::PreviousWord},
        {QKeySequence::MoveToNextLine, QKeySequence::SelectNextLine, Motion::NextLine},
        {QKeySequence::MoveToPreviousLine, QKeySequence::SelectPreviousLine, Motion::PreviousLine},
        {QKeySequence::MoveToNextPage, QKeySequence::SelectNextPage, Motion::NextPage},
        {QKeySequence::MoveToPreviousPage, QKeySequence::SelectPreviousPage, Motion::PreviousPage},
        {QKeySequence::MoveToStartOfLine, QKeySequence::SelectStartOfLine, Motion::StartOfLine},
        {QKeySequence::MoveToEndOfLine, QKeySequence::SelectEndOfLine, Motion::EndOfLine},
        {QKeySequence::MoveToStartOfDocument, QKeySequence::SelectStartOfDocument, Motion::StartOfText},
        {QKeySequence::MoveToEndOfDocument, QKeySequence::SelectEndOfDocument, Motion::EndOfText},
    };
    for (const Binding& binding : bindings) {
        const bool move = event->matches(binding.move);
        if (!move && !event->matches(binding.select))
            continue;
        const bool vertical = binding.motion == Motion::NextLine || binding.motion == Motion::PreviousLine ||
                              binding.motion == Motion::NextPage || binding.motion == Motion::PreviousPage;
        moveCaret(moved(binding.motion, m_caret), !move, vertical);
        return;
    }
    QAbstractScrollArea::keyPressEvent(event);
}

void MessageBodyView::mousePressEvent(QMouseEvent* event)
{
    if (event->button() != Qt::LeftButton) {
        QAbstractScrollArea::mousePressEvent(event);
        return;
    }
    moveCaret(positionAt(event->position().toPoint()), event->modifiers().testFlag(Qt::ShiftModifier));
    m_selecting = true;
}

void MessageBodyView::mouseMoveEvent(QMouseEvent* event)
{
    if (m_selecting && event->buttons().testFlag(Qt::LeftButton))
        moveCaret(positionAt(event->position().toPoint()), true);
}

void MessageBodyView::mouseReleaseEvent(QMouseEvent* event)
{
    if (event->button() != Qt::LeftButton)
        return;
    m_selecting = false;
    // Where the window system has a selection clipboard, a mouse selection goes there as well.
    QClipboard* clipboard = QGuiApplication::clipboard();
    if (clipboard->supportsSelection() && SelectionLength() > 0)
        clipboard->setText(QString::fromLatin1(m_text.data() + SelectionStart(), qsizetype(SelectionLength())),
                           QClipboard::Selection);
}

void MessageBodyView::mouseDoubleClickEvent(QMouseEvent* event)
{
    if (event->button() != Qt::LeftButton)
        return;
    const std::size_t at = positionAt(event->position().toPoint());
    std::size_t start = at;
    std::size_t end = at;
    while (start > 0 && IsWordCharacter(m_text[start - 1]))
        --start;
    while (end < m_text.size() && IsWordCharacter(m_text[end]))
        ++end;
    m_anchor = start;
    moveCaret(end, true);
    m_selecting = false;
}

void MessageBodyView::contextMenuEvent(QContextMenuEvent* event)
{
    QMenu menu(this);
    QAction* copy = menu.addAction(QString::fromLatin1(CopyCaption), this, &MessageBodyView::Copy);
    copy->setShortcut(QKeySequence::Copy);
    copy->setEnabled(SelectionLength() > 0);
    menu.addSeparator();
    QAction* selectAll = menu.addAction(QString::fromLatin1(SelectAllCaption), this, &MessageBodyView::SelectAll);
    selectAll->setShortcut(QKeySequence::SelectAll);
    menu.exec(event->globalPos());
}

void MessageBodyView::scrollContentsBy(int, int)
{
    viewport()->update();
}
