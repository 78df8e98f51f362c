#pragma once

#include <cstddef>
#include <memory>
#include <string>
#include <string_view>

#include <QObject>

#include "CaptureLimits.h"
#include "ListenAddress.h"
#include "ListenerHost.h"
#include "LogBuffer.h"
#include "clsEmailStorage.h"

class ApiServer;
class RelayService;
class SmtpListener;

// The capture engine that every face shows: the store and its byte budget, the application log,
// the SMTP listener (plain and implicit-TLS ports, their TLS settings), the detailed-logging
// switch and the HTTP API when one is wanted. A face (the window, headless) is a view over it:
// it follows the store's change events and the signals below, and never builds the engine.
class CaptureService final : public QObject, private ListenerHost {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(CaptureService)
public:
    // The log keeps at most this many lines and bytes; the oldest go first.
    explicit CaptureService(std::size_t maxLogLines = CaptureLimits::MaxLogLines,
                            std::size_t maxLogBytes = CaptureLimits::MaxLogBytes, QObject* parent = nullptr);
    ~CaptureService() override;

    clsEmailStorage& store() { return m_store; }
    const clsEmailStorage& store() const { return m_store; }
    LogBuffer& log() { return m_log; }
    SmtpListener& listener() { return *m_listener; }
    // The HTTP API, when the command line asked for one; null otherwise.
    ApiServer* api() { return m_api.get(); }
    void setApi(std::unique_ptr<ApiServer> api);
    // Where release sends a chosen message, when the command line names a relay; null otherwise.
    RelayService* relay() { return m_relay.get(); }
    void setRelay(std::unique_ptr<RelayService> relay);

    // Appends a line to the log and hands it to the faces (lineLogged).
    void logLine(std::string_view line);
    // Whether the listener writes its detailed-only lines.
    bool detailedLogging() const { return m_detailedLogging; }
    void setDetailedLogging(bool on) { m_detailedLogging = on; }

    // Where the listener listens, as given; until set, port 25 on every address.
    void setListenAddress(const ListenAddress& where);
    const ListenAddress& listenAddress() const { return m_listenAddress; }
    // A second port whose clients speak TLS from the first byte, as given.
    void setImplicitTlsAddress(const ListenAddress& where);
    const ListenAddress& implicitTlsAddress() const { return m_implicitTlsAddress; }

    // The modern dialogue (EHLO, STARTTLS, AUTH) for new connections; throws AppError when the
    // certificate it needs cannot be made, changing nothing.
    void setModernSmtp(bool on);
    bool modernSmtp() const;

    // Starts listening and logs it; throws AppError when a port cannot be used.
    void startListening();
    // Stops listening, closes every connection and logs it.
    void stopListening();
    // As stopListening, without the line: the program is ending.
    void shutDown();
    bool listening() const { return m_listening; }

signals:
    // A line the log took; droppedLines of the oldest went to make room for it.
    void lineLogged(std::string_view line, std::size_t droppedLines);
    // The number of client connections changed.
    void connectionCountChanged(long count);
    // The modern dialogue was switched on or off.
    void modernSmtpChanged(bool on);

private:
    void appendLogLine(const std::string& line) override;
    bool wantsDetailedLog() const override { return m_detailedLogging; }
    void connectionsChanged(long count) override;

    // Declared in the order they may depend on each other: the API and the listener go first.
    clsEmailStorage m_store;
    LogBuffer m_log;
    bool m_detailedLogging = false;
    bool m_listening = false;
    ListenAddress m_listenAddress;
    ListenAddress m_implicitTlsAddress;
    std::unique_ptr<SmtpListener> m_listener;
    // Its transfers log here, and the API's release route uses it: after the log, before the API.
    std::unique_ptr<RelayService> m_relay;
    std::unique_ptr<ApiServer> m_api;
};
