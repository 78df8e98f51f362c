#include "Headless.h"

#include <cstdio>

#include <unistd.h>

#include <QCoreApplication>

#include "AppError.h"
#include "ApiServer.h"
#include "CaptureService.h"
#include "CaptureSetup.h"
#include "LogOutput.h"
#include "MessageBoxes.h"
#include "ProductInfo.h"
#include "SmtpListener.h"
#include "TerminationSignals.h"

namespace {

constexpr const char* ListeningFormat = "SMTP server listening on %1 port %2.";
constexpr const char* TlsListeningFormat = "SMTP server listening for TLS from the first byte on %1 port %2.";
constexpr const char* EndingFormat = "Signal %1 received: ending.";
constexpr const char* StartFailedFormat = "quellpost: cannot listen for mail on %1 port %2: %3\n";
constexpr const char* ApiListeningFormat = "HTTP API listening on %1 port %2.";
// The log is read on standard output: the service keeps only its last lines, so that a flood of
// logged garbage costs a headless run no more memory than the output's own bounded queue.
constexpr std::size_t KeptLogLines = 1000;
constexpr std::size_t KeptLogBytes = std::size_t{256} * 1024;

std::string addressLine(const char* format, const std::string& host, int port)
{
    return QString::fromLatin1(format).arg(QString::fromStdString(host)).arg(port).toStdString();
}

} // namespace

int runHeadless(int& argc, char** argv, const CommandLineOptions& options)
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationVersion(QString::fromLatin1(ProductInfo::VersionText));
    // The default service writes each box to standard error and answers OK: nobody is there to press it.
    setMessageBoxService(nullptr);
    // Watched from the start: a signal that comes while the servers start ends the run as cleanly.
    TerminationSignals termination;
    // The log goes to standard output, a line at a time, so that a test fixture's output can be
    // read or thrown away as a whole.
    LogOutput output(STDOUT_FILENO);
    CaptureService service(KeptLogLines, KeptLogBytes);
    QObject::connect(&service, &CaptureService::lineLogged, &output,
                     [&output](std::string_view line, std::size_t) { output.write(line); });
    QObject::connect(&termination, &TerminationSignals::requested, &app, [&](int signalNumber) {
        service.logLine(QString::fromLatin1(EndingFormat).arg(signalNumber).toStdString());
        QCoreApplication::quit();
    });

    if (const CaptureSetup setup = setUpCapture(service, options); !reportCaptureSetup(setup))
        return setup.exitCode;
    try {
        service.startListening();
    } catch (const AppError& error) {
        std::fputs(QString::fromLatin1(StartFailedFormat)
                       .arg(QString::fromStdString(service.listenAddress().host))
                       .arg(service.listenAddress().port)
                       .arg(QString::fromStdString(error.description()))
                       .toLocal8Bit()
                       .constData(),
                   stderr);
        return 1;
    }
    SmtpListener& listener = service.listener();
    service.logLine(addressLine(ListeningFormat, service.listenAddress().host, listener.listeningPort()));
    if (options.smtps)
        service.logLine(addressLine(TlsListeningFormat, service.implicitTlsAddress().host, listener.implicitTlsPort()));
    if (ApiServer* api = service.api())
        service.logLine(addressLine(ApiListeningFormat, options.http->host, api->port()));

    const int exitCode = QCoreApplication::exec();
    // The API goes first: its clients are not told of the clearing below.
    service.setApi(nullptr);
    service.shutDown();
    service.store().Clear();
    return exitCode;
}
