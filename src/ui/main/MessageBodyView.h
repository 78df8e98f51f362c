#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include <QAbstractScrollArea>

#include "BodyText.h"
#include "BodyTextMetrics.h"

class QPainter;

// A read-only, unwrapped view of a message's text that stays quick for bodies of many megabytes:
// it keeps the Latin-1 bytes as they are, indexes the line starts once and paints only what is in
// view. The text can be selected with the mouse and the keyboard and copied; character positions
// are byte positions, a CR LF counting as two.
class MessageBodyView final : public QAbstractScrollArea {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(MessageBodyView)
public:
    explicit MessageBodyView(QWidget* parent = nullptr);

    // Replaces the text; the view returns to the top left with the caret at the start.
    void setText(std::string text);
    // Shows a text held elsewhere without copying it.
    void setText(std::shared_ptr<const std::string> text);
    void Clear() { setText(std::string()); }
    const std::string& text() const { return m_body.text(); }

    // Selects length characters from start (clamped to the text) and scrolls the selection into view.
    void setSelection(std::size_t start, std::size_t length);
    std::size_t selectionStart() const { return m_body.selectionStart(); }
    std::size_t selectionLength() const { return m_body.selectionEnd() - m_body.selectionStart(); }
    std::string selectedText() const { return std::string(m_body.selectedText()); }
    void selectAll();
    // Puts the selected text on the clipboard, its bytes unchanged.
    void copy() const;

    std::size_t lineCount() const { return m_body.lineCount(); }
    // The advances and line height the text is laid out with.
    const Latin1Metrics& metrics() const { return m_body.metrics(); }
    // The text, its lines, selection and caret, as painted.
    const BodyText& body() const { return m_body; }
    // The first line in view.
    std::size_t topLine() const;
    // How far, in pixels, the text is scrolled to the left.
    int scrolledX() const;
    // The position under a point of the viewport.
    std::size_t positionAt(QPoint point) const;
    // Where the character at offset is painted, in viewport coordinates; a line's end has a
    // space's width.
    QRect characterRect(std::size_t offset) const;
    // Scrolls the characters in [start, end) into view, the start first if not all fit.
    void scrollToRange(std::size_t start, std::size_t end);

signals:
    // The text was replaced by a different one.
    void textChanged();

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void changeEvent(QEvent* event) override;
    void focusInEvent(QFocusEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;
    void scrollContentsBy(int dx, int dy) override;

private:
    struct GlyphBatch;
    // The lines a paint of the rectangle touches, as [first, last).
    struct LineRange {
        std::size_t first = 0;
        std::size_t last = 0;
    };

    // The caret and the selection, as a screen reader was last told of them.
    struct Marks {
        std::size_t caret = 0;
        std::size_t selectionStart = 0;
        std::size_t selectionEnd = 0;
        bool operator==(const Marks&) const = default;
    };

    QString selectionText() const;
    void applyFont();
    void updateScrollRanges();
    Marks marks() const;
    // Tells a listening screen reader where the caret and the selection are, if they moved.
    void announce(const Marks& before);
    void select(std::size_t anchor, std::size_t caret);
    void moveCaret(std::size_t position, bool keepAnchor, bool keepColumn = false);
    void ensureVisible(std::size_t position);
    int visibleLines() const;

    QPalette paintColours() const;
    LineRange exposedLines(const QRect& rect) const;
    // The text's x, in 1/64 pixel, at the viewport's left edge.
    std::int64_t leftEdgeX() const;
    qreal lineY(std::size_t line) const;
    void paintLine(QPainter& painter, std::size_t line, const QPalette& colours, GlyphBatch& plain,
                   GlyphBatch& selected) const;
    void paintCaret(QPainter& painter, LineRange lines, const QPalette& colours) const;

    BodyText m_body;
    Latin1Glyphs m_glyphs;
    qreal m_ascent = 0;
    bool m_selecting = false;
};
