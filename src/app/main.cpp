#include <cstdio>

#include <QApplication>
#include <QHostAddress>

#include "ApiServer.h"
#include "CommandLine.h"
#include "Headless.h"
#include "ListenerOptions.h"
#include "MessageBoxes.h"
#include "ProcessLimits.h"
#include "QtMessageBoxes.h"
#include "TestingFeatures.h"
#include "mdlListBoxMod.h"
#include "clsEmailStorage.h"
#include "frmMain.h"

int main(int argc, char** argv)
{
    RaiseOpenFileLimit();
    std::string error;
    const std::optional<CommandLineOptions> options = parseCommandLine({argv, argv + argc}, error);
    if (!options) {
        std::fprintf(stderr, "quellpost: %s\n", error.c_str());
        return 2;
    }
    if (options->Output) {
        std::fputs(options->Output->c_str(), stdout);
        return 0;
    }
    if (options->Headless)
        return runHeadless(argc, argv, *options);
    QApplication app(argc, argv);
    // Ties the window to its desktop entry, and so to its icon, on Wayland desktops too.
    QGuiApplication::setDesktopFileName(QStringLiteral("org.quellpost.Quellpost"));
    QtMessageBoxes boxes;
    SetMessageBoxService(&boxes);

    // Before the window: it releases through the relay until it goes.
    const std::unique_ptr<RelayService> relay = makeRelayService(
        *options, [](const std::string& line) { mdlListBoxMod::LBM_AddItem(mdlListBoxMod::LogSlot, line); });
    frmMain window;
    if (!window.Loaded())
        return 1;
    if (options->MaxMemory)
        window.EmailStorage().Budget().setLimit(*options->MaxMemory);
    if (options->Smtp)
        window.SetListenAddress(QHostAddress(QString::fromStdString(options->Smtp->host)), options->Smtp->port);
    if (!applyListenerOptions(window.Listener(), *options, [&](bool on) { window.SetModernSmtp(on); }))
        return 2;
    std::unique_ptr<ApiServer> api;
    if (options->Http) {
        api = startApiServer(window.EmailStorage(), *options);
        if (!api)
            return 1;
        addTestingRoutes(*api, window.Listener(), window.EmailStorage(), relay.get());
    }
    window.SetRelay(relay.get());
    window.show();
    const int exitCode = QApplication::exec();
    SetMessageBoxService(nullptr);
    return exitCode;
}
