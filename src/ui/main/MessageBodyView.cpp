#include "MessageBodyView.h"

#include <limits>
#include <utility>

#include <QAccessible>
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

#include "EditCaptions.h"
#include "MessageBodyAccessible.h"
#include "QtLatin1.h"

namespace {

// The longest text a new message's update event carries to a screen reader.
constexpr std::size_t MaxAnnouncedText = std::size_t{64} * 1024;

// Room between the frame and the text, in pixels; the right one keeps a caret at the end in view.
constexpr int LeftMargin = 1;
constexpr int RightMargin = 2;
constexpr int HorizontalStep = 20;

// The factory goes in before the widget is built, so that no reader asking during construction
// is handed, and keeps, a plain scroll area's interface.
QWidget* withBodyAccessibility(QWidget* parent)
{
    installBodyAccessibility();
    return parent;
}

} // namespace

// One colour's share of what a paint draws: glyphs where the font has them, else characters.
struct MessageBodyView::GlyphBatch {
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

MessageBodyView::MessageBodyView(QWidget* parent) : QAbstractScrollArea(withBodyAccessibility(parent))
{
    setFocusPolicy(Qt::StrongFocus);
    viewport()->setCursor(Qt::IBeamCursor);
    applyFont();
}

void MessageBodyView::setText(std::string text)
{
    setText(std::make_shared<const std::string>(std::move(text)));
}

void MessageBodyView::setText(std::shared_ptr<const std::string> text)
{
    // A reader is told the old and new text, as a text edit would tell it, converted only when
    // one listens; a long body is not sent whole (it would be tens of megabytes in one message
    // to the reader): the reader then asks for the ranges it reads.
    const bool reader = QAccessible::isActive();
    const auto told
        = [](const std::string& body) { return body.size() <= MaxAnnouncedText ? fromLatin1(body) : QString(); };
    const QString removed = reader ? told(m_body.text()) : QString();
    const Marks before = marks();
    const bool changed = m_body.setText(std::move(text));
    m_selecting = false;
    updateScrollRanges();
    // A scroll back to the start repaints by itself; the same text, at the start and with
    // nothing selected, looks as it did (a burst of the same test mail repaints nothing here).
    verticalScrollBar()->setValue(0);
    horizontalScrollBar()->setValue(0);
    if (changed || marks() != before)
        viewport()->update();
    if (changed && reader) {
        QAccessibleTextUpdateEvent event(this, 0, removed, told(m_body.text()));
        event.setCursorPosition(int(m_body.caret()));
        QAccessible::updateAccessibility(&event);
    }
    announce(before);
    if (changed)
        emit textChanged();
}

void MessageBodyView::setSelection(std::size_t start, std::size_t length)
{
    start = std::min(start, m_body.size());
    select(start, start + std::min(length, m_body.size() - start));
}

void MessageBodyView::selectAll()
{
    const Marks before = marks();
    m_body.select(0, m_body.size());
    viewport()->update();
    announce(before);
}

void MessageBodyView::select(std::size_t anchor, std::size_t caret)
{
    const Marks before = marks();
    m_body.select(anchor, caret);
    ensureVisible(caret);
    ensureVisible(std::min(anchor, caret));
    viewport()->update();
    announce(before);
}

MessageBodyView::Marks MessageBodyView::marks() const
{
    return {m_body.caret(), m_body.selectionStart(), m_body.selectionEnd()};
}

void MessageBodyView::announce(const Marks& before)
{
    if (!QAccessible::isActive())
        return;
    const Marks now = marks();
    if (now.selectionStart != before.selectionStart || now.selectionEnd != before.selectionEnd) {
        // An empty selection is told as none.
        const bool any = now.selectionEnd > now.selectionStart;
        QAccessibleTextSelectionEvent event(this, any ? int(now.selectionStart) : -1, any ? int(now.selectionEnd) : -1);
        event.setCursorPosition(int(now.caret));
        QAccessible::updateAccessibility(&event);
    }
    if (now.caret != before.caret) {
        QAccessibleTextCursorEvent event(this, int(now.caret));
        QAccessible::updateAccessibility(&event);
    }
}

QRect MessageBodyView::characterRect(std::size_t offset) const
{
    offset = std::min(offset, m_body.size());
    const std::size_t line = m_body.lineOf(offset);
    const std::int64_t left = m_body.xOf(offset);
    const bool atEnd = offset >= m_body.lineEnd(line);
    const std::int64_t right = atEnd ? left + metrics().advance[' '] : metrics().after(text()[offset], left);
    const auto viewX = [this](std::int64_t x) { return int(std::floor(double(x - leftEdgeX()) / 64)); };
    // Signed: the character may lie above the view.
    const auto top = int((std::int64_t(line) - std::int64_t(topLine())) * metrics().lineHeight);
    return QRect(QPoint(viewX(left), top),
                 QPoint(std::max(viewX(left), viewX(right) - 1), top + metrics().lineHeight - 1));
}

void MessageBodyView::scrollToRange(std::size_t start, std::size_t end)
{
    start = std::min(start, m_body.size());
    ensureVisible(std::clamp(end, start, m_body.size()));
    ensureVisible(start);
    viewport()->update();
}

void MessageBodyView::copy() const
{
    if (selectionLength() == 0)
        return;
    QGuiApplication::clipboard()->setText(selectionText());
}

QString MessageBodyView::selectionText() const
{
    return fromLatin1(m_body.selectedText());
}

std::size_t MessageBodyView::topLine() const
{
    return static_cast<std::size_t>(verticalScrollBar()->value());
}

int MessageBodyView::scrolledX() const
{
    return horizontalScrollBar()->value();
}

void MessageBodyView::applyFont()
{
    m_body.setMetrics(metricsForFont(font(), &m_glyphs));
    m_ascent = QFontMetricsF(font()).ascent();
    updateScrollRanges();
    viewport()->update();
}

int MessageBodyView::visibleLines() const
{
    return std::max(1, viewport()->height() / metrics().lineHeight);
}

void MessageBodyView::updateScrollRanges()
{
    constexpr std::int64_t MaxInt = std::numeric_limits<int>::max();
    const int lines = visibleLines();
    const std::int64_t hiddenLines = std::int64_t(lineCount()) - lines;
    verticalScrollBar()->setRange(0, int(std::clamp<std::int64_t>(hiddenLines, 0, MaxInt)));
    verticalScrollBar()->setPageStep(lines);
    verticalScrollBar()->setSingleStep(1);

    const std::int64_t contentWidth = (m_body.widest() + 63) / 64 + LeftMargin + RightMargin;
    const int viewWidth = viewport()->width();
    horizontalScrollBar()->setRange(0, int(std::clamp<std::int64_t>(contentWidth - viewWidth, 0, MaxInt)));
    horizontalScrollBar()->setPageStep(std::max(1, viewWidth));
    horizontalScrollBar()->setSingleStep(HorizontalStep);
}

std::size_t MessageBodyView::positionAt(QPoint point) const
{
    const std::int64_t row = point.y() >= 0 ? point.y() / metrics().lineHeight : -1;
    const std::int64_t line = std::clamp<std::int64_t>(std::int64_t(topLine()) + row, 0, std::int64_t(lineCount()) - 1);
    return m_body.offsetAt(std::size_t(line), std::int64_t(point.x() + scrolledX() - LeftMargin) * 64);
}

void MessageBodyView::moveCaret(std::size_t position, bool keepAnchor, bool keepColumn)
{
    const Marks before = marks();
    m_body.moveCaret(position, keepAnchor, keepColumn);
    ensureVisible(position);
    viewport()->update();
    announce(before);
}

void MessageBodyView::ensureVisible(std::size_t position)
{
    const std::size_t line = m_body.lineOf(position);
    const std::size_t top = topLine();
    const auto lines = std::size_t(visibleLines());
    if (line < top)
        verticalScrollBar()->setValue(int(line));
    else if (line >= top + lines)
        verticalScrollBar()->setValue(int(line - lines + 1));

    // A position out of view sideways is brought to the middle, so that its context shows too.
    const std::int64_t x = (m_body.xOf(position) + 63) / 64 + LeftMargin;
    const int width = viewport()->width();
    if (x < scrolledX() || x > std::int64_t(scrolledX()) + width - RightMargin)
        horizontalScrollBar()->setValue(
            int(std::clamp<std::int64_t>(x - width / 2, 0, std::numeric_limits<int>::max())));
}

void MessageBodyView::paintEvent(QPaintEvent* event)
{
    QPainter painter(viewport());
    const QPalette colours = paintColours();
    const LineRange lines = exposedLines(event->rect());
    GlyphBatch plain;
    GlyphBatch selected;
    for (std::size_t line = lines.first; line < lines.last; ++line)
        paintLine(painter, line, colours, plain, selected);
    // Glyphs go out in one run per colour, after every highlight they stand on.
    plain.draw(painter, m_glyphs, colours.text().color());
    selected.draw(painter, m_glyphs, colours.highlightedText().color());
    paintCaret(painter, lines, colours);
}

QPalette MessageBodyView::paintColours() const
{
    QPalette colours = palette();
    colours.setCurrentColorGroup(!isEnabled()           ? QPalette::Disabled
                                     : isActiveWindow() ? QPalette::Active
                                                        : QPalette::Inactive);
    return colours;
}

MessageBodyView::LineRange MessageBodyView::exposedLines(const QRect& rect) const
{
    const int lineHeight = metrics().lineHeight;
    const std::size_t top = topLine();
    return {std::min(lineCount(), top + std::size_t(std::max(0, rect.top()) / lineHeight)),
            std::min(lineCount(), top + std::size_t(std::max(0, rect.bottom()) / lineHeight) + 1)};
}

std::int64_t MessageBodyView::leftEdgeX() const
{
    return std::int64_t(scrolledX() - LeftMargin) * 64;
}

qreal MessageBodyView::lineY(std::size_t line) const
{
    return qreal(line - topLine()) * metrics().lineHeight;
}

// Lays out the characters of the line that are in view, each into the batch of its colour, and
// paints the highlight behind the selected ones.
void MessageBodyView::paintLine(QPainter& painter, std::size_t line, const QPalette& colours, GlyphBatch& plain,
                                GlyphBatch& selected) const
{
    const Latin1Metrics& widths = metrics();
    const std::string& text = m_body.text();
    const std::int64_t left = leftEdgeX();
    const std::int64_t right = left + std::int64_t(viewport()->width()) * 64;
    const std::size_t selectionStart = m_body.selectionStart();
    const std::size_t selectionEnd = m_body.selectionEnd();
    const auto viewX = [left](std::int64_t x) { return qreal(x - left) / 64; };
    const qreal y = lineY(line);
    const std::size_t end = m_body.lineEnd(line);

    std::int64_t x = 0;
    std::size_t p = m_body.firstRightOf(line, left, x);
    qreal highlightFrom = -1;
    qreal highlightTo = -1;
    for (; p < end && x < right; ++p) {
        const char c = text[p];
        const std::int64_t next = widths.after(c, x);
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
    if (p == end && x < right && m_body.breakSelected(line)) {
        if (highlightFrom < 0)
            highlightFrom = viewX(x);
        highlightTo = viewX(x + widths.advance[' ']);
    }
    if (highlightFrom >= 0)
        painter.fillRect(QRectF(highlightFrom, y, highlightTo - highlightFrom, widths.lineHeight), colours.highlight());
}

void MessageBodyView::paintCaret(QPainter& painter, LineRange lines, const QPalette& colours) const
{
    if (!hasFocus())
        return;
    const std::size_t caret = m_body.caret();
    const std::size_t line = m_body.lineOf(caret);
    if (line < lines.first || line >= lines.last)
        return;
    const qreal x = std::floor(qreal(m_body.xOf(caret) - leftEdgeX()) / 64);
    painter.fillRect(QRectF(x, lineY(line), 1, metrics().lineHeight), colours.text());
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
    else if (event->type() == QEvent::PaletteChange || event->type() == QEvent::EnabledChange
             || event->type() == QEvent::ActivationChange)
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
        copy();
        return;
    }
    if (event->matches(QKeySequence::SelectAll)) {
        selectAll();
        return;
    }
    using Motion = BodyText::Motion;
    struct Binding {
        QKeySequence::StandardKey move;
        QKeySequence::StandardKey select;
        Motion motion;
    };
    static constexpr Binding Bindings[] = {
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
    for (const Binding& binding : Bindings) {
        const bool move = event->matches(binding.move);
        if (!move && !event->matches(binding.select))
            continue;
        const bool page = binding.motion == Motion::NextPage || binding.motion == Motion::PreviousPage;
        const bool vertical = page || binding.motion == Motion::NextLine || binding.motion == Motion::PreviousLine;
        // A page step scrolls the view by a page as well, taking the caret's place on screen along.
        if (page)
            verticalScrollBar()->setValue(verticalScrollBar()->value()
                                          + (binding.motion == Motion::NextPage ? visibleLines() : -visibleLines()));
        moveCaret(m_body.moved(binding.motion, m_body.caret(), std::size_t(visibleLines())), !move, vertical);
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
    if (clipboard->supportsSelection() && selectionLength() > 0)
        clipboard->setText(selectionText(), QClipboard::Selection);
}

void MessageBodyView::mouseDoubleClickEvent(QMouseEvent* event)
{
    if (event->button() != Qt::LeftButton)
        return;
    const auto [start, end] = m_body.wordAt(positionAt(event->position().toPoint()));
    select(start, end);
    m_selecting = false;
}

void MessageBodyView::contextMenuEvent(QContextMenuEvent* event)
{
    QMenu menu(this);
    QAction* copy = menu.addAction(fromLatin1(EditCaptions::Copy), this, &MessageBodyView::copy);
    copy->setShortcut(QKeySequence::Copy);
    copy->setEnabled(selectionLength() > 0);
    menu.addSeparator();
    QAction* selectAll = menu.addAction(fromLatin1(EditCaptions::SelectAll), this, &MessageBodyView::selectAll);
    selectAll->setShortcut(QKeySequence::SelectAll);
    menu.exec(event->globalPos());
}

void MessageBodyView::scrollContentsBy(int, int)
{
    viewport()->update();
}
