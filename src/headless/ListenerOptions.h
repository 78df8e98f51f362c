#pragma once

#include <functional>

#include "CommandLine.h"

class SmtpListener;

// Applies what the command line says of the listener beyond its address: the TLS certificate,
// the implicit-TLS port and the modern dialogue (through setModernSmtp, so that the window can
// show its state). False, with the reason on standard error, when it cannot be done.
bool applyListenerOptions(SmtpListener& listener, const CommandLineOptions& options,
                          const std::function<void(bool)>& setModernSmtp);
