#include "TestingFeatures.h"

#include "ApiServer.h"
#include "ChaosRoutes.h"
#include "ReleaseRoutes.h"
#include "SmtpListener.h"

std::unique_ptr<RelayService> makeRelayService(const CommandLineOptions& options, RelayService::Logger log)
{
    if (!options.Relay || !options.RelayAllow)
        return nullptr;
    return std::make_unique<RelayService>(*options.Relay, *options.RelayAllow, std::move(log));
}

void addTestingRoutes(ApiServer& api, SmtpListener& listener, const clsEmailStorage& store, RelayService* relay)
{
    addChaosRoutes(api, listener.Chaos());
    addReleaseRoutes(api, store, relay);
}
