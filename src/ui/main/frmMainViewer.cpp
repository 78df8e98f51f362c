#include "frmMain.h"

#include <limits>

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

#include "AppError.h"
#include "BodyScrollBars.h"
#include "BodyTextMetrics.h"
#include "ErrorReport.h"
#include "MailIcons.h"
#include "MessageBoxes.h"
#include "QtLatin1.h"
#include "ScopeExit.h"
#include "Twips.h"
#include "clsEmailStorage.h"

namespace {

constexpr const char* MessagePositionCaption = "Message: ";
constexpr const char* MessageNoneCaption = "Message (n/a)";
constexpr const char* NoMessagesText = "No messages available.";
constexpr const char* CannotDeleteText = "Unable to delete message.";

// Positions are signed 16-bit numbers; stepping past the range is an error like any other.
std::int16_t position16(int position)
{
    if (position < std::numeric_limits<std::int16_t>::min() || position > std::numeric_limits<std::int16_t>::max())
        throw overflowError();
    return static_cast<std::int16_t>(position);
}

// Each box shows the start of its text, as the body does. A line edit repaints on every setText,
// even of the text it holds: a burst of mail from one sender would repaint both boxes each time.
void showFromStart(QLineEdit* box, const QString& text)
{
    if (box->text() != text || box->hasSelectedText())
        box->setText(text);
    if (box->cursorPosition() != 0)
        box->setCursorPosition(0);
}

} // namespace

void frmMain::ShowMessage()
{
    trapped("ShowMessage", [&] {
        const std::int16_t count = m_store->Count();
        if (count > 0 && m_currentMessage >= 1 && m_currentMessage <= count) {
            showFromStart(txtMessageFrom, fromLatin1(m_store->EmailFrom(m_currentMessage)));
            showFromStart(txtMessageTo, fromLatin1(m_store->EmailTo(m_currentMessage)));
            txtMessageBody->setText(m_store->emailBodyShared(m_currentMessage));
            lblMessage->setText(
                fromLatin1(MessagePositionCaption + std::to_string(m_currentMessage) + "/" + std::to_string(count)));
            cmdMessageDelete->setEnabled(true);
            cmdMessagePrev->setEnabled(count >= 2 && m_currentMessage > 1);
            cmdMessageNext->setEnabled(count >= 2 && m_currentMessage < count);
            followMessage();
            return;
        }
        if (count == 0) {
            cmdMessagePrev->setEnabled(false);
            cmdMessageNext->setEnabled(false);
            cmdMessageDelete->setEnabled(false);
        }
        txtMessageFrom->clear();
        txtMessageTo->clear();
        txtMessageBody->Clear();
        lblMessage->setText(fromLatin1(MessageNoneCaption));
        followMessage();
    });
}

void frmMain::FlagMessage()
{
    trapped("FlagMessage", [&] {
        const bool mail = m_store->Count() >= 1;
        if (mail != m_mailIconShown) {
            m_mailIconShown = mail;
            setWindowIcon(mail ? m_mailIcon : m_noMailIcon);
        }
        scheduleTrayUpdate();
    });
}

void frmMain::connectViewer()
{
    // A recipient list can be far longer than a line edit keeps by default; show all of it.
    txtMessageFrom->setMaxLength(std::numeric_limits<int>::max());
    txtMessageTo->setMaxLength(std::numeric_limits<int>::max());
    connect(cmdMessagePrev, &QPushButton::clicked, this, &frmMain::cmdMessagePrev_Click);
    connect(cmdMessageNext, &QPushButton::clicked, this, &frmMain::cmdMessageNext_Click);
    connect(cmdMessageDelete, &QPushButton::clicked, this, &frmMain::cmdMessageDelete_Click);
    connect(txtMessageBody, &MessageBodyView::textChanged, this, &frmMain::txtMessageBody_Change);
}

void frmMain::cmdMessagePrev_Click()
{
    trapped("cmdMessagePrev_Click", [&] {
        if (m_store->Count() >= 1 && m_currentMessage > 1) {
            forgetNewestStored();
            m_currentMessage = position16(m_currentMessage - 1);
            ShowMessage();
        }
    });
}

void frmMain::cmdMessageNext_Click()
{
    trapped("cmdMessageNext_Click", [&] {
        if (m_store->Count() >= 1 && m_currentMessage < m_store->Count()) {
            forgetNewestStored();
            m_currentMessage = position16(m_currentMessage + 1);
            ShowMessage();
        }
    });
}

void frmMain::cmdMessageDelete_Click()
{
    trapped("cmdMessageDelete_Click", [&] {
        if (m_currentMessage >= 1 && m_currentMessage <= m_store->Count()) {
            // The store tells this window as it tells every face (emailRemoved): the message
            // behind the deleted one moves into its place; the last one leaves none.
            m_store->RemoveEmail(m_currentMessage);
            return;
        }
        if (m_store->Count() < 1)
            showNoMessages();
        else
            msgBox(CannotDeleteText, MsgButtons::Ok, MsgIcon::Information);
    });
}

void frmMain::emailRemoved(std::int16_t position, std::uint64_t)
{
    if (m_unloaded)
        return;
    trapped("emailRemoved", [&] {
        // The message on show stays on show when another goes; when it goes itself, the one
        // behind it moves into its place.
        if (position < m_currentMessage)
            m_currentMessage = position16(m_currentMessage - 1);
        if (m_currentMessage > m_store->Count())
            m_currentMessage = m_store->Count();
        ShowMessage();
        FlagMessage();
    });
}

void frmMain::emailsCleared()
{
    if (m_unloaded)
        return;
    trapped("emailsCleared", [&] {
        m_currentMessage = 0;
        ShowMessage();
        FlagMessage();
    });
}

void frmMain::showNoMessages()
{
    msgBox(NoMessagesText, MsgButtons::Ok, MsgIcon::Information);
}

// Shows each scroll bar of the body box only while the text needs it.
void frmMain::txtMessageBody_Change()
{
    trapped("txtMessageBody_Change", [&] {
        const Latin1Metrics metrics = metricsForFont(picMessageBody->font());
        const TextExtent extent = measureText(txtMessageBody->text(), metrics);
        const float textWidth = static_cast<float>(extent.widest) / 64.0f * TwipsPerPixel;
        const float textHeight
            = static_cast<float>(extent.lines) * static_cast<float>(metrics.lineHeight * TwipsPerPixel);
        const BodyScrollBarNeeds needs
            = decideBodyScrollBars(static_cast<float>(txtMessageBody->width() * TwipsPerPixel),
                                   static_cast<float>(txtMessageBody->height() * TwipsPerPixel), textWidth, textHeight);
        if (needs.vertical != VertBarShown) {
            VertBarShown = needs.vertical;
            txtMessageBody->setVerticalScrollBarPolicy(VertBarShown ? Qt::ScrollBarAlwaysOn : Qt::ScrollBarAlwaysOff);
        }
        if (needs.horizontal != HorzBarShown) {
            HorzBarShown = needs.horizontal;
            txtMessageBody->setHorizontalScrollBarPolicy(HorzBarShown ? Qt::ScrollBarAlwaysOn : Qt::ScrollBarAlwaysOff);
        }
    });
}
