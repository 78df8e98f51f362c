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
    setWindowTitle(fromLatin1(concat({ProductInfo::ProductName, TitleSuffix})));
    setFont(windowFont());
    setFixedSize(twips(6255), twips(2895));

    auto* frame = placeFrame(this, "frameApplicationLog", twipsRect(120, 120, 6015, 2655), FrameCaption);
    auto* panel = place<QWidget>(frame, "picApplicationLog", twipsRect(120, 240, 5775, 2295));
    m_lstLog = new LogListBox(lines, panel);
    setUpControl(m_lstLog, "lstLog", twipsRect(0, 30, 5775, 1740),
                 concat({ListToolTipStart, ProductInfo::ProductName, ListToolTipEnd}));
    auto* cmdClearLog = placeButton(panel, "cmdClearLog", twipsRect(5040, 1920, 735, 375), ClearCaption, ClearToolTip);
    m_chkLogFull = placeCheckBox(panel, "chkLogFull", twipsRect(0, 1950, 4935, 255), DetailedCaption, DetailedToolTip);
    m_chkLogFull->setChecked(false);

    connect(cmdClearLog, &QPushButton::clicked, this, &frmLog::cmdClearLog_Click);
    connect(m_lstLog, &LogListBox::click, this, &frmLog::lstLog_Click);
}

frmLog::~frmLog() = default;

bool frmLog::detailedLogging() const
{
    return m_chkLogFull->checkState() != Qt::Unchecked;
}

void frmLog::closeEvent(QCloseEvent* event)
{
    // Only hidden, never destroyed: the log keeps collecting while the window is away.
    event->accept();
    trapped("Form_Unload", [&] { emit unloaded(); });
}

void frmLog::cmdClearLog_Click()
{
    trapped("cmdClearLog_Click", [] { mdlListBoxMod::LBM_Clear(mdlListBoxMod::LogSlot); });
}

void frmLog::lstLog_Click()
{
    // A line wider than the list can be read in full in the tooltip.
    trapped("lstLog_Click", [&] {
        const qsizetype index = m_lstLog->selectedIndex();
        if (index < 0)
            return;
        const std::string_view line = m_lstLog->line(index);
        m_lstLog->setToolTip(fromLatin1(line));
    });
}
