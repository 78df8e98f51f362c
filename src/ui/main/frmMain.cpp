#include "frmMain.h"

#include <chrono>
#include <utility>

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QLabel>
#include <QMenu>
#include <QSystemTrayIcon>

#include "AppError.h"
#include "DesktopNotifier.h"
#include "ErrorReport.h"
#include "MailIcons.h"
#include "MailNotifications.h"
#include "MessageBoxes.h"
#include "ProductInfo.h"
#include "QtLatin1.h"
#include "ScopeExit.h"
#include "SmtpListener.h"
#include "SocketControl.h"
#include "clsEmailHandler.h"
#include "clsEmailStorage.h"
#include "frmLog.h"
#include "frmMessage.h"
#include "mdlListBoxMod.h"

namespace {

constexpr const char* ListeningTitleSuffix = " (listening)";
constexpr const char* StartCaption = "Start";
constexpr const char* StopCaption = "Stop";
constexpr const char* IdleCaption = "Idle (inactive).";
constexpr const char* ListeningCaption = "Listening for messages.";
constexpr const char* InitFailedText = "Error: Unable to initialise application.";
constexpr const char* CategoryFrom = "From:";
constexpr const char* CategoryTo = "To:";
constexpr const char* CategoryBody = "Body";
constexpr std::chrono::milliseconds RepaintInterval{100};
constexpr const char* TestLoggerHost = "127.0.0.1";
constexpr int TestLoggerPort = 25;

} // namespace

frmMain::frmMain(CaptureService& service, QWidget* parent)
    : QMainWindow(parent), m_service(service), m_store(&service.store()), m_listener(&service.listener())
{
    setObjectName(QStringLiteral("frmMain"));
    m_noMailIcon = noMailIcon();
    m_mailIcon = mailPresentIcon();
    buildLayout();
    buildMenus();
    setWindowIcon(m_noMailIcon);
    m_arrivalThrottle.setSingleShot(true);
    m_arrivalThrottle.setInterval(RepaintInterval);
    connect(&m_arrivalThrottle, &QTimer::timeout, this, &frmMain::showNewestStored);
    connect(m_listener, &SmtpListener::messagesReplied, this, &frmMain::messagesReplied);
    m_loaded = Form_Load();
    if (m_loaded) {
        connectViewer();
        connectSearch();
        connectSelfTest();
        connectMessageWindow();
        connectMailFiles();
        connectTray();
    }
    // Nothing is moved or resized at run time.
    setFixedSize(sizeHint());
}

frmMain::~frmMain()
{
    m_store->removeObserver(this);
    // The message window goes after this window's own parts: it must not call back into them.
    if (m_messageWindow)
        m_messageWindow->removeEventFilter(this);
    setMessageBoxOverflowSink({});
}

bool frmMain::Form_Load()
{
    bool loaded = false;
    trapped("Form_Load", [&] {
        m_currentMessage = 0;
        showServerState();

        m_log = std::make_unique<frmLog>(m_service.log());
        connect(m_log.get(), &frmLog::unloaded, this, &frmMain::frmLog_Unloaded);
        if (!mdlListBoxMod::LBM_Init(mdlListBoxMod::LogSlot, m_log->lstLog())) {
            msgBox(InitFailedText, MsgButtons::Ok, MsgIcon::Critical);
            return;
        }
        // The log window shows the service's log, and its switch sets the detailed logging.
        connect(&m_service, &CaptureService::lineLogged, m_log.get(),
                [](std::string_view line, std::size_t droppedLines) {
                    mdlListBoxMod::showAppendedItem(mdlListBoxMod::LogSlot, std::string(line), droppedLines);
                });
        connect(m_log->chkLogFull(), &QCheckBox::stateChanged, &m_service,
                [this](int state) { m_service.setDetailedLogging(state != Qt::Unchecked); });
        m_service.setDetailedLogging(m_log->detailedLogging());
        mnuModernSmtp->setChecked(m_service.modernSmtp());
        connect(&m_service, &CaptureService::modernSmtpChanged, mnuModernSmtp, &QAction::setChecked);
        connect(&m_service, &CaptureService::connectionCountChanged, this,
                [this](long count) { lblActiveConnectionsNum->setText(QString::number(count)); });
        // Boxes beyond the few already open would nest without bound: their text goes to the log.
        setMessageBoxOverflowSink([this](const std::string& text) { logLine(text); });

        picMessageBody->setFont(txtMessageBody->font());
        VertBarShown = false;
        HorzBarShown = true;
        txtMessageBody_Change();

        for (const char* category : {CategoryFrom, CategoryTo, CategoryBody})
            cboMessagesSearchFor->addItem(fromLatin1(category));
        cboMessagesSearchFor->setCurrentIndex(0);

        m_store->addObserver(this);
        sckTestLogger = std::make_unique<SocketControl>();
        sckTestLogger->setObjectName(QStringLiteral("sckTestLogger"));
        sckTestLogger->SetRemoteHost(TestLoggerHost);
        sckTestLogger->SetRemotePort(TestLoggerPort);
        m_emailHandler = std::make_unique<clsEmailHandler>(*sckTestLogger);
        loaded = true;
    });
    return loaded;
}

void frmMain::closeEvent(QCloseEvent* event)
{
    if (closeToTray()) {
        event->ignore();
        return;
    }
    Form_Unload();
    event->accept();
}

// However the window closes, every captured message is discarded. Objects that a running
// handler may still use further up the stack live until the window itself is destroyed.
void frmMain::Form_Unload()
{
    trapped("Form_Unload", [&] {
        if (m_unloaded)
            return;
        m_unloaded = true;
        setMessageBoxOverflowSink({});
        if (m_log)
            m_log->hide();
        if (m_messageWindow)
            m_messageWindow->hide();
        m_store->Clear();
    });
}

void frmMain::mnuStartStop_Click()
{
    trapped("mnuStartStop_Click", [&] {
        if (!m_service.listening())
            m_service.startListening();
        else
            m_service.stopListening();
        showServerState();
    });
}

void frmMain::showServerState()
{
    const QString product = fromLatin1(ProductInfo::ProductName);
    const bool listening = m_service.listening();
    setWindowTitle(listening ? product + fromLatin1(ListeningTitleSuffix) : product);
    mnuStartStop->setText(fromLatin1(listening ? StopCaption : StartCaption));
    lblApplicationState->setText(fromLatin1(listening ? ListeningCaption : IdleCaption));
    scheduleTrayUpdate();
}

void frmMain::mnuQuit_Click()
{
    trapped("mnuQuit_Click", [&] {
        m_quitting = true;
        // A window in the tray is hidden: closing it is not the last window closing.
        const bool inTray = !QApplication::quitOnLastWindowClosed();
        m_service.shutDown();
        close();
        if (inTray)
            QApplication::quit();
    });
}

void frmMain::mnuModernSmtp_Click()
{
    trapped("mnuModernSmtp_Click", [&] { setModernSmtp(mnuModernSmtp->isChecked()); });
}

void frmMain::setModernSmtp(bool on)
{
    // The check mark shows what the listener does, also when making the certificate failed.
    const ScopeExit showState([this] { mnuModernSmtp->setChecked(m_listener->extensions()); });
    m_service.setModernSmtp(on);
}

void frmMain::mnuLog_Click()
{
    trapped("mnuLog_Click", [&] {
        const bool visible = !m_log->isVisible();
        m_log->setVisible(visible);
        mnuLog->setChecked(visible);
        if (visible) {
            m_log->activateWindow();
            m_log->raise();
        }
    });
}

void frmMain::frmLog_Unloaded()
{
    mnuLog->setChecked(false);
}

void frmMain::logLine(const std::string& line)
{
    m_service.logLine(line);
}

void frmMain::messageStored(std::int16_t position)
{
    // Showing every one of a burst of thousands, before its reply, would cost far more than
    // capturing it. A message a client stores is shown once the replies of its read have gone:
    // the first of a burst then, the newest of those within the interval when it ends.
    m_newestStoredId = m_store->emailId(position);
    if (!m_listener->receiving())
        showNewestStored();
}

void frmMain::messagesReplied()
{
    if (!m_arrivalThrottle.isActive())
        showNewestStored();
}

void frmMain::showNewestStored()
{
    if (m_unloaded || m_newestStoredId == 0)
        return;
    // A message removed meanwhile is not shown: the removal already moved the window on.
    const std::int16_t position = m_store->positionOfId(std::exchange(m_newestStoredId, 0));
    if (position != 0) {
        m_currentMessage = position;
        ShowMessage();
    }
    FlagMessage();
    m_arrivalThrottle.start();
}
