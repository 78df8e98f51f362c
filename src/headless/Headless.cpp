#include "Headless.h"

#include <cstdio>

#include <QCoreApplication>
#include <QHostAddress>

#include "ApiServer.h"
#include "AppError.h"
#include "HeadlessHost.h"
#include "ListenerOptions.h"
#include "MessageBoxes.h"
#include "ProductInfo.h"
#include "SmtpListener.h"
#include "TerminationSignals.h"
#include "TestingFeatures.h"
#include "clsEmailStorage.h"

namespace {

constexpr const char* StartedLine = "SMTP server started.";
constexpr const char* ListeningFormat = "SMTP server listening on %1 port %2.";
constexpr const char* TlsListeningFormat = "SMTP server listening for TLS from the first byte on %1 port %2.";
constexpr const char* EndingFormat = "Signal %1 received: ending.";
constexpr const char* StartFailedFormat = "quellpost: cannot listen for mail on %1 port %2: %3\n";
constexpr const char* ApiListeningFormat = "HTTP API listening on %1 port %2.";
constexpr const char* DefaultSmtpHost = "0.0.0.0";
constexpr int DefaultSmtpPort = 25;

} // namespace

int runHeadless(int& argc, char** argv, const CommandLineOptions& options)
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationVersion(QString::fromLatin1(ProductInfo::VersionText));
    // The default service writes each box to standard error and answers OK: nobody is there to press it.
    SetMessageBoxService(nullptr);
    HeadlessHost host;
    // Watched from the start: a signal that comes while the servers start ends the run as cleanly.
    TerminationSignals termination;
    QObject::connect(&termination, &TerminationSignals::requested, &app, [&](int signalNumber) {
        host.LogLine(QString::fromLatin1(EndingFormat).arg(signalNumber).toStdString());
        QCoreApplication::quit();
    });

    clsEmailStorage store;
    if (options.MaxMemory)
        store.Budget().setLimit(*options.MaxMemory);
    SmtpListener listener(store, host);
    const ListenAddress smtp = options.Smtp.value_or(ListenAddress{DefaultSmtpHost, DefaultSmtpPort});
    const QString smtpHost = QString::fromStdString(smtp.host);
    listener.SetListenAddress(QHostAddress(smtpHost), smtp.port);
    if (!applyListenerOptions(listener, options, [&](bool on) { listener.SetExtensions(on); }))
        return 2;
    try {
        listener.StartListening();
    } catch (const AppError& error) {
        std::fputs(QString::fromLatin1(StartFailedFormat)
                       .arg(smtpHost)
                       .arg(smtp.port)
                       .arg(QString::fromStdString(error.Description()))
                       .toLocal8Bit()
                       .constData(),
                   stderr);
        return 1;
    }
    host.LogLine(StartedLine);
    host.LogLine(QString::fromLatin1(ListeningFormat).arg(smtpHost).arg(listener.ListeningPort()).toStdString());
    if (options.Smtps)
        host.LogLine(QString::fromLatin1(TlsListeningFormat)
                         .arg(QString::fromStdString(options.Smtps->host))
                         .arg(listener.ImplicitTlsPort())
                         .toStdString());
    const std::unique_ptr<RelayService> relay
        = makeRelayService(options, [&host](const std::string& line) { host.LogLine(line); });
    std::unique_ptr<ApiServer> api;
    if (options.Http) {
        api = startApiServer(store, options);
        if (!api)
            return 1;
        addTestingRoutes(*api, listener, store, relay.get());
        host.LogLine(QString::fromLatin1(ApiListeningFormat)
                         .arg(QString::fromStdString(options.Http->host))
                         .arg(api->port())
                         .toStdString());
    }

    const int exitCode = QCoreApplication::exec();
    api.reset();
    listener.ShutDownWinSock();
    store.Clear();
    return exitCode;
}
