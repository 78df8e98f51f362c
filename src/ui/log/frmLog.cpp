#include "frmLog.h"

#include <string_view>

#include <QCheckBox>
#include <QCloseEvent>
#include <QGroupBox>
#include <QPushButton>

#include "ErrorReport.h"
#include "Latin1Text.h"
#include "LogListBox.h"
#include "ProductInfo.h"
#include "QtLatin1.h"
#include "WindowLayout.h"
#include "mdlListBoxMod.h"

namespace {
constexpr const char* TitleSuffix = " (log)";
constexpr const char* FrameCaption = "Application log:";
constexpr const char* ListToolTipStart = "Log of operations done by ";
constexpr const char* ListToolTipEnd = ".";
constexpr const char* ClearCaption = "Clear";
constexpr const char* ClearToolTip = "Clear log messages collected so far.";
constexpr const char* DetailedCaption = "Enable detailed (full) logging";
constexpr const char* DetailedToolTip = "Enable extended logging (full log, for debugging purposes).";
} // namespace

frmLog::frmLog(LogBuffer& lines, QWidget* parent) : QWidget(parent, Qt::Window)
{
    setObjectName(QStringLiteral("frmLog"));
    setWindowTitle(fromLatin1(Concat({ProductInfo::ProductName, TitleSuffix})));
    setFont(windowFont());
    setFixedSize(Twips(6255), Twips(2895));

    auto* frame = placeFrame(this, "frameApplicationLog", TwipsRect(120, 120, 6015, 2655), FrameCaption);
    auto* panel = place<QWidget>(frame, "picApplicationLog", TwipsRect(120, 240, 5775, 2295));
    m_lstLog = new LogListBox(lines, panel);
    setUpControl(m_lstLog, "lstLog", TwipsRect(0, 30, 5775, 1740),
                 Concat({ListToolTipStart, ProductInfo::ProductName, ListToolTipEnd}));
    auto* cmdClearLog = placeButton(panel, "cmdClearLog", TwipsRect(5040, 1920, 735, 375), ClearCaption, ClearToolTip);
    m_chkLogFull = placeCheckBox(panel, "chkLogFull", TwipsRect(0, 1950, 4935, 255), DetailedCaption, DetailedToolTip);
    m_chkLogFull->setChecked(false);

    connect(cmdClearLog, &QPushButton::clicked, this, &frmLog::cmdClearLog_Click);
    connect(m_lstLog, &LogListBox::Click, this, &frmLog::lstLog_Click);
}

frmLog::~frmLog() = default;

bool frmLog::DetailedLogging() const
{
    return m_chkLogFull->checkState() != Qt::Unchecked;
}

void frmLog::closeEvent(QCloseEvent* event)
{
    // Only hidden, never destroyed: the log keeps collecting while the window is away.
    event->accept();
    Trapped("Form_Unload", [&] { emit Unloaded(); });
}

void frmLog::cmdClearLog_Click()
{
    Trapped("cmdClearLog_Click", [] { mdlListBoxMod::LBM_Clear(mdlListBoxMod::LogSlot); });
}

void frmLog::lstLog_Click()
{
    // A line wider than the list can be read in full in the tooltip.
    Trapped("lstLog_Click", [&] {
        const qsizetype index = m_lstLog->SelectedIndex();
        if (index < 0)
            return;
        const std::string_view line = m_lstLog->Line(index);
        m_lstLog->setToolTip(fromLatin1(line));
    });
}
