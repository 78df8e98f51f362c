#include "frmMain.h"

#include <chrono>

#include <QAction>
#include <QCloseEvent>
#include <QComboBox>
#include <QLabel>

#include "AppError.h"
#include "ErrorReport.h"
#include "MailIcons.h"
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
constexpr const char* StartedLine = "SMTP server started.";
constexpr const char* StoppedLine = "SMTP server stopped.";
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

frmMain::frmMain(QWidget* parent) : QMainWindow(parent)
{
    setObjectName(QStringLiteral("frmMain"));
    m_noMailIcon = NoMailIcon();
    m_mailIcon = MailPresentIcon();
    BuildLayout();
    BuildMenus();
    setWindowIcon(m_noMailIcon);
    m_repaintThrottle.setSingleShot(true);
    m_repaintThrottle.setInterval(RepaintInterval);
    connect(&m_repaintThrottle, &QTimer::timeout, this, [this] { centralWidget()->setUpdatesEnabled(true); });
    m_loaded = Form_Load();
    if (m_loaded) {
        ConnectViewer();
        ConnectSearch();
        ConnectSelfTest();
        ConnectMessageWindow();
        ConnectMailFiles();
    }
    // Nothing is moved or resized at run time.
    setFixedSize(sizeHint());
}

frmMain::~frmMain()
{
    if (m_store)
        m_store->removeObserver(this);
}

bool frmMain::Form_Load()
{
    bool loaded = false;
    Trapped("Form_Load", [&] {
        m_currentMessage = 0;
        m_listening = false;
        showServerState();

        m_log = std::make_unique<frmLog>();
        connect(m_log.get(), &frmLog::Unloaded, this, &frmMain::frmLog_Unloaded);
        if (!mdlListBoxMod::LBM_Init(mdlListBoxMod::LogSlot, m_log->lstLog())) {
            MsgBox(InitFailedText, MsgButtons::Ok, MsgIcon::Critical);
            return;
        }
        // Boxes beyond the few already open would nest without bound: their text goes to the log.
        SetMessageBoxOverflowSink(
            [](const std::string& text) { mdlListBoxMod::LBM_AddItem(mdlListBoxMod::LogSlot, text); });

        picMessageBody->setFont(txtMessageBody->font());
        VertBarShown = false;
        HorzBarShown = true;
        txtMessageBody_Change();

        for (const char* category : {CategoryFrom, CategoryTo, CategoryBody})
            cboMessagesSearchFor->addItem(fromLatin1(category));
        cboMessagesSearchFor->setCurrentIndex(0);

        m_store = std::make_unique<clsEmailStorage>();
        m_store->addObserver(this);
        m_listener = std::make_unique<SmtpListener>(*m_store, static_cast<ListenerHost&>(*this));
        sckTestLogger = std::make_unique<SocketControl>();
        sckTestLogger->setObjectName(QStringLiteral("sckTestLogger"));
        sckTestLogger->SetRemoteHost(TestLoggerHost);
        sckTestLogger->SetRemotePort(TestLoggerPort);
        m_emailHandler = std::make_unique<clsEmailHandler>(*sckTestLogger);
        loaded = true;
    });
    return loaded;
}

void frmMain::SetListenAddress(const QHostAddress& address, int port)
{
    m_listener->SetListenAddress(address, port);
}

void frmMain::closeEvent(QCloseEvent* event)
{
    Form_Unload();
    event->accept();
}

// However the window closes, every captured message is discarded. Objects that a running
// handler may still use further up the stack live until the window itself is destroyed.
void frmMain::Form_Unload()
{
    Trapped("Form_Unload", [&] {
        if (m_unloaded)
            return;
        m_unloaded = true;
        SetMessageBoxOverflowSink({});
        if (m_log)
            m_log->hide();
        if (m_messageWindow)
            m_messageWindow->hide();
        if (m_store)
            m_store->Clear();
    });
}

void frmMain::mnuStartStop_Click()
{
    Trapped("mnuStartStop_Click", [&] {
        if (!m_listening) {
            m_listener->StartListening();
            m_listening = true;
            LogLine(StartedLine);
        } else {
            m_listener->ShutDownWinSock();
            m_listening = false;
            LogLine(StoppedLine);
        }
        showServerState();
    });
}

void frmMain::showServerState()
{
    const QString product = fromLatin1(ProductInfo::ProductName);
    setWindowTitle(m_listening ? product + fromLatin1(ListeningTitleSuffix) : product);
    mnuStartStop->setText(fromLatin1(m_listening ? StopCaption : StartCaption));
    lblApplicationState->setText(fromLatin1(m_listening ? ListeningCaption : IdleCaption));
}

void frmMain::mnuQuit_Click()
{
    Trapped("mnuQuit_Click", [&] {
        m_listener->ShutDownWinSock();
        close();
    });
}

void frmMain::mnuModernSmtp_Click()
{
    Trapped("mnuModernSmtp_Click", [&] { SetModernSmtp(mnuModernSmtp->isChecked()); });
}

void frmMain::SetModernSmtp(bool on)
{
    // The check mark shows what the listener does, also when making the certificate failed.
    const ScopeExit showState([this] { mnuModernSmtp->setChecked(m_listener->Extensions()); });
    if (on == m_listener->Extensions())
        return;
    m_listener->SetExtensions(on);
}

void frmMain::mnuLog_Click()
{
    Trapped("mnuLog_Click", [&] {
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

void frmMain::LogLine(const std::string& line)
{
    mdlListBoxMod::LBM_AddItem(mdlListBoxMod::LogSlot, line);
}

bool frmMain::DetailedLogging() const
{
    return m_log->DetailedLogging();
}

void frmMain::ConnectionCountChanged(long count)
{
    lblActiveConnectionsNum->setText(QString::number(count));
}

void frmMain::MessageStored(std::int16_t position)
{
    m_currentMessage = position;
    ShowMessage();
    FlagMessage();
    // The widgets always hold the newest message; painting every one of a burst of thousands
    // would cost far more than capturing them. The first arrival paints at once, later ones
    // within the interval are painted together when it ends.
    if (m_repaintThrottle.isActive())
        centralWidget()->setUpdatesEnabled(false);
    else
        m_repaintThrottle.start();
}
