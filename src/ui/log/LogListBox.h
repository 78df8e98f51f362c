#pragma once

#include <string_view>

#include <QAbstractScrollArea>
#include <QAccessible>

class LogBuffer;

// A view of the log's Latin-1 text lines, which live in a LogBuffer: only the visible lines are
// painted, and an append costs the same at any length. Single selection by mouse or keyboard,
// or every line at once for copying; the horizontal scroll range is set from outside. Screen
// readers see a list whose items are made only when asked for.
class LogListBox final : public QAbstractScrollArea {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(LogListBox)
public:
    // The lines must outlive the view.
    explicit LogListBox(LogBuffer& lines, QWidget* parent = nullptr);

    // Appends one entry at the end (the oldest may go to make room); the view does not move.
    void addLine(std::string_view text);
    // The lines took one entry at the end from another writer, and droppedLines of the oldest went.
    void lineAppended(std::size_t droppedLines);
    // Removes every entry and the selection.
    void Clear();

    qsizetype lineCount() const;
    // The entry's bytes, valid until the list next changes; throws for an index out of range.
    std::string_view line(qsizetype index) const;

    // The selected entry, -1 for none.
    qsizetype selectedIndex() const { return m_selected; }
    // Selects an entry (-1 for none) without raising Click; throws for an index out of range.
    // Ends the selection of every line.
    void setSelectedIndex(qsizetype index);
    // Selects every line, the ones appended later too, until an entry is picked or the list cleared.
    void selectAll();
    bool allSelected() const { return m_allSelected; }
    bool isSelected(qsizetype index) const { return m_allSelected || index == m_selected; }

    // The selected lines, or every line, one per text line, to the clipboard.
    void copy() const;
    void copyAll() const;

    // How far, in pixels, the lines can be scrolled sideways; 0 or anything up to the view's
    // width means no horizontal scrolling.
    int horizontalExtent() const { return m_extent; }
    void setHorizontalExtent(int pixels);

    // Brings the last entry into view at the bottom.
    void scrollToBottom();
    // Scrolls just enough to show the entry in full.
    void ensureVisible(qsizetype index);

    qsizetype topIndex() const;
    // Entries that fit in full into the view (at least 1).
    qsizetype visibleLineCount() const;
    int lineHeight() const;
    // Where an entry is drawn, in the coordinates of viewport().
    QRect lineRect(qsizetype index) const;

signals:
    // The user picked an entry with the mouse or the keyboard.
    void click();

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void changeEvent(QEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;
    void scrollContentsBy(int dx, int dy) override;

private:
    void updateVerticalRange();
    void updateHorizontalRange();
    void pickLine(qsizetype index, bool byMouse);
    QString joinedLines(qsizetype first, qsizetype last) const;
    // Tells a screen reader, if one listens, what happened to an entry.
    void announce(QAccessible::Event what, qsizetype index);

    LogBuffer& m_lines;
    qsizetype m_selected = -1;
    bool m_allSelected = false;
    int m_extent = 0;
};
