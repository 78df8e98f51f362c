#include "frmMain.h"

#include <QAction>
#include <QKeyEvent>
#include <QMenu>

#include "ErrorReport.h"
#include "QtLatin1.h"
#include "frmMessage.h"

namespace {

constexpr const char* MessageViewCaption = "Message view";
constexpr const char* MessageListCaption = "Message list in message view";

} // namespace

void frmMain::buildMessageMenus(QMenu* view)
{
    QAction* action = view->addAction(fromLatin1(MessageViewCaption));
    action->setObjectName(QStringLiteral("mnuMessageView"));
    action->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_M));
    mnuMessageView = action;
    mnuMessageList = view->addAction(fromLatin1(MessageListCaption));
    mnuMessageList->setObjectName(QStringLiteral("mnuMessageList"));
    mnuMessageList->setCheckable(true);
    mnuMessageList->setChecked(true);
}

void frmMain::connectMessageWindow()
{
    connect(mnuMessageView, &QAction::triggered, this, &frmMain::mnuMessageView_Click);
    connect(mnuMessageList, &QAction::triggered, this, &frmMain::mnuMessageList_Click);
    // Enter on the body box, or a double click in it, opens the message as its recipient sees it.
    txtMessageBody->installEventFilter(this);
    txtMessageBody->viewport()->installEventFilter(this);
}

bool frmMain::messageWindowEvent(QObject* watched, QEvent* event)
{
    if (watched == m_messageWindow.get() && event->type() == QEvent::WindowActivate)
        noteShown();
    if (watched == txtMessageBody && event->type() == QEvent::KeyPress) {
        const int key = static_cast<QKeyEvent*>(event)->key();
        if (key == Qt::Key_Return || key == Qt::Key_Enter) {
            mnuMessageView_Click();
            return true;
        }
    } else if (watched == txtMessageBody->viewport() && event->type() == QEvent::MouseButtonDblClick) {
        mnuMessageView_Click();
    }
    return false;
}

void frmMain::mnuMessageView_Click()
{
    trapped("mnuMessageView_Click", [&] {
        if (!m_messageWindow) {
            m_messageWindow = std::make_unique<frmMessage>();
            connect(m_messageWindow.get(), &frmMessage::releaseRequested, this, &frmMain::releaseMessage);
            connect(m_messageWindow.get(), &frmMessage::messageChosen, this, &frmMain::showChosenMessage);
            m_messageWindow->setListShown(mnuMessageList->isChecked());
            // Coming to the message window reads the message it shows.
            m_messageWindow->installEventFilter(this);
        }
        followMessage();
        m_messageWindow->show();
        m_messageWindow->activateWindow();
        m_messageWindow->raise();
    });
}

void frmMain::followMessage()
{
    noteShown();
    if (m_messageWindow)
        m_messageWindow->showStored(*m_store, m_currentMessage);
}

void frmMain::mnuMessageList_Click()
{
    trapped("mnuMessageList_Click", [&] {
        if (m_messageWindow)
            m_messageWindow->setListShown(mnuMessageList->isChecked());
    });
}

void frmMain::showChosenMessage(quint64 id)
{
    trapped("showChosenMessage", [&] {
        // Chosen by id: the row's position may have moved since the list showed it.
        if (const std::int16_t position = m_store->positionOfId(id); position != 0) {
            m_currentMessage = position;
            ShowMessage();
        }
    });
}
