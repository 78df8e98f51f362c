#include "CaptureService.h"

#include <QHostAddress>

#include "ApiServer.h"
#include "RelayService.h"
#include "SmtpListener.h"

namespace {
constexpr const char* StartedLine = "SMTP server started.";
constexpr const char* StoppedLine = "SMTP server stopped.";

QHostAddress hostAddress(const ListenAddress& where)
{
    return QHostAddress(QString::fromStdString(where.host));
}
} // namespace

CaptureService::CaptureService(std::size_t maxLogLines, std::size_t maxLogBytes, QObject* parent)
    : QObject(parent), m_log(maxLogLines, maxLogBytes),
      m_listener(std::make_unique<SmtpListener>(m_store, static_cast<ListenerHost&>(*this)))
{
}

CaptureService::~CaptureService() = default;

void CaptureService::setApi(std::unique_ptr<ApiServer> api)
{
    m_api = std::move(api);
}

void CaptureService::setRelay(std::unique_ptr<RelayService> relay)
{
    m_relay = std::move(relay);
}

void CaptureService::logLine(std::string_view line)
{
    const std::size_t dropped = m_log.append(line);
    emit lineLogged(line, dropped);
}

void CaptureService::appendLogLine(const std::string& line)
{
    logLine(line);
}

void CaptureService::connectionsChanged(long count)
{
    emit connectionCountChanged(count);
}

void CaptureService::setListenAddress(const ListenAddress& where)
{
    m_listener->setListenAddress(hostAddress(where), where.port);
    m_listenAddress = where;
}

void CaptureService::setImplicitTlsAddress(const ListenAddress& where)
{
    m_listener->setImplicitTlsAddress(hostAddress(where), where.port);
    m_implicitTlsAddress = where;
}

void CaptureService::setModernSmtp(bool on)
{
    if (on == m_listener->extensions())
        return;
    m_listener->setExtensions(on);
    emit modernSmtpChanged(on);
}

bool CaptureService::modernSmtp() const
{
    return m_listener->extensions();
}

void CaptureService::startListening()
{
    m_listener->startListening();
    m_listening = true;
    logLine(StartedLine);
}

void CaptureService::stopListening()
{
    m_listener->ShutDownWinSock();
    m_listening = false;
    logLine(StoppedLine);
}

void CaptureService::shutDown()
{
    m_listener->ShutDownWinSock();
    m_listening = false;
}
