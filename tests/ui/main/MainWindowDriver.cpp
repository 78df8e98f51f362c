#include "MainWindowDriver.h"

#include "LogListBox.h"
#include "frmLog.h"

std::vector<std::string> logLines(frmMain& window)
{
    std::vector<std::string> lines;
    LogListBox* list = window.logWindow().lstLog();
    for (qsizetype i = 0; i < list->lineCount(); ++i)
        lines.emplace_back(list->line(i));
    return lines;
}
