#pragma once

#include <functional>

#include "CommandLine.h"

class ChaosTriggers;
class SmtpListener;

// Applies what the command line says of the listener beyond its address: the TLS certificate,
// the implicit-TLS port, the failure replies and the modern dialogue (through setModernSmtp, so
// that the window can show its state). False, with the reason on standard error, when it cannot be done.
bool applyListenerOptions(SmtpListener& listener, const CommandLineOptions& options,
                          const std::function<void(bool)>& setModernSmtp);

// Failure replies on demand as the command line sets them (--chaos, --chaos-triggers, --chaos-seed).
void applyChaosOptions(ChaosTriggers& chaos, const CommandLineOptions& options);
