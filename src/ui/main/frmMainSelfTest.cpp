#include "frmMain.h"

#include <QAction>
#include <QLabel>

#include "ErrorReport.h"
#include "Latin1Text.h"
#include "MessageBoxes.h"
#include "ScopeExit.h"
#include "clsEmailHandler.h"

namespace {

constexpr const char* NotRunningText
    = "Warning: The Quellpost is not running.\rThe selftest will most likely fail.\rOK to continue anyway?";
constexpr const char* LogPrefix = "TestLogger: ";
constexpr const char* ExtendedLogPrefix = "TestLogger::ExtendedStatus: ";
constexpr const char* FailureHeadingLine = "TestLogger: Sending Email failed!";
constexpr const char* FailureBoxText = "Sending a test email did not succeed.\rView log window for details.";
constexpr const char* SuccessLine = "TestLogger: Email has been successfully sent.";
constexpr const char* SuccessBoxText = "Test email has been successfully sent.";

// The test message: to the capture server on this machine, from and to the loopback domain.
constexpr std::int32_t TestEncodeType = 0;
constexpr const char* TestPOP3Host = "127.0.0.1";
constexpr const char* TestUsername = "Username";
constexpr const char* TestPassword = "Selftest";
constexpr const char* TestSMTPHost = "127.0.0.1";
constexpr std::int32_t TestSMTPPort = 25;
constexpr const char* TestFrom = "quellpost.sender@localhost";
constexpr const char* TestReplyTo = "quellpost.replyto@localhost";
constexpr const char* TestFromDisplayName = "Quellpost (From)";
constexpr const char* TestRecipient = "quellpost.recipient@localhost";
constexpr const char* TestRecipientDisplayName = "Quellpost (Recipient)";
constexpr const char* TestSubject = "Quellpost test message";
constexpr const char* TestMessage
    = "This is a test message.\r\nIf you see this message the Quellpost test was succesful.";

std::string withoutLineBreaks(std::string text)
{
    for (std::size_t at = text.find(Wire::CrLf); at != std::string::npos; at = text.find(Wire::CrLf, at))
        text.erase(at, Wire::CrLf.size());
    return text;
}

} // namespace

void frmMain::connectSelfTest()
{
    // The check marks turn over by themselves when triggered; the handlers need nothing more.
    connect(mnuPop3Auth, &QAction::triggered, this, &frmMain::mnuPop3Auth_Click);
    connect(mnuSMTPAuth, &QAction::triggered, this, &frmMain::mnuSMTPAuth_Click);
    connect(mnuTestLogger, &QAction::triggered, this, &frmMain::mnuTestLogger_Click);

    clsEmailHandler* handler = m_emailHandler.get();
    connect(handler, &clsEmailHandler::Status, this, &frmMain::hdlEmailHandler_Status, Qt::DirectConnection);
    connect(handler, &clsEmailHandler::ExtendedStatus, this, &frmMain::hdlEmailHandler_ExtendedStatus,
            Qt::DirectConnection);
    connect(handler, &clsEmailHandler::Progress, this, &frmMain::hdlEmailHandler_Progress, Qt::DirectConnection);
    connect(handler, &clsEmailHandler::SendFailed, this, &frmMain::hdlEmailHandler_SendFailed, Qt::DirectConnection);
    connect(handler, &clsEmailHandler::SendSuccesful, this, &frmMain::hdlEmailHandler_SendSuccesful,
            Qt::DirectConnection);
}

void frmMain::mnuPop3Auth_Click()
{
    trapped("mnuPop3Auth_Click", [] {
        // The action has turned its own check mark over.
    });
}

void frmMain::mnuSMTPAuth_Click()
{
    trapped("mnuSMTPAuth_Click", [] {
        // The action has turned its own check mark over.
    });
}

void frmMain::mnuTestLogger_Click()
{
    trapped("mnuTestLogger_Click", [&] {
        // A second test from inside the first (its waits run events) would nest two sends.
        if (!mnuTestLogger->isEnabled())
            return;
        if (!listening() && msgBox(NotRunningText, MsgButtons::OkCancel, MsgIcon::Question) == MsgResult::Cancel)
            return;
        // Kept disabled while the test runs: the client's waits let the menu work.
        mnuTestLogger->setEnabled(false);
        const ScopeExit finished([this] { mnuTestLogger->setEnabled(true); });
        const bool pop3Auth = mnuPop3Auth->isChecked();
        const bool smtpAuth = mnuSMTPAuth->isChecked();
        clsEmailHandler& handler = *m_emailHandler;
        handler.setEncodeType(TestEncodeType);
        handler.setUsePopAuthentication(pop3Auth);
        handler.setPOP3Host(pop3Auth ? TestPOP3Host : "");
        handler.setUseAuthentication(smtpAuth);
        // A POP3 login with an empty user name is refused by every real server.
        const bool login = pop3Auth || smtpAuth;
        handler.setUsername(login ? TestUsername : "");
        handler.setPassword(login ? TestPassword : "");
        handler.setSMTPHost(TestSMTPHost);
        handler.setSMTPPort(TestSMTPPort);
        handler.setFrom(TestFrom);
        handler.setReplyToAddress(TestReplyTo);
        handler.setFromDisplayName(TestFromDisplayName);
        handler.setRecipient(TestRecipient);
        handler.setRecipientDisplayName(TestRecipientDisplayName);
        handler.setSubject(TestSubject);
        handler.setMessage(TestMessage);
        const unsigned outcomes = m_selfTestOutcomes;
        handler.Send();
        // The client ends some failures (a connect error, a wait of no length) without reporting
        // them; the user asked for a test and is owed its result.
        if (m_selfTestOutcomes == outcomes)
            reportSilentFailure();
    });
}

void frmMain::hdlEmailHandler_Status(const std::string& sStatus)
{
    trapped("hdlEmailHandler_Status", [&] { logLine(LogPrefix + sStatus); });
}

void frmMain::hdlEmailHandler_ExtendedStatus(const std::string& sExtendedStatus)
{
    trapped("hdlEmailHandler_ExtendedStatus", [&] {
        if (m_service.detailedLogging())
            logLine(ExtendedLogPrefix + withoutLineBreaks(sExtendedStatus));
    });
}

void frmMain::hdlEmailHandler_Progress(long lPercentComplete)
{
    trapped("hdlEmailHandler_Progress", [&] {
        lblReceiving->setVisible(true);
        lblReceivingPercent->setText(QStringLiteral("(%1%)").arg(lPercentComplete));
        lblReceivingPercent->setVisible(true);
    });
}

void frmMain::hdlEmailHandler_SendFailed(const std::string& Explanation, bool Following)
{
    trapped("hdlEmailHandler_SendFailed", [&] {
        ++m_selfTestOutcomes;
        if (!FailureRunOpen)
            logLine(FailureHeadingLine);
        logLine(LogPrefix + Explanation);
        FailureRunOpen = Following;
        showTestFailed();
    });
}

void frmMain::hdlEmailHandler_SendSuccesful()
{
    trapped("hdlEmailHandler_SendSuccesful", [&] {
        ++m_selfTestOutcomes;
        logLine(SuccessLine);
        lblReceiving->setVisible(false);
        lblReceivingPercent->setVisible(false);
        msgBox(SuccessBoxText, MsgButtons::Ok, MsgIcon::Information);
    });
}

void frmMain::reportSilentFailure()
{
    if (!FailureRunOpen)
        logLine(FailureHeadingLine);
    showTestFailed();
}

void frmMain::showTestFailed()
{
    lblReceiving->setVisible(false);
    lblReceivingPercent->setVisible(false);
    msgBox(FailureBoxText, MsgButtons::Ok, MsgIcon::Exclamation);
}
