#include "frmMain.h"

#include <QAction>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>

#include "MailIcons.h"
#include "MessageBodyView.h"
#include "QtLatin1.h"
#include "WindowLayout.h"

namespace {

// A style sheet decides the fonts of everything below it, so the window's font is named in it too.
constexpr const char* FontStyle = "QWidget { font-family: %1; font-size: %2pt; }";
constexpr const char* FrameStyle
    = "#lblApplicationState { font-weight: bold; }"
      "QGroupBox { border: 1px solid palette(mid); border-radius: 2px; margin-top: 0.55em; }"
      "QGroupBox::title { subcontrol-origin: margin; subcontrol-position: top left; left: 5px; padding: 0 2px; }";

constexpr int ClientWidthTwips = 6255;
constexpr int ClientHeightTwips = 5775;

constexpr const char* ApplicationStateCaption = "Application state:";
constexpr const char* ReceivingCaption = "Receiving...";
constexpr const char* ReceivingPercentCaption = "(%)";
constexpr const char* ActiveConnectionsCaption = "Active connections:";
constexpr const char* MessagesCaption = "Messages received (stored):";
constexpr const char* PrevCaption = "<";
constexpr const char* PrevTip = "Switch to the previous message.";
constexpr const char* DeleteCaption = "x";
constexpr const char* DeleteTip = "Remove current message from storage.";
constexpr const char* NextCaption = ">";
constexpr const char* NextTip = "Switch to the next message.";
constexpr const char* MessageNoneAtStartCaption = "Message: (n/a)";
constexpr const char* FromCaption = "From:";
constexpr const char* FromTip = "Address, the message has been received from";
constexpr const char* ToCaption = "To:";
constexpr const char* ToLabelTip = "Address the message has been sent to";
constexpr const char* ToTip = "Address, the message has been sent to";
// What screen readers call the body box, which has no caption of its own.
constexpr const char* BodyName = "Message body";
constexpr const char* BodyTip = "The message content received at last (or specifically selected).";
constexpr const char* MeasureTip = "Required to toggle textbox scrollbars only if required.";
constexpr const char* SearchCaption = "Search within messages:";
constexpr const char* SearchForCaption = "Search for:";
constexpr const char* SearchForTip = "Enter text to serach for within messages.";
constexpr const char* SearchInCaption = "in:";
constexpr const char* CategoryTip = "Select category to search within";
constexpr const char* FindCaption = "Find";
constexpr const char* FindTip = "Find first message with specified context.";
constexpr const char* FindNextCaption = "Next";
constexpr const char* FindNextTip = "Find next message with specified context.";

constexpr const char* ControlMenuCaption = "&Control";
constexpr const char* QuitCaption = "&Quit";
constexpr const char* ModernSmtpCaption = "Modern SMTP (EHLO, STARTTLS, AUTH)";
constexpr const char* SelftestMenuCaption = "&Selftest";
constexpr const char* SettingsCaption = "Settings";
constexpr const char* Pop3AuthCaption = "With POP3-AUTH";
constexpr const char* SmtpAuthCaption = "With SMTP-AUTH";
constexpr const char* TestLoggerCaption = "Send Test Email";
constexpr const char* ViewMenuCaption = "&View";
constexpr const char* LogWindowCaption = "Log window";

QAction* menuEntry(QMenu* menu, const char* name, const char* caption, const QKeySequence& shortcut,
                   bool checkable = false)
{
    QAction* action = menu->addAction(fromLatin1(caption));
    action->setObjectName(fromLatin1(name));
    action->setShortcut(shortcut);
    action->setCheckable(checkable);
    return action;
}

} // namespace

void frmMain::buildLayout()
{
    const QFont font = windowFont();
    setFont(font);
    // Frame captions sit on the frame's top line, so the layout's first row starts below it.
    setStyleSheet(fromLatin1(FontStyle).arg(font.family()).arg(font.pointSizeF()) + fromLatin1(FrameStyle));

    auto* client = new QWidget(this);
    client->setObjectName(QStringLiteral("frmMainClient"));
    client->setFixedSize(twips(ClientWidthTwips), twips(ClientHeightTwips));
    setCentralWidget(client);

    auto* picMain = place<QWidget>(client, "picMain", twipsRect(120, 120, 6015, 5535));

    auto* frameApplicationState
        = placeFrame(picMain, "frameApplicationState", twipsRect(0, 0, 6015, 975), ApplicationStateCaption);
    auto* picApplicationState
        = place<QWidget>(frameApplicationState, "picApplicationState", twipsRect(120, 240, 5775, 615));
    // Its caption, like the Start/Stop entry's, follows the server's state (showServerState).
    lblApplicationState = placeLabel(picApplicationState, "lblApplicationState", twipsRect(120, 0, 2655, 255), {});
    lblReceiving = placeLabel(picApplicationState, "lblReceiving", twipsRect(2880, 0, 1335, 255), ReceivingCaption);
    lblReceiving->hide();
    lblReceivingPercent = placeLabel(picApplicationState, "lblReceivingPercent", twipsRect(4320, 0, 1335, 255),
                                     ReceivingPercentCaption, Qt::AlignHCenter);
    lblReceivingPercent->hide();
    placeLabel(picApplicationState, "lblActiveConnections", twipsRect(120, 360, 2055, 255), ActiveConnectionsCaption);
    lblActiveConnectionsNum
        = placeLabel(picApplicationState, "lblActiveConnectionsNum", twipsRect(2880, 360, 1335, 255), "0");

    auto* frameMessages = placeFrame(picMain, "frameMessages", twipsRect(0, 1080, 6015, 4455), MessagesCaption);
    auto* picMessage = place<QWidget>(frameMessages, "picMessage", twipsRect(4560, 0, 1335, 255));
    cmdMessagePrev = placeButton(picMessage, "cmdMessagePrev", twipsRect(0, 0, 375, 255), PrevCaption, PrevTip);
    cmdMessageDelete
        = placeButton(picMessage, "cmdMessageDelete", twipsRect(480, 0, 375, 255), DeleteCaption, DeleteTip);
    cmdMessageNext = placeButton(picMessage, "cmdMessageNext", twipsRect(960, 0, 375, 255), NextCaption, NextTip);
    for (QPushButton* button : {cmdMessagePrev, cmdMessageDelete, cmdMessageNext})
        button->setEnabled(false);

    auto* picMessages = place<QWidget>(frameMessages, "picMessages", twipsRect(120, 240, 5775, 4095));
    lblMessage = placeLabel(picMessages, "lblMessage", twipsRect(0, 150, 1575, 255), MessageNoneAtStartCaption);
    auto* lblMessageFrom
        = placeLabel(picMessages, "lblMessageFrom", twipsRect(1680, 150, 615, 255), FromCaption, Qt::AlignRight);
    txtMessageFrom = placeReadOnlyBox(picMessages, "txtMessageFrom", twipsRect(2400, 120, 1335, 315), FromTip);
    nameBy(txtMessageFrom, lblMessageFrom);
    auto* lblMessageTo = placeLabel(picMessages, "lblMessageTo", twipsRect(3840, 150, 495, 255), ToCaption,
                                    Qt::AlignRight, ToLabelTip);
    txtMessageTo = placeReadOnlyBox(picMessages, "txtMessageTo", twipsRect(4440, 120, 1335, 315), ToTip);
    nameBy(txtMessageTo, lblMessageTo);
    // The measuring panel sits behind the body box; it is never seen.
    picMessageBody = place<QWidget>(picMessages, "picMessageBody", twipsRect(0, 480, 255, 255), MeasureTip);
    picMessageBody->hide();
    // Read-only and unwrapped; its own view, since bodies run to many megabytes.
    txtMessageBody = place<MessageBodyView>(picMessages, "txtMessageBody", twipsRect(0, 480, 5775, 2775), BodyTip);
    txtMessageBody->setAccessibleName(fromLatin1(BodyName));
    txtMessageBody->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    txtMessageBody->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);

    auto* frameMessagesSearch
        = placeFrame(picMessages, "frameMessagesSearch", twipsRect(0, 3360, 5775, 735), SearchCaption);
    auto* picMessagesSearch = place<QWidget>(frameMessagesSearch, "picMessagesSearch", twipsRect(120, 240, 5535, 375));
    auto* lblMessagesSearchFor
        = placeLabel(picMessagesSearch, "lblMessagesSearchFor", twipsRect(0, 60, 975, 255), SearchForCaption);
    txtMessagesSearchFor
        = place<QLineEdit>(picMessagesSearch, "txtMessagesSearchFor", twipsRect(1080, 30, 1095, 315), SearchForTip);
    nameBy(txtMessagesSearchFor, lblMessagesSearchFor);
    auto* lblMessagesSearchIn = placeLabel(picMessagesSearch, "lblMessagesSearchIn", twipsRect(2280, 60, 375, 375),
                                           SearchInCaption, Qt::AlignHCenter);
    cboMessagesSearchFor
        = place<QComboBox>(picMessagesSearch, "cboMessagesSearchFor", twipsRect(2760, 30, 1095, 330), CategoryTip);
    // The category is read as typed, so a user may write one; typing never adds to the three entries.
    cboMessagesSearchFor->setEditable(true);
    cboMessagesSearchFor->setInsertPolicy(QComboBox::NoInsert);
    nameBy(cboMessagesSearchFor, lblMessagesSearchIn);
    cboMessagesSearchFor->lineEdit()->setAccessibleName(cboMessagesSearchFor->accessibleName());
    cmdMessagesFind
        = placeButton(picMessagesSearch, "cmdMessagesFind", twipsRect(3960, 0, 735, 375), FindCaption, FindTip);
    cmdMessagesFindNext = placeButton(picMessagesSearch, "cmdMessagesFindNext", twipsRect(4800, 0, 735, 375),
                                      FindNextCaption, FindNextTip);

    // Picture sources for the window icon; they lie outside the visible area.
    imgEmailYes = place<QLabel>(client, "imgEmailYes", twipsRect(5640, 5760, 480, 480));
    imgEmailYes->setPixmap(m_mailIcon.pixmap(32, 32));
    imgEmailYes->hide();
    imgEmailNo = place<QLabel>(client, "imgEmailNo", twipsRect(4920, 5760, 480, 480));
    imgEmailNo->setPixmap(m_noMailIcon.pixmap(32, 32));
    imgEmailNo->hide();
}

void frmMain::buildMenus()
{
    QMenu* control = menuBar()->addMenu(fromLatin1(ControlMenuCaption));
    control->setObjectName(QStringLiteral("mnuControl"));
    mnuStartStop = menuEntry(control, "mnuStartStop", "", QKeySequence(Qt::Key_F5));
    control->addSeparator()->setObjectName(QStringLiteral("mnuSeparator"));
    mnuQuit = menuEntry(control, "mnuQuit", QuitCaption, QKeySequence(Qt::SHIFT | Qt::Key_F4));
    control->addSeparator()->setObjectName(QStringLiteral("mnuModernSmtpSeparator"));
    mnuModernSmtp = menuEntry(control, "mnuModernSmtp", ModernSmtpCaption, QKeySequence(), true);

    QMenu* selftest = menuBar()->addMenu(fromLatin1(SelftestMenuCaption));
    selftest->setObjectName(QStringLiteral("mnuSelftest"));
    QMenu* settings = selftest->addMenu(fromLatin1(SettingsCaption));
    settings->setObjectName(QStringLiteral("mnuSettings"));
    mnuPop3Auth = menuEntry(settings, "mnuPop3Auth", Pop3AuthCaption, QKeySequence(Qt::Key_F11), true);
    mnuSMTPAuth = menuEntry(settings, "mnuSMTPAuth", SmtpAuthCaption, QKeySequence(Qt::Key_F12), true);
    mnuTestLogger = menuEntry(selftest, "mnuTestLogger", TestLoggerCaption, QKeySequence(Qt::Key_F6));

    QMenu* view = menuBar()->addMenu(fromLatin1(ViewMenuCaption));
    view->setObjectName(QStringLiteral("mnuView"));
    mnuLog = menuEntry(view, "mnuLog", LogWindowCaption, QKeySequence(Qt::CTRL | Qt::Key_L), true);
    buildMessageMenus(view);
    buildMailFileMenu();
    buildTestingMenus(control);
    buildTrayMenus(view);

    connect(mnuStartStop, &QAction::triggered, this, &frmMain::mnuStartStop_Click);
    connect(mnuQuit, &QAction::triggered, this, &frmMain::mnuQuit_Click);
    connect(mnuModernSmtp, &QAction::triggered, this, &frmMain::mnuModernSmtp_Click);
    connect(mnuLog, &QAction::triggered, this, &frmMain::mnuLog_Click);
}
