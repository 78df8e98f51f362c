#include "MainWindowDriver.h"

#include "LogListBox.h"
#include "frmLog.h"

std::vector<std::string> LogLines(frmMain& window)
{
    std::vector<std::string> lines;
    LogListBox* list = window.LogWindow().lstLog();
    for (qsizetype i = 0; i < list->LineCount(); ++i)
        lines.emplace_back(list->Line(i));
    return lines;
}
