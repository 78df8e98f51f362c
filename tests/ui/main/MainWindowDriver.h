#pragma once

#include <string>
#include <vector>

#include <QAction>
#include <QLabel>
#include <QPushButton>
#include <QString>

#include "frmMain.h"

// Finds the main window's controls by their names, as a user or a screen reader would.
template <class Widget> Widget* control(const frmMain& window, const char* name)
{
    auto* widget = window.findChild<Widget*>(QString::fromLatin1(name));
    if (!widget)
        throw std::runtime_error(std::string("no control ") + name);
    return widget;
}

inline QString caption(const frmMain& window, const char* name)
{
    return control<QLabel>(window, name)->text();
}
inline void click(const frmMain& window, const char* menuEntry)
{
    control<QAction>(window, menuEntry)->trigger();
}
inline void press(const frmMain& window, const char* button)
{
    control<QPushButton>(window, button)->click();
}

// Every line of the application log, oldest first.
std::vector<std::string> logLines(frmMain& window);
