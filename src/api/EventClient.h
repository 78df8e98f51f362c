#pragma once

#include <string>
#include <string_view>

#include <QObject>
#include <QTimer>

#include "WebSocketFrames.h"

struct HttpRequest;
class HttpResponder;
class QTcpSocket;

// Bounds of an event client: what it may send in one message, and how much of what it is sent
// may wait unread before it is closed.
inline constexpr std::size_t MaxEventMessageBytes = std::size_t{4} * 1024;
inline constexpr qint64 MaxEventQueueBytes = qint64{256} * 1024;

// Answers a WebSocket opening handshake (RFC 6455 4.2); the socket, or null with a refusal sent.
QTcpSocket* acceptWebSocket(const HttpRequest& request, HttpResponder& responder);

// One client of the event stream: the server writes frames; the client's own are answered
// (ping, close) or dropped. A client that does not read is not read either, and is closed once
// its unread events pass the bound.
class EventClient final : public QObject {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(EventClient)
public:
    EventClient(QTcpSocket* socket, QObject* parent);
    ~EventClient() override;

    // Whole frames, made once for every client.
    void send(std::string_view frames);

signals:
    // The client went or was closed; the object goes once control is back in the event loop.
    void closed();

private:
    void readFrames();
    void closeWith(std::uint16_t code);
    void finish();

    QTcpSocket* m_socket;
    WebSocketFrames::Reader m_reader{MaxEventMessageBytes};
    bool m_closing = false;
    bool m_finished = false;
    QTimer m_closeTimer;
};
