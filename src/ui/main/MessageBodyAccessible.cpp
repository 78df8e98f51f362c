#include "MessageBodyAccessible.h"

#include <algorithm>
#include <climits>
#include <string_view>
#include <utility>

#include <QAccessible>
#include <QAccessibleWidget>

#include "MessageBodyView.h"
#include "QtLatin1.h"

namespace {

// The body as a reader sees it: offsets are byte offsets, as Latin-1 is one character a byte.
// Text is converted only for the range asked for, as a body may hold many megabytes.
class BodyAccessible : public QAccessibleWidget, public QAccessibleTextInterface {
public:
    explicit BodyAccessible(MessageBodyView* view) : QAccessibleWidget(view, QAccessible::EditableText) { }

    void* interface_cast(QAccessible::InterfaceType type) override
    {
        if (type == QAccessible::TextInterface)
            return static_cast<QAccessibleTextInterface*>(this);
        return QAccessibleWidget::interface_cast(type);
    }

    QAccessible::State state() const override
    {
        QAccessible::State state = QAccessibleWidget::state();
        state.readOnly = true;
        state.editable = false;
        state.multiLine = true;
        state.selectableText = true;
        state.focusable = true;
        return state;
    }

    QString text(QAccessible::Text type) const override
    {
        if (type == QAccessible::Value)
            return range(0, body().size());
        return QAccessibleWidget::text(type);
    }

    QString text(int startOffset, int endOffset) const override
    {
        return range(clamped(startOffset), clamped(endOffset));
    }

    int characterCount() const override { return toInt(body().size()); }
    int cursorPosition() const override { return toInt(body().caret()); }
    void setCursorPosition(int position) override { view()->setSelection(clamped(position), 0); }

    int selectionCount() const override { return view()->selectionLength() > 0 ? 1 : 0; }
    void selection(int selectionIndex, int* startOffset, int* endOffset) const override
    {
        const bool any = selectionIndex == 0 && selectionCount() == 1;
        *startOffset = any ? toInt(body().selectionStart()) : 0;
        *endOffset = any ? toInt(body().selectionEnd()) : 0;
    }
    // The body has one selection at most: a new one takes the old one's place.
    void addSelection(int startOffset, int endOffset) override { setSelection(0, startOffset, endOffset); }
    void removeSelection(int selectionIndex) override
    {
        if (selectionIndex == 0)
            view()->setSelection(body().caret(), 0);
    }
    void setSelection(int selectionIndex, int startOffset, int endOffset) override
    {
        if (selectionIndex != 0)
            return;
        const auto [start, end] = std::minmax(clamped(startOffset), clamped(endOffset));
        view()->setSelection(start, end - start);
    }

    QString textAtOffset(int offset, QAccessible::TextBoundaryType type, int* startOffset,
                         int* endOffset) const override
    {
        // At the end of the text, the word is the last one.
        std::size_t at = clamped(offset);
        if (at == body().size() && at > 0 && type == QAccessible::WordBoundary)
            --at;
        return answer(unit(at, type), startOffset, endOffset);
    }

    QString textBeforeOffset(int offset, QAccessible::TextBoundaryType type, int* startOffset,
                             int* endOffset) const override
    {
        const std::size_t first = unit(clamped(offset), type).first;
        if (first == 0)
            return answer({0, 0}, startOffset, endOffset);
        return answer(unit(first - 1, type), startOffset, endOffset);
    }

    QString textAfterOffset(int offset, QAccessible::TextBoundaryType type, int* startOffset,
                            int* endOffset) const override
    {
        const std::size_t size = body().size();
        const std::size_t last = unit(clamped(offset), type).second;
        if (last >= size)
            return answer({size, size}, startOffset, endOffset);
        return answer(unit(last, type), startOffset, endOffset);
    }

    QRect characterRect(int offset) const override
    {
        const QRect rect = view()->characterRect(clamped(offset));
        return QRect(view()->viewport()->mapToGlobal(rect.topLeft()), rect.size());
    }

    int offsetAtPoint(const QPoint& point) const override
    {
        const QPoint inView = view()->viewport()->mapFromGlobal(point);
        if (!view()->viewport()->rect().contains(inView))
            return -1;
        return toInt(view()->positionAt(inView));
    }

    void scrollToSubstring(int startIndex, int endIndex) override
    {
        view()->scrollToRange(clamped(startIndex), clamped(endIndex));
    }

    // One font and colour throughout: no attributes to tell.
    QString attributes(int offset, int* startOffset, int* endOffset) const override
    {
        *startOffset = *endOffset = toInt(clamped(offset));
        return QString();
    }

private:
    using Unit = std::pair<std::size_t, std::size_t>;

    MessageBodyView* view() const { return static_cast<MessageBodyView*>(widget()); }
    const BodyText& body() const { return view()->body(); }

    std::size_t clamped(int offset) const { return std::min(std::size_t(std::max(offset, 0)), body().size()); }
    // Bodies are far below 2 GiB, yet an offset past INT_MAX must not wrap round.
    static int toInt(std::size_t offset) { return int(std::min<std::size_t>(offset, INT_MAX)); }

    QString range(std::size_t start, std::size_t end) const
    {
        if (end <= start)
            return QString();
        return fromLatin1(std::string_view(body().text()).substr(start, end - start));
    }

    QString answer(Unit unit, int* startOffset, int* endOffset) const
    {
        *startOffset = toInt(unit.first);
        *endOffset = toInt(unit.second);
        return range(unit.first, unit.second);
    }

    // The character, word or line that holds offset. A line takes in its break; sentences and
    // paragraphs are taken as lines, which is what a message's plain text mostly breaks at.
    Unit unit(std::size_t offset, QAccessible::TextBoundaryType type) const
    {
        const std::size_t size = body().size();
        switch (type) {
        case QAccessible::CharBoundary:
            return {offset, std::min(offset + 1, size)};
        case QAccessible::WordBoundary:
            return body().wordRunAt(offset);
        case QAccessible::NoBoundary:
            return {0, size};
        case QAccessible::SentenceBoundary:
        case QAccessible::ParagraphBoundary:
        case QAccessible::LineBoundary:
            break;
        }
        const std::size_t line = body().lineOf(offset);
        return {body().lineStart(line), line + 1 < body().lineCount() ? body().lineStart(line + 1) : size};
    }
};

QAccessibleInterface* bodyFactory(const QString& key, QObject* object)
{
    auto* view = qobject_cast<MessageBodyView*>(object);
    if (view && key == QLatin1String(MessageBodyView::staticMetaObject.className()))
        return new BodyAccessible(view);
    return nullptr;
}

} // namespace

void installBodyAccessibility()
{
    static const bool installed = [] {
        QAccessible::installFactory(bodyFactory);
        return true;
    }();
    (void)installed;
}
