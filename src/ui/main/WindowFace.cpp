#include "WindowFace.h"

#include <QApplication>

#include "CaptureService.h"
#include "CaptureSetup.h"
#include "MessageBoxes.h"
#include "QtMessageBoxes.h"
#include "frmMain.h"

int runWindow(int& argc, char** argv, const CommandLineOptions& options)
{
    QApplication app(argc, argv);
    // Ties the window to its desktop entry, and so to its icon, on Wayland desktops too.
    QGuiApplication::setDesktopFileName(QStringLiteral("org.quellpost.Quellpost"));
    QtMessageBoxes boxes;
    setMessageBoxService(&boxes);

    CaptureService service;
    // The window comes first: its log shows what setting the service up logs.
    frmMain window(service);
    if (!window.loaded())
        return 1;
    if (const CaptureSetup setup = setUpCapture(service, options); !reportCaptureSetup(setup))
        return setup.exitCode;
    window.show();
    const int exitCode = QApplication::exec();
    setMessageBoxService(nullptr);
    return exitCode;
}
