#include <cstdio>

#include <QApplication>

#include "AppError.h"
#include "CommandLine.h"
#include "MessageBoxes.h"
#include "ProcessLimits.h"
#include "QtMessageBoxes.h"
#include "SmtpListener.h"
#include "TlsCredentials.h"
#include "clsEmailStorage.h"
#include "frmMain.h"

namespace {

constexpr const char* NotAnAddressText = "--smtps: not an IP address: ";

// What the command line says of TLS and the modern dialogue; false, with the reason on the
// standard error, when it cannot be done.
bool applyTlsOptions(frmMain& window, const CommandLineOptions& options)
{
    try {
        if (options.TlsCertificateFile)
            window.Listener().SetTlsConfiguration(TlsCredentials::FromFiles(
                QString::fromStdString(*options.TlsCertificateFile), QString::fromStdString(*options.TlsKeyFile)));
        if (options.SmtpsAddress) {
            const QHostAddress address(QString::fromStdString(options.SmtpsAddress->first));
            if (address.isNull())
                throw AppError(ErrorNumber::InvalidArgument, NotAnAddressText + options.SmtpsAddress->first);
            window.Listener().SetImplicitTlsAddress(address, options.SmtpsAddress->second);
        }
        if (options.ModernSmtp)
            window.SetModernSmtp(true);
    } catch (const AppError& error) {
        std::fprintf(stderr, "quellpost: %s\n", error.Description().c_str());
        return false;
    }
    return true;
}

} // namespace

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
    QApplication app(argc, argv);
    // Ties the window to its desktop entry, and so to its icon, on Wayland desktops too.
    QGuiApplication::setDesktopFileName(QStringLiteral("org.quellpost.Quellpost"));
    QtMessageBoxes boxes;
    SetMessageBoxService(&boxes);

    frmMain window;
    if (!window.Loaded())
        return 1;
    if (options->MaxMemory)
        window.EmailStorage().Budget().setLimit(*options->MaxMemory);
    if (!applyTlsOptions(window, *options))
        return 2;
    window.show();
    const int exitCode = QApplication::exec();
    SetMessageBoxService(nullptr);
    return exitCode;
}
