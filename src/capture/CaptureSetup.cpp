#include "CaptureSetup.h"

#include <algorithm>
#include <chrono>
#include <cstdio>

#include <QHostAddress>

#include "ApiServer.h"
#include "AppError.h"
#include "CaptureService.h"
#include "ChaosRoutes.h"
#include "Htpasswd.h"
#include "RelayService.h"
#include "ReleaseRoutes.h"
#include "SmtpListener.h"
#include "TlsCredentials.h"

namespace {

constexpr const char* MessagePrefix = "quellpost: ";
constexpr const char* ApiFailedFormat = "cannot serve the HTTP API on %s port %d: %s";
constexpr const char* UsersFailedFormat = "cannot take the users of %s: %s";
constexpr const char* DefaultHeadlessHost = "0.0.0.0";
constexpr int DefaultSmtpPort = 25;
constexpr int OptionsExitCode = 2;
constexpr int ServerExitCode = 1;

template <class... Args> std::string printed(const char* format, Args... args)
{
    const int size = std::snprintf(nullptr, 0, format, args...);
    std::string text(std::size_t(std::max(size, 0)), '\0');
    std::snprintf(text.data(), text.size() + 1, format, args...);
    return text;
}

CaptureSetup failed(int exitCode, std::string error)
{
    return CaptureSetup{false, exitCode, std::move(error), {}};
}

// The listener beyond its address: TLS, the implicit-TLS port, the limits, the modern dialogue.
void setUpListener(CaptureService& service, const CommandLineOptions& options)
{
    SmtpListener& listener = service.listener();
    if (options.tlsCertificateFile)
        listener.setTlsConfiguration(TlsCredentials::fromFiles(QString::fromStdString(*options.tlsCertificateFile),
                                                               QString::fromStdString(*options.tlsKeyFile)));
    if (options.smtps)
        service.setImplicitTlsAddress(*options.smtps);
    if (options.smtpTimeoutSeconds)
        listener.setIdleTimeout(std::chrono::seconds(*options.smtpTimeoutSeconds));
    if (options.smtpMaxConnections)
        listener.setMaxConnections(*options.smtpMaxConnections);
    if (options.modernSmtp)
        service.setModernSmtp(true);
    ChaosTriggers& chaos = listener.chaos();
    chaos.setEnabled(options.chaos);
    std::string unused; // the command line's parser has checked the triggers
    if (options.chaosTriggers)
        chaos.configure(*options.chaosTriggers, unused);
    if (options.chaosSeed)
        chaos.seed(*options.chaosSeed);
}

// Release's relay, as --relay and --relay-allow name it; its transfers log to the service's log.
void setUpRelay(CaptureService& service, const CommandLineOptions& options)
{
    if (options.relay && options.relayAllow)
        service.setRelay(std::make_unique<RelayService>(
            *options.relay, *options.relayAllow, [&service](const std::string& line) { service.logLine(line); }));
}

// The HTTP API where --http says, for the names and origins of --http-host and --cors.
CaptureSetup setUpApi(CaptureService& service, const CommandLineOptions& options)
{
    const ListenAddress& where = *options.http;
    const QHostAddress address(QString::fromStdString(where.host));
    auto api = std::make_unique<ApiServer>(service.store(), AccessRules{options.httpHosts, options.corsOrigins});
    if (options.httpUsersFile) {
        std::string error;
        std::optional<Htpasswd> users = Htpasswd::load(*options.httpUsersFile, error);
        if (!users)
            return failed(ServerExitCode, printed(UsersFailedFormat, options.httpUsersFile->c_str(), error.c_str()));
        api->requireLogin(std::move(*users));
    }
    try {
        api->listen(address, where.port);
    } catch (const AppError& error) {
        return failed(ServerExitCode,
                      printed(ApiFailedFormat, where.host.c_str(), where.port, error.description().c_str()));
    }
    addChaosRoutes(*api, service.listener().chaos());
    addReleaseRoutes(*api, service.store(), service.relay());
    CaptureSetup setup;
    if (std::string warning = ApiServer::exposureWarning(address); !warning.empty())
        setup.warnings.push_back(std::move(warning));
    service.setApi(std::move(api));
    return setup;
}

} // namespace

CaptureSetup setUpCapture(CaptureService& service, const CommandLineOptions& options)
{
    if (options.maxMemory)
        service.store().budget().setLimit(*options.maxMemory);
    if (options.smtp)
        service.setListenAddress(*options.smtp);
    else if (options.headless)
        service.setListenAddress({DefaultHeadlessHost, DefaultSmtpPort});
    try {
        setUpListener(service, options);
    } catch (const AppError& error) {
        return failed(OptionsExitCode, error.description());
    }
    setUpRelay(service, options);
    if (options.http)
        return setUpApi(service, options);
    return {};
}

bool reportCaptureSetup(const CaptureSetup& setup)
{
    for (const std::string& warning : setup.warnings)
        std::fprintf(stderr, "%s%s\n", MessagePrefix, warning.c_str());
    if (!setup.done)
        std::fprintf(stderr, "%s%s\n", MessagePrefix, setup.error.c_str());
    return setup.done;
}
