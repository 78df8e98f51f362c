#pragma once

class DirectSocket;
class QObject;
class QTcpServer;
class QTcpSocket;

// Deleting a Qt socket inside its own signal pulls it out from under Qt's code, and a nested
// event loop can run a deferred deletion inside such a frame too. So the socket component marks
// an object in use while it handles its signal, and an object given up meanwhile is deleted only
// once the last such frame has been left.
namespace DeferredDeletion {

// Marks the object in use for the lifetime of the guard.
class InUse {
public:
    explicit InUse(QObject* object);
    ~InUse();
    InUse(const InUse&) = delete;
    InUse& operator=(const InUse&) = delete;

private:
    QObject* m_object;
};

// Deletes the object later, once no frame uses it.
void dispose(QObject* object);

// A socket no longer wanted finishes on its own: the bytes already queued still go out, then it
// closes and deletes itself; one that cannot finish in time is cut off. Unless flushing is
// wanted, the descriptor goes at once: what the system took now is sent, the rest dropped.
void retire(QTcpSocket* socket, const QObject* formerOwner, bool flushing = true);
void retire(DirectSocket* socket, const QObject* formerOwner, bool flushing = true);
// A listener no longer wanted stops listening and is deleted once no frame uses it.
void retire(QTcpServer* server, const QObject* formerOwner);

} // namespace DeferredDeletion
