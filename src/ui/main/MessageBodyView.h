#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include <QAbstractScrollArea>

#include "BodyTextMetrics.h"

// A read-only, unwrapped view of a message's text that stays quick for bodies of many megabytes:
// it keeps the Latin-1 bytes as they are, indexes the line starts once and paints only what is in
// view. The text can be selected with the mouse and the keyboard and copied; character positions
// are byte positions, a CR LF counting as two.
class MessageBodyView : public QAbstractScrollArea {
    Q_OBJECT
public:
    explicit MessageBodyView(QWidget* parent = nullptr);

    // Replaces the text; the view returns to the top left with the caret at the start.
    void SetText(std::string text);
    void Clear() { SetText({}); }
    const std::string& Text() const { return m_text; }

    // Selects length characters from start (clamped to the text) and scrolls the selection into view.
    void SetSelection(std::size_t start, std::size_t length);
    std::size_t SelectionStart() const { return std::min(m_anchor, m_caret); }
    std::size_t SelectionLength() const { return std::max(m_anchor, m_caret) - SelectionStart(); }
    std::string SelectedText() const;
    void SelectAll();
    // Puts the selected text on the clipboard, its bytes unchanged.
    void Copy() const;

    std::size_t LineCount() const { return m_lineStarts.size(); }
    // The advances and line height the text is laid out with.
    const Latin1Metrics& Metrics() const { return m_metrics; }
    // The first line in view.
    std::size_t TopLine() const;
    // How far, in pixels, the text is scrolled to the left.
    int ScrolledX() const;

signals:
    // The text was replaced by a different one.
    void TextChanged();

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
    enum class Motion { NextChar, PreviousChar, NextWord, PreviousWord, NextLine, PreviousLine, NextPage,
                        PreviousPage, StartOfLine, EndOfLine, StartOfText, EndOfText };

    void applyFont();
    void updateScrollRanges();
    std::size_t lineOf(std::size_t position) const;
    std::size_t lineEnd(std::size_t line) const;
    // Offset of position from its line's start, in 1/64 pixel.
    std::int64_t xOf(std::size_t line, std::size_t position) const;
    // The position nearest to x (1/64 pixel from the line's start) within a line.
    std::size_t positionAt(std::size_t line, std::int64_t x) const;
    // The position under a point of the viewport.
    std::size_t positionAt(QPoint point) const;
    std::size_t moved(Motion motion, std::size_t position);
    void moveCaret(std::size_t position, bool keepAnchor, bool keepColumn = false);
    void ensureVisible(std::size_t position);
    int visibleLines() const;

    std::string m_text;
    std::vector<std::uint32_t> m_lineStarts{0};
    std::int64_t m_widest = 0;
    Latin1Metrics m_metrics;
    Latin1Glyphs m_glyphs;
    qreal m_ascent = 0;
    std::size_t m_anchor = 0;
    std::size_t m_caret = 0;
    // Where vertical moves aim, in 1/64 pixel from the line's start.
    std::int64_t m_column = 0;
    bool m_selecting = false;
};
