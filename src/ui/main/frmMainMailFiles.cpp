#include "frmMain.h"

#include <algorithm>
#include <filesystem>

#include <QAction>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFile>
#include <QMenu>
#include <QMenuBar>
#include <QMimeData>

#include "ChosenMessages.h"
#include "Desktop.h"
#include "ErrorReport.h"
#include "MailFiles.h"
#include "MessageBoxes.h"
#include "QtLatin1.h"
#include "clsEmailStorage.h"

namespace {

constexpr const char* MessagesMenuCaption = "&Messages";
constexpr const char* OpenCaption = "Open...";
constexpr const char* SaveMessageCaption = "Save message as...";
constexpr const char* SaveAllCaption = "Save all messages as...";
constexpr const char* OpenTitle = "Open mail files";
constexpr const char* SaveMessageTitle = "Save message as";
constexpr const char* SaveAllTitle = "Save all messages as";
constexpr const char* OpenFilter = "Mail files (*.eml *.mbox *.mbx);;All files (*)";
constexpr const char* EmlFilter = "Mail message (*.eml);;All files (*)";
constexpr const char* MboxFilter = "Mailbox (*.mbox);;All files (*)";
constexpr const char* SuggestedMessageName = "message.eml";
constexpr const char* SuggestedMailboxName = "messages.mbox";
constexpr const char* CannotWriteText = "Unable to write the file.";
constexpr const char* CannotReadText = "Unable to read %1.";
constexpr const char* NoMailText = "%1 holds no mail message.";

QAction* addEntry(QMenu* menu, const char* name, const char* caption)
{
    QAction* action = menu->addAction(fromLatin1(caption));
    action->setObjectName(fromLatin1(name));
    return action;
}

std::filesystem::path pathOf(const QString& path)
{
    return std::filesystem::path(QFile::encodeName(path).toStdString());
}

void tellUser(const char* text, const QString& path, MsgIcon icon)
{
    msgBox(fromLatin1(text).arg(path).toStdString(), MsgButtons::Ok, icon);
}

} // namespace

void frmMain::buildMailFileMenu()
{
    QMenu* messages = menuBar()->addMenu(fromLatin1(MessagesMenuCaption));
    messages->setObjectName(QStringLiteral("mnuMessages"));
    mnuMessagesOpen = addEntry(messages, "mnuMessagesOpen", OpenCaption);
    mnuMessageSaveAs = addEntry(messages, "mnuMessageSaveAs", SaveMessageCaption);
    mnuMessagesSaveAll = addEntry(messages, "mnuMessagesSaveAll", SaveAllCaption);
}

void frmMain::connectMailFiles()
{
    connect(mnuMessagesOpen, &QAction::triggered, this, &frmMain::mnuMessagesOpen_Click);
    connect(mnuMessageSaveAs, &QAction::triggered, this, &frmMain::mnuMessageSaveAs_Click);
    connect(mnuMessagesSaveAll, &QAction::triggered, this, &frmMain::mnuMessagesSaveAll_Click);
    setAcceptDrops(true);
}

// The file dialog lets events run: the messages written are those chosen when it opened, as
// far as they are still stored when it closes.
void frmMain::mnuMessageSaveAs_Click()
{
    trapped("mnuMessageSaveAs_Click", [&] {
        if (m_currentMessage < 1 || m_currentMessage > m_store->Count()) {
            showNoMessages();
            return;
        }
        const ChosenMessages chosen = ChosenMessages::at(*m_store, m_currentMessage);
        const QString path = desktop().saveFileName(this, fromLatin1(SaveMessageTitle),
                                                    fromLatin1(SuggestedMessageName), fromLatin1(EmlFilter));
        if (path.isEmpty())
            return;
        const std::vector<std::int16_t> positions = chosen.stillStored();
        if (!positions.empty() && !MailFiles::writeEml(pathOf(path), m_store->EmailBody(positions.front())))
            msgBox(CannotWriteText, MsgButtons::Ok, MsgIcon::Exclamation);
    });
}

void frmMain::mnuMessagesSaveAll_Click()
{
    trapped("mnuMessagesSaveAll_Click", [&] {
        if (m_store->Count() < 1) {
            showNoMessages();
            return;
        }
        const ChosenMessages chosen = ChosenMessages::all(*m_store);
        const QString path = desktop().saveFileName(this, fromLatin1(SaveAllTitle), fromLatin1(SuggestedMailboxName),
                                                    fromLatin1(MboxFilter));
        if (path.isEmpty())
            return;
        const std::vector<std::int16_t> positions = chosen.stillStored();
        if (positions.empty())
            return;
        MailFiles::MboxWriter mbox(pathOf(path));
        for (const std::int16_t position : positions)
            mbox.append(m_store->EmailFrom(position), m_store->emailReceived(position), m_store->EmailBody(position));
        if (!mbox.finish())
            msgBox(CannotWriteText, MsgButtons::Ok, MsgIcon::Exclamation);
    });
}

void frmMain::mnuMessagesOpen_Click()
{
    trapped("mnuMessagesOpen_Click",
            [&] { importMailFiles(desktop().openFileNames(this, fromLatin1(OpenTitle), fromLatin1(OpenFilter))); });
}

void frmMain::dragEnterEvent(QDragEnterEvent* event)
{
    const QList<QUrl> urls = event->mimeData()->urls();
    if (!urls.isEmpty() && std::all_of(urls.begin(), urls.end(), [](const QUrl& url) { return url.isLocalFile(); }))
        event->acceptProposedAction();
}

void frmMain::dropEvent(QDropEvent* event)
{
    trapped("Form_DragDrop", [&] {
        QStringList paths;
        for (const QUrl& url : event->mimeData()->urls())
            if (url.isLocalFile())
                paths << url.toLocalFile();
        event->acceptProposedAction();
        importMailFiles(paths);
    });
}

// Each message goes into the store as a captured one does, and is shown as an arrival is.
void frmMain::importMailFiles(const QStringList& paths)
{
    for (const QString& path : paths) {
        const auto messages = MailFiles::readMailFile(pathOf(path));
        if (!messages)
            tellUser(CannotReadText, path, MsgIcon::Exclamation);
        else if (messages->empty())
            tellUser(NoMailText, path, MsgIcon::Information);
        else
            for (const MailFiles::FileMessage& message : *messages)
                m_store->StoreEmail(message.sender, message.recipients, message.data);
    }
}
