#include <QApplication>

#include "MessageBoxes.h"
#include "ProcessLimits.h"
#include "QtMessageBoxes.h"
#include "frmMain.h"

int main(int argc, char** argv)
{
    RaiseOpenFileLimit();
    QApplication app(argc, argv);
    // Ties the window to its desktop entry, and so to its icon, on Wayland desktops too.
    QGuiApplication::setDesktopFileName(QStringLiteral("org.quellpost.Quellpost"));
    QtMessageBoxes boxes;
    SetMessageBoxService(&boxes);

    frmMain window;
    if (!window.Loaded())
        return 1;
    window.show();
    const int exitCode = QApplication::exec();
    SetMessageBoxService(nullptr);
    return exitCode;
}
