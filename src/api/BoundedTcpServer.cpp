#include "BoundedTcpServer.h"

#include <memory>

#include <QTcpSocket>

namespace {

constexpr char TooLargeResponse[] = "HTTP/1.1 413 Payload Too Large\r\n"
                                    "Content-Type: application/json\r\n"
                                    "Content-Length: 32\r\n"
                                    "Connection: close\r\n"
                                    "\r\n"
                                    "{\"Error\":\"request is too large\"}";

} // namespace

BoundedTcpServer::BoundedTcpServer(qint64 maxRequestBytes, QObject* parent)
    : QTcpServer(parent), m_maxRequestBytes(maxRequestBytes)
{
}

void BoundedTcpServer::incomingConnection(qintptr descriptor)
{
    auto* socket = new QTcpSocket(this);
    if (!socket->setSocketDescriptor(descriptor)) {
        delete socket;
        return;
    }
    // Connected before the HTTP server's own handler, so this one sees each block first. The
    // HTTP server reads everything that arrives; what arrived since the last answer is the
    // request still being read.
    auto unanswered = std::make_shared<qint64>(0);
    connect(socket, &QTcpSocket::bytesWritten, socket, [unanswered](qint64) { *unanswered = 0; });
    connect(socket, &QTcpSocket::readyRead, socket, [this, socket, unanswered] {
        *unanswered += socket->bytesAvailable();
        if (*unanswered <= m_maxRequestBytes || socket->state() != QAbstractSocket::ConnectedState)
            return;
        socket->readAll();
        socket->write(TooLargeResponse, qint64(sizeof TooLargeResponse - 1));
        socket->disconnectFromHost();
    });
    addPendingConnection(socket);
}
