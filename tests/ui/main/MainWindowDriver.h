#pragma once

#include <string>
#include <vector>

#include <QAction>
#include <QLabel>
#include <QPushButton>
#include <QString>

#include "frmMain.h"

// Finds the main window's controls by their names, as a user or a screen reader would.
template <class Widget> Widget* Control(const frmMain& window, const char* name)
{
    auto* widget = window.findChild<Widget*>(QString::fromLatin1(name));
    if (!widget)
        throw std::runtime_error(std::string("no control ") + name);
    return widget;
}

inline QString Caption(const frmMain& window, const char* name)
{
    return Control<QLabel>(window, name)->text();
}
inline void Click(const frmMain& window, const char* menuEntry)
{
    Control<QAction>(window, menuEntry)->trigger();
}
inline void Press(const frmMain& window, const char* button)
{
    Control<QPushButton>(window, button)->click();
}

// Every line of the application log, oldest first.
std::vector<std::string> LogLines(frmMain& window);
