#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include <QHostAddress>
#include <QIcon>
#include <QMainWindow>
#include <QStringList>
#include <QTimer>

#include "CaptureService.h"
#include "clsEmailStorage.h"
#include "MessageBodyView.h"

class QAction;
class QCheckBox;
class QComboBox;
class QDragEnterEvent;
class QDropEvent;
class QGroupBox;
class QLabel;
class QLineEdit;
class QMenu;
class QPushButton;
class QSystemTrayIcon;
class DBusNotifier;
class DesktopNotifier;
class MailNotifications;
class clsEmailHandler;
class frmLog;
class frmMessage;
class RelayService;
class SmtpListener;
class SocketControl;

// The program's window, a view of the capture service: shows captured messages one at a time,
// starts and stops the listener, and owns the log window, the message window and the
// self-test's client.
class frmMain final : public QMainWindow, private StoreObserver {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(frmMain)
public:
    // The service must outlive the window.
    explicit frmMain(CaptureService& service, QWidget* parent = nullptr);
    ~frmMain() override;

    // False when start-up could not complete; the program then ends.
    bool loaded() const { return m_loaded; }

    // The modern dialogue (EHLO, STARTTLS, AUTH) for new connections, as its menu entry sets it.
    void setModernSmtp(bool on);

    SmtpListener& listener() { return *m_listener; }
    clsEmailStorage& emailStorage() { return *m_store; }
    clsEmailHandler& emailHandler() { return *m_emailHandler; }
    frmLog& logWindow() { return *m_log; }
    // The message window, made when the user first asks for it; null before.
    frmMessage* messageWindow() { return m_messageWindow.get(); }
    bool listening() const { return m_service.listening(); }
    std::int16_t CurrentMessage() const { return m_currentMessage; }

    // Shows the message at CurrentMessage and updates the buttons and the position label.
    void ShowMessage();
    // Sets the window icon from whether any message is stored.
    void FlagMessage();

    // The tray icon, or null while it is off or the desktop has no tray.
    QSystemTrayIcon* trayIcon() { return m_tray.get(); }
    // What the tray icon's tooltip says, also while no icon is shown.
    QString trayToolTip() const;
    // Messages nobody has looked at yet, in either window or through the API.
    std::size_t unreadCount() const;
    MailNotifications& notifications() { return *m_notifications; }
    // Notices go to this notifier from now on; it must outlive the window.
    void setDesktopNotifier(DesktopNotifier& notifier);
    // Shows the message with this store id in both windows, as a click on its notice does.
    void showMessageById(quint64 id);

protected:
    void closeEvent(QCloseEvent* event) override;
    void changeEvent(QEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dropEvent(QDropEvent* event) override;

private:
    // Lifecycle and layout (frmMain.cpp, frmMainLayout.cpp).
    void buildLayout();
    void buildMenus();
    bool Form_Load();
    void Form_Unload();
    void mnuStartStop_Click();
    // The title, the Start/Stop entry and the state label for whether the server listens.
    void showServerState();
    void mnuQuit_Click();
    void mnuModernSmtp_Click();
    void mnuLog_Click();
    void frmLog_Unloaded();

    // Viewer (frmMainViewer.cpp).
    void connectViewer();
    void cmdMessagePrev_Click();
    void cmdMessageNext_Click();
    void cmdMessageDelete_Click();
    void txtMessageBody_Change();
    // Tells the user that there is no message to act on.
    void showNoMessages();

    // The message window (frmMainMessages.cpp).
    void buildMessageMenus(QMenu* view);
    void connectMessageWindow();
    // Enter and double clicks on the body box; true when the event was used up.
    bool messageWindowEvent(QObject* watched, QEvent* event);
    void mnuMessageView_Click();
    void mnuMessageList_Click();
    // Keeps the message window on the message this window shows.
    void followMessage();
    // The user picked this message in the message window's list: this window shows it too.
    void showChosenMessage(quint64 id);

    // Mail files (frmMainMailFiles.cpp).
    void buildMailFileMenu();
    void connectMailFiles();
    void mnuMessagesOpen_Click();
    void mnuMessageSaveAs_Click();
    void mnuMessagesSaveAll_Click();
    // Adds the messages of these mail files to the store, shown as arrivals are.
    void importMailFiles(const QStringList& paths);

    // Search (frmMainSearch.cpp).
    void connectSearch();
    void cmdMessagesFind_Click();
    void cmdMessagesFindNext_Click();
    enum class SearchStart { First, BehindLastHit };
    void searchMessages(SearchStart start);
    void txtMessagesSearchFor_GotFocus();
    void ShowMessageFound(QWidget* target, const QString& searchText, std::int16_t position);
    // The search box was focused by a mouse press, whose own caret placement undoes the selection.
    bool m_searchBoxClickFocus = false;

    // Self-test (frmMainSelfTest.cpp).
    void connectSelfTest();
    void mnuPop3Auth_Click();
    void mnuSMTPAuth_Click();
    void mnuTestLogger_Click();
    void hdlEmailHandler_Status(const std::string& sStatus);
    void hdlEmailHandler_ExtendedStatus(const std::string& sExtendedStatus);
    void hdlEmailHandler_Progress(long lPercentComplete);
    void hdlEmailHandler_SendFailed(const std::string& Explanation, bool Following);
    void hdlEmailHandler_SendSuccesful();
    void reportSilentFailure();
    void showTestFailed();

    // Failure replies and release (frmMainTesting.cpp).
    void buildTestingMenus(QMenu* control);
    void mnuChaos_Click();
    void mnuMessageRelease_Click();
    // Asks for the recipients, then releases the message with this id, chosen before the dialog.
    void releaseMessage(quint64 id);

    // The tray icon, new-mail notices and the read state (frmMainTray.cpp).
    void buildTrayMenus(QMenu* view);
    void connectTray();
    void mnuTrayIcon_Click();
    void mnuTrayShow_Click();
    void mnuNotifications_Click();
    // Shows or removes the tray icon as its View entry and the desktop allow.
    void showTrayIcon();
    // True when the window went to the tray instead of closing.
    bool closeToTray();
    // The tray follows the store and the server state at most once per interval.
    void scheduleTrayUpdate();
    void updateTray();
    // The message on show counts as read once it stays on show in a window the user is in.
    void noteShown();
    void markShownRead();
    bool lookedAt() const;

    // Appends a line to the service's log.
    void logLine(const std::string& line);
    // A message stored at this position becomes the one on show: the first of a burst at once,
    // the newest of the rest once per interval.
    void messageStored(std::int16_t position);
    void showNewestStored();
    void messagesReplied();
    // The user chose a message: one waiting to be shown no longer replaces it.
    void forgetNewestStored() { m_newestStoredId = 0; }

    // The store's changes, whoever makes them: the listener, this window, the HTTP API.
    void emailStored(std::int16_t position) override { messageStored(position); }
    void emailRemoved(std::int16_t position, std::uint64_t id) override;
    void emailsCleared() override;
    void emailMarkedRead(std::int16_t, std::uint64_t) override { scheduleTrayUpdate(); }

    bool m_loaded = false;
    bool m_unloaded = false;
    std::int16_t m_currentMessage = 0;
    // Whether the body box shows its scroll bars at the moment.
    bool VertBarShown = false;
    bool HorzBarShown = true;
    // A run of failure reports gets one heading line in the log.
    bool FailureRunOpen = false;
    // Outcomes (success or failure reports) the client has raised; a test that adds none failed.
    unsigned m_selfTestOutcomes = 0;
    // The window icon's pictures, painted once; the icon changes only when its meaning does.
    QIcon m_noMailIcon;
    QIcon m_mailIcon;
    bool m_mailIconShown = false;
    // During a burst of arrivals the window shows the newest at most once per interval, after
    // the replies of the read that stored it have gone: m_newestStoredId waits for its turn.
    QTimer m_arrivalThrottle;
    std::uint64_t m_newestStoredId = 0;

    CaptureService& m_service;
    // The service's store and listener.
    clsEmailStorage* m_store = nullptr;
    SmtpListener* m_listener = nullptr;
    std::unique_ptr<frmLog> m_log;
    std::unique_ptr<SocketControl> sckTestLogger;
    std::unique_ptr<clsEmailHandler> m_emailHandler;
    std::unique_ptr<frmMessage> m_messageWindow;
    // The tray icon's menu, a child of the window.
    QMenu* m_trayMenu = nullptr;
    std::unique_ptr<QSystemTrayIcon> m_tray;
    std::unique_ptr<DBusNotifier> m_dbusNotifier;
    std::unique_ptr<MailNotifications> m_notifications;
    QTimer m_trayUpdate;
    QTimer m_readSettle;
    // Quit was chosen: closing ends the program even when it would go to the tray.
    bool m_quitting = false;

    // Controls, named as the user and the tests know them.
    QLabel* lblApplicationState = nullptr;
    QLabel* lblReceiving = nullptr;
    QLabel* lblReceivingPercent = nullptr;
    QLabel* lblActiveConnectionsNum = nullptr;
    QPushButton* cmdMessagePrev = nullptr;
    QPushButton* cmdMessageDelete = nullptr;
    QPushButton* cmdMessageNext = nullptr;
    QLabel* lblMessage = nullptr;
    QLineEdit* txtMessageFrom = nullptr;
    QLineEdit* txtMessageTo = nullptr;
    MessageBodyView* txtMessageBody = nullptr;
    QWidget* picMessageBody = nullptr;
    QLineEdit* txtMessagesSearchFor = nullptr;
    QComboBox* cboMessagesSearchFor = nullptr;
    QPushButton* cmdMessagesFind = nullptr;
    QPushButton* cmdMessagesFindNext = nullptr;
    QLabel* imgEmailYes = nullptr;
    QLabel* imgEmailNo = nullptr;
    QAction* mnuStartStop = nullptr;
    QAction* mnuQuit = nullptr;
    QAction* mnuModernSmtp = nullptr;
    QAction* mnuPop3Auth = nullptr;
    QAction* mnuSMTPAuth = nullptr;
    QAction* mnuTestLogger = nullptr;
    QAction* mnuLog = nullptr;
    QAction* mnuMessageView = nullptr;
    QAction* mnuMessageList = nullptr;
    QAction* mnuMessagesOpen = nullptr;
    QAction* mnuMessageSaveAs = nullptr;
    QAction* mnuMessagesSaveAll = nullptr;
    QAction* mnuChaos = nullptr;
    QAction* mnuMessageRelease = nullptr;
    QAction* mnuTrayIcon = nullptr;
    QAction* mnuKeepInTray = nullptr;
    QAction* mnuNotifications = nullptr;
    QAction* mnuTrayShow = nullptr;
    QAction* mnuTrayMessageView = nullptr;
};
