#include <QApplication>

#include "MessageBoxes.h"
#include "ProcessLimits.h"
#include "QtMessageBoxes.h"
#include "frmMain.h"

int main(int argc, char** argv)
{
    RaiseOpenFileLimit();
    QApplication app(argc, argv);
    QtMessageBoxes boxes;
    SetMessageBoxService(&boxes);

    frmMain window;
    if (!window.Loaded())
        return 1;
    window.show();
    const int exitCode = app.exec();
    SetMessageBoxService(nullptr);
    return exitCode;
}
