#include "ListenerOptions.h"

#include <cstdio>

#include <QHostAddress>

#include "AppError.h"
#include "SmtpListener.h"
#include "TlsCredentials.h"

void applyChaosOptions(ChaosTriggers& chaos, const CommandLineOptions& options)
{
    std::string error; // the command line's parser has checked the triggers
    chaos.setEnabled(options.Chaos);
    if (options.ChaosSpec)
        chaos.configure(*options.ChaosSpec, error);
    if (options.ChaosSeed)
        chaos.seed(*options.ChaosSeed);
}

bool applyListenerOptions(SmtpListener& listener, const CommandLineOptions& options,
                          const std::function<void(bool)>& setModernSmtp)
{
    try {
        if (options.TlsCertificateFile)
            listener.SetTlsConfiguration(TlsCredentials::FromFiles(QString::fromStdString(*options.TlsCertificateFile),
                                                                   QString::fromStdString(*options.TlsKeyFile)));
        if (options.Smtps)
            listener.SetImplicitTlsAddress(QHostAddress(QString::fromStdString(options.Smtps->host)),
                                           options.Smtps->port);
        if (options.SmtpTimeoutSeconds)
            listener.SetIdleTimeout(std::chrono::seconds(*options.SmtpTimeoutSeconds));
        if (options.SmtpMaxConnections)
            listener.SetMaxConnections(*options.SmtpMaxConnections);
        if (options.ModernSmtp)
            setModernSmtp(true);
        applyChaosOptions(listener.Chaos(), options);
    } catch (const AppError& error) {
        std::fprintf(stderr, "quellpost: %s\n", error.Description().c_str());
        return false;
    }
    return true;
}
