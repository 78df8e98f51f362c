#include "DeferredDeletion.h"

#include <chrono>
#include <unordered_map>

#include <QCoreApplication>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>

#include "DirectSocket.h"

namespace {

// A closed connection may take this long to hand its queued bytes to the peer.
constexpr std::chrono::seconds FlushTimeLimit{5};

// Qt objects whose signal is being handled further up the stack, and how many frames deep.
struct Use {
    int depth = 0;
    bool disposeWhenFree = false;
};

std::unordered_map<const QObject*, Use>& uses()
{
    static std::unordered_map<const QObject*, Use> map;
    return map;
}

} // namespace

namespace DeferredDeletion {

InUse::InUse(QObject* object) : m_object(object)
{
    ++uses()[object].depth;
}

InUse::~InUse()
{
    auto it = uses().find(m_object);
    if (--it->second.depth > 0)
        return;
    const bool disposeNow = it->second.disposeWhenFree;
    uses().erase(it);
    if (disposeNow)
        m_object->deleteLater();
}

void dispose(QObject* object)
{
    auto it = uses().find(object);
    if (it != uses().end())
        it->second.disposeWhenFree = true;
    else
        object->deleteLater();
}

// Closes the socket once its queued bytes are out, or at the time limit, and then disposes of it.
template <class Socket, class Signal> void disposeWhenFlushed(Socket* socket, Signal disconnected)
{
    QObject::connect(socket, disconnected, socket, [socket] { dispose(socket); });
    auto* limit = new QTimer(socket);
    limit->setSingleShot(true);
    QObject::connect(limit, &QTimer::timeout, socket, [socket] {
        socket->abort();
        dispose(socket);
    });
    limit->start(FlushTimeLimit);
    socket->disconnectFromHost();
}

void retire(QTcpSocket* socket, const QObject* formerOwner, bool flushing)
{
    QObject::disconnect(socket, nullptr, formerOwner, nullptr);
    socket->setParent(QCoreApplication::instance());
    if (socket->state() == QAbstractSocket::ConnectedState)
        socket->flush();
    if (!flushing)
        socket->abort();
    if (socket->state() == QAbstractSocket::ConnectedState && socket->bytesToWrite() > 0) {
        disposeWhenFlushed(socket, &QAbstractSocket::disconnected);
        return;
    }
    if (socket->state() == QAbstractSocket::ConnectedState)
        socket->disconnectFromHost();
    else
        socket->abort();
    dispose(socket);
}

void retire(DirectSocket* socket, const QObject* formerOwner, bool flushing)
{
    QObject::disconnect(socket, nullptr, formerOwner, nullptr);
    socket->setParent(QCoreApplication::instance());
    if (flushing && socket->isConnected() && socket->bytesToWrite() > 0) {
        disposeWhenFlushed(socket, &DirectSocket::disconnected);
        return;
    }
    // Closing the descriptor sends what the system took, then the end of the stream.
    socket->abort();
    dispose(socket);
}

void retire(QTcpServer* server, const QObject* formerOwner)
{
    QObject::disconnect(server, nullptr, formerOwner, nullptr);
    server->close();
    server->setParent(QCoreApplication::instance());
    dispose(server);
}

} // namespace DeferredDeletion
