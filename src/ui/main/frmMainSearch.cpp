#include "frmMain.h"

#include <optional>

#include <QComboBox>
#include <QEvent>
#include <QFocusEvent>
#include <QLineEdit>
#include <QPushButton>

#include "ErrorReport.h"
#include "Latin1Text.h"
#include "MessageBoxes.h"
#include "QtLatin1.h"
#include "clsEmailStorage.h"

namespace {

constexpr const char* EmptySearchText = "Text to search for is empty.";
constexpr const char* UnsupportedCategoryText = "Unsupported search category.";
constexpr const char* NotFoundText = "No messages with specified context found.";

// Categories as recognised: trimmed and upper-cased.
constexpr const char* CategoryFrom = "FROM:";
constexpr const char* CategoryTo = "TO:";
constexpr const char* CategoryBody = "BODY";

enum class SearchCategory { From, To, Body, Unsupported };

QString trimmedSpaces(const QString& text)
{
    qsizetype first = 0;
    qsizetype last = text.size();
    while (first < last && text[first] == QLatin1Char(' '))
        ++first;
    while (last > first && text[last - 1] == QLatin1Char(' '))
        --last;
    return text.mid(first, last - first);
}

SearchCategory recogniseCategory(const QString& text)
{
    const std::optional<std::string> bytes = toLatin1Exact(text);
    if (!bytes)
        return SearchCategory::Unsupported;
    const std::string category = upperCase(trimBlanks(*bytes));
    if (category == CategoryFrom)
        return SearchCategory::From;
    if (category == CategoryTo)
        return SearchCategory::To;
    if (category == CategoryBody)
        return SearchCategory::Body;
    return SearchCategory::Unsupported;
}

} // namespace

void frmMain::connectSearch()
{
    connect(cmdMessagesFind, &QPushButton::clicked, this, &frmMain::cmdMessagesFind_Click);
    connect(cmdMessagesFindNext, &QPushButton::clicked, this, &frmMain::cmdMessagesFindNext_Click);
    txtMessagesSearchFor->installEventFilter(this);
}

bool frmMain::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == txtMessagesSearchFor) {
        if (event->type() == QEvent::FocusIn) {
            m_searchBoxClickFocus = static_cast<QFocusEvent*>(event)->reason() == Qt::MouseFocusReason;
            txtMessagesSearchFor_GotFocus();
        } else if (event->type() == QEvent::MouseButtonRelease && m_searchBoxClickFocus) {
            // The press that focused the box put the caret where it landed; unless the user
            // dragged out a selection of their own, the whole text is selected after all.
            m_searchBoxClickFocus = false;
            if (!txtMessagesSearchFor->hasSelectedText())
                txtMessagesSearchFor_GotFocus();
        }
    }
    if (messageWindowEvent(watched, event))
        return true;
    return QMainWindow::eventFilter(watched, event);
}

void frmMain::txtMessagesSearchFor_GotFocus()
{
    trapped("txtMessagesSearchFor_GotFocus", [&] { txtMessagesSearchFor->selectAll(); });
}

void frmMain::cmdMessagesFind_Click()
{
    trapped("cmdMessagesFind_Click", [&] { searchMessages(SearchStart::First); });
}

void frmMain::cmdMessagesFindNext_Click()
{
    trapped("cmdMessagesFindNext_Click", [&] { searchMessages(SearchStart::BehindLastHit); });
}

// Find and Next share their checks and differ only in the store operation they call. Next goes
// on with the category's last successful search: its text only has to be there.
void frmMain::searchMessages(SearchStart start)
{
    if (m_store->Count() < 1) {
        showNoMessages();
        return;
    }
    const QString text = trimmedSpaces(txtMessagesSearchFor->text());
    if (text.isEmpty()) {
        msgBox(EmptySearchText, MsgButtons::Ok, MsgIcon::Information);
        return;
    }
    // A text outside Latin-1 occurs in no message: a Find finds nothing and changes nothing.
    const std::optional<std::string> bytes = toLatin1Exact(text);
    const bool first = start == SearchStart::First;
    QWidget* target = nullptr;
    std::int16_t position = 0;
    switch (recogniseCategory(cboMessagesSearchFor->currentText())) {
    case SearchCategory::From:
        target = txtMessageFrom;
        position = !first ? m_store->FindNextEmailFrom({}, false)
            : bytes       ? m_store->FindFirstEmailFrom(*bytes, false)
                          : 0;
        break;
    case SearchCategory::To:
        target = txtMessageTo;
        position = !first ? m_store->FindNextEmailTo({}, false) : bytes ? m_store->FindFirstEmailTo(*bytes, false) : 0;
        break;
    case SearchCategory::Body:
        target = txtMessageBody;
        position = !first ? m_store->FindNextEmailBodyWith({}) : bytes ? m_store->FindFirstEmailBodyWith(*bytes) : 0;
        break;
    case SearchCategory::Unsupported:
        msgBox(UnsupportedCategoryText, MsgButtons::Ok, MsgIcon::Exclamation);
        break;
    }
    ShowMessageFound(target, text, position);
}

// Shows the hit and selects the first occurrence of the search text in the box it was found in.
void frmMain::ShowMessageFound(QWidget* target, const QString& searchText, std::int16_t position)
{
    trapped("ShowMessageFound", [&] {
        if (position < 1) {
            msgBox(NotFoundText, MsgButtons::Ok, MsgIcon::Information);
            return;
        }
        forgetNewestStored();
        m_currentMessage = position;
        ShowMessage();

        const std::optional<std::string> needle = toLatin1Exact(searchText);
        if (!target || !needle)
            return;
        if (target == txtMessageBody) {
            const std::size_t at = findNoCase(txtMessageBody->text(), *needle);
            if (at == std::string::npos)
                return;
            txtMessageBody->setSelection(at, needle->size());
        } else if (auto* box = qobject_cast<QLineEdit*>(target)) {
            // The boxes were filled from Latin-1, so their text converts back byte for byte.
            const std::size_t at = findNoCase(toLatin1(box->text()), *needle);
            if (at == std::string::npos)
                return;
            box->setSelection(int(at), int(needle->size()));
        } else {
            return;
        }
        target->setFocus();
    });
}
