#include "frmMain.h"

#include <chrono>

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QMenu>
#include <QSystemTrayIcon>

#include "DesktopNotifier.h"
#include "ErrorReport.h"
#include "MailIcons.h"
#include "MailNotifications.h"
#include "NewMailNotices.h"
#include "ProductInfo.h"
#include "frmMessage.h"

namespace {

constexpr const char* TrayIconCaption = "Tray icon";
constexpr const char* KeepInTrayCaption = "Keep running in the tray when closed";
constexpr const char* NotificationsCaption = "Notify of new mail";
constexpr const char* TrayShowCaption = "Show";
constexpr const char* TrayMessageViewCaption = "Open message window";
// Bursts of mail change the tray at most this often; so does the settling of what is read.
constexpr std::chrono::milliseconds TrayInterval{100};
constexpr std::chrono::milliseconds ReadSettleInterval{100};

QAction* checkEntry(QMenu* menu, const char* name, const char* caption, bool checked)
{
    QAction* action = menu->addAction(QString::fromLatin1(caption));
    action->setObjectName(QString::fromLatin1(name));
    action->setCheckable(true);
    action->setChecked(checked);
    return action;
}

} // namespace

void frmMain::buildTrayMenus(QMenu* view)
{
    view->addSeparator()->setObjectName(QStringLiteral("mnuTraySeparator"));
    mnuTrayIcon = checkEntry(view, "mnuTrayIcon", TrayIconCaption, true);
    mnuTrayIcon->setEnabled(QSystemTrayIcon::isSystemTrayAvailable());
    mnuKeepInTray = checkEntry(view, "mnuKeepInTray", KeepInTrayCaption, false);
    mnuNotifications = checkEntry(view, "mnuNotifications", NotificationsCaption, true);

    m_trayMenu = new QMenu(this);
    m_trayMenu->setObjectName(QStringLiteral("mnuTray"));
    mnuTrayShow = m_trayMenu->addAction(QString::fromLatin1(TrayShowCaption));
    mnuTrayShow->setObjectName(QStringLiteral("mnuTrayShow"));
    // The Control menu's own entries: the same handlers, and texts that follow the server's state.
    m_trayMenu->addAction(mnuStartStop);
    mnuTrayMessageView = m_trayMenu->addAction(QString::fromLatin1(TrayMessageViewCaption));
    mnuTrayMessageView->setObjectName(QStringLiteral("mnuTrayMessageView"));
    m_trayMenu->addSeparator();
    m_trayMenu->addAction(mnuQuit);
}

void frmMain::connectTray()
{
    m_trayUpdate.setSingleShot(true);
    m_trayUpdate.setInterval(TrayInterval);
    connect(&m_trayUpdate, &QTimer::timeout, this, [this] { trapped("updateTray", [&] { updateTray(); }); });
    m_readSettle.setSingleShot(true);
    m_readSettle.setInterval(ReadSettleInterval);
    connect(&m_readSettle, &QTimer::timeout, this, &frmMain::markShownRead);

    m_dbusNotifier = std::make_unique<DBusNotifier>();
    m_notifications = std::make_unique<MailNotifications>(*m_store, *m_dbusNotifier,
                                                          [this] { return isVisible() && isActiveWindow(); });
    connect(m_notifications.get(), &MailNotifications::messageClicked, this, &frmMain::showMessageById);

    connect(mnuTrayIcon, &QAction::triggered, this, &frmMain::mnuTrayIcon_Click);
    connect(mnuNotifications, &QAction::triggered, this, &frmMain::mnuNotifications_Click);
    connect(mnuTrayShow, &QAction::triggered, this, &frmMain::mnuTrayShow_Click);
    connect(mnuTrayMessageView, &QAction::triggered, this, &frmMain::mnuMessageView_Click);
    showTrayIcon();
    updateTray();
}

void frmMain::showTrayIcon()
{
    const bool wanted = mnuTrayIcon->isChecked() && QSystemTrayIcon::isSystemTrayAvailable();
    if (wanted && !m_tray) {
        m_tray = std::make_unique<QSystemTrayIcon>();
        m_tray->setObjectName(QStringLiteral("trayIcon"));
        m_tray->setContextMenu(m_trayMenu);
        connect(m_tray.get(), &QSystemTrayIcon::activated, this, [this](QSystemTrayIcon::ActivationReason reason) {
            if (reason == QSystemTrayIcon::Trigger || reason == QSystemTrayIcon::DoubleClick)
                mnuTrayShow_Click();
        });
        updateTray();
        m_tray->show();
    } else if (!wanted && m_tray) {
        m_tray.reset();
        // Nothing else would bring back a window that went to the tray.
        if (!isVisible() && !m_unloaded)
            mnuTrayShow_Click();
    }
}

void frmMain::mnuTrayIcon_Click()
{
    trapped("mnuTrayIcon_Click", [&] { showTrayIcon(); });
}

void frmMain::mnuNotifications_Click()
{
    trapped("mnuNotifications_Click", [&] { m_notifications->setEnabled(mnuNotifications->isChecked()); });
}

void frmMain::mnuTrayShow_Click()
{
    trapped("mnuTrayShow_Click", [&] {
        QApplication::setQuitOnLastWindowClosed(true);
        showNormal();
        raise();
        activateWindow();
    });
}

bool frmMain::closeToTray()
{
    if (m_quitting || !mnuKeepInTray->isChecked() || !m_tray || !m_tray->isVisible())
        return false;
    // The log or the message window may stay open; closing it must not end the program.
    QApplication::setQuitOnLastWindowClosed(false);
    hide();
    return true;
}

void frmMain::setDesktopNotifier(DesktopNotifier& notifier)
{
    if (m_notifications)
        m_notifications->setNotifier(notifier);
}

void frmMain::showMessageById(quint64 id)
{
    trapped("showMessageById", [&] {
        const std::int16_t position = m_store->positionOfId(id);
        if (position == 0)
            return;
        forgetNewestStored();
        m_currentMessage = position;
        ShowMessage();
        mnuTrayShow_Click();
        mnuMessageView_Click();
    });
}

std::size_t frmMain::unreadCount() const
{
    return static_cast<std::size_t>(m_store->Count()) - m_store->readCount();
}

QString frmMain::trayToolTip() const
{
    return QString::fromStdString(::trayToolTip(ProductInfo::ProductName, m_service.listening(), unreadCount()));
}

void frmMain::scheduleTrayUpdate()
{
    if (!m_trayUpdate.isActive())
        m_trayUpdate.start();
}

void frmMain::updateTray()
{
    if (!m_tray)
        return;
    m_tray->setIcon(trayPicture(m_mailIconShown ? m_mailIcon : m_noMailIcon, m_service.listening(), unreadCount()));
    m_tray->setToolTip(trayToolTip());
}

void frmMain::noteShown()
{
    m_readSettle.start();
}

void frmMain::markShownRead()
{
    trapped("markShownRead", [&] {
        if (m_currentMessage >= 1 && lookedAt())
            m_store->markEmailRead(m_store->emailId(m_currentMessage));
    });
}

// The user is in one of the windows that show the current message.
bool frmMain::lookedAt() const
{
    const bool mainSeen = isVisible() && !isMinimized() && isActiveWindow();
    const bool messageSeen = m_messageWindow && m_messageWindow->isVisible() && m_messageWindow->isActiveWindow();
    return mainSeen || messageSeen;
}

void frmMain::changeEvent(QEvent* event)
{
    if (event->type() == QEvent::ActivationChange && m_loaded)
        noteShown();
    QMainWindow::changeEvent(event);
}
