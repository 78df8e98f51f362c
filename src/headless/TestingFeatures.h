#pragma once

#include <memory>

#include "CommandLine.h"
#include "RelayService.h"

class ApiServer;
class SmtpListener;
class clsEmailStorage;

// Failure replies on demand and release, set up the same way for the window and headless.

// Release's relay as the command line names it, logging through log; none without --relay.
std::unique_ptr<RelayService> makeRelayService(const CommandLineOptions& options, RelayService::Logger log);

// The API's routes for both: /api/v1/chaos over the listener's triggers, and release through relay.
void addTestingRoutes(ApiServer& api, SmtpListener& listener, const clsEmailStorage& store, RelayService* relay);
