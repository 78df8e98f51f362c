#include "frmMain.h"

#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>

#include "ErrorReport.h"
#include "MailIcons.h"
#include "clsEmailStorage.h"

namespace {
constexpr const char* MessageNoneCaption = "Message (n/a)";

QString FromLatin1(const std::string& text)
{
    return QString::fromLatin1(text.data(), qsizetype(text.size()));
}
} // namespace

void frmMain::ShowMessage()
{
    Trapped("ShowMessage", [&] {
        const std::int16_t count = m_store->Count();
        if (count > 0 && m_currentMessage >= 1 && m_currentMessage <= count) {
            txtMessageFrom->setText(FromLatin1(m_store->EmailFrom(m_currentMessage)));
            txtMessageTo->setText(FromLatin1(m_store->EmailTo(m_currentMessage)));
            txtMessageBody->setPlainText(FromLatin1(m_store->EmailBody(m_currentMessage)));
            lblMessage->setText(QStringLiteral("Message: %1/%2").arg(m_currentMessage).arg(count));
            cmdMessageDelete->setEnabled(true);
            cmdMessagePrev->setEnabled(count >= 2 && m_currentMessage > 1);
            cmdMessageNext->setEnabled(count >= 2 && m_currentMessage < count);
            return;
        }
        if (count == 0) {
            cmdMessagePrev->setEnabled(false);
            cmdMessageNext->setEnabled(false);
            cmdMessageDelete->setEnabled(false);
        }
        txtMessageFrom->clear();
        txtMessageTo->clear();
        txtMessageBody->clear();
        lblMessage->setText(QString::fromLatin1(MessageNoneCaption));
    });
}

void frmMain::FlagMessage()
{
    Trapped("FlagMessage", [&] { setWindowIcon(m_store->Count() < 1 ? NoMailIcon() : MailPresentIcon()); });
}

void frmMain::ConnectViewer()
{
}

void frmMain::cmdMessagePrev_Click()
{
}

void frmMain::cmdMessageNext_Click()
{
}

void frmMain::cmdMessageDelete_Click()
{
}

void frmMain::txtMessageBody_Change()
{
}
