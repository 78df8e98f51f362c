#include "frmMain.h"

#include <QAction>
#include <QMenu>
#include <QMenuBar>

#include "Desktop.h"
#include "ErrorReport.h"
#include "MessageBoxes.h"
#include "QtLatin1.h"
#include "RelayService.h"
#include "SmtpListener.h"
#include "frmChaos.h"

namespace {

constexpr const char* ChaosCaption = "Failure replies...";
constexpr const char* ReleaseCaption = "Release...";
constexpr const char* ReleaseTitle = "Release message";
constexpr const char* ReleaseLabelFormat = "Send this message, unchanged, through %1 to (addresses matching %2):";
constexpr const char* NoRelayText
    = "Release needs a mail server to send to: start the program with --relay URL and --relay-allow REGEX.";
constexpr const char* GoneText = "The message chosen for release is no longer stored.";
constexpr const char* RefusedFormat = "The message was not released: %1.";
constexpr const char* SentFormat = "The message was released to %1.";
constexpr const char* FailedFormat = "The release to %1 failed: %2.";

} // namespace

void frmMain::buildTestingMenus(QMenu* control)
{
    mnuChaos = control->addAction(fromLatin1(ChaosCaption));
    mnuChaos->setObjectName(QStringLiteral("mnuChaos"));
    auto* messages = menuBar()->findChild<QMenu*>(QStringLiteral("mnuMessages"));
    mnuMessageRelease = messages->addAction(fromLatin1(ReleaseCaption));
    mnuMessageRelease->setObjectName(QStringLiteral("mnuMessageRelease"));
    connect(mnuChaos, &QAction::triggered, this, &frmMain::mnuChaos_Click);
    connect(mnuMessageRelease, &QAction::triggered, this, &frmMain::mnuMessageRelease_Click);
}

void frmMain::mnuChaos_Click()
{
    trapped("mnuChaos_Click", [&] {
        frmChaos dialog(m_listener->chaos(), this);
        dialog.exec();
    });
}

void frmMain::mnuMessageRelease_Click()
{
    const bool shown = m_currentMessage >= 1 && m_currentMessage <= m_store->Count();
    releaseMessage(shown ? m_store->emailId(m_currentMessage) : 0);
}

// The dialog lets events run: the message released is the one chosen before it, if it is still stored.
void frmMain::releaseMessage(quint64 id)
{
    trapped("releaseMessage", [&] {
        RelayService* relay = m_service.relay();
        if (!relay) {
            msgBox(NoRelayText, MsgButtons::Ok, MsgIcon::Exclamation);
            return;
        }
        if (id == 0 || m_store->positionOfId(id) < 1)
            return showNoMessages();
        const QString server = QString::fromStdString(relay->settings().server());
        const std::optional<QString> to = desktop().askText(
            this, fromLatin1(ReleaseTitle),
            fromLatin1(ReleaseLabelFormat).arg(server, QString::fromStdString(relay->allowList().pattern())));
        if (!to)
            return;
        if (m_store->positionOfId(id) < 1) {
            msgBox(GoneText, MsgButtons::Ok, MsgIcon::Exclamation);
            return;
        }
        std::string error;
        const auto report = [server](const RelayResult& result) {
            const QString text = result.sent
                ? fromLatin1(SentFormat).arg(server)
                : fromLatin1(FailedFormat).arg(server, QString::fromStdString(result.error));
            msgBox(text.toStdString(), MsgButtons::Ok, result.sent ? MsgIcon::Information : MsgIcon::Exclamation);
        };
        if (!relay->release(*m_store, id, splitAddressList(to->toStdString()), report, error))
            msgBox(fromLatin1(RefusedFormat).arg(QString::fromStdString(error)).toStdString(), MsgButtons::Ok,
                   MsgIcon::Exclamation);
    });
}
