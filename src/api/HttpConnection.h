#pragma once

#include <chrono>
#include <memory>
#include <string>

#include <QByteArray>
#include <QObject>
#include <QTimer>

#include "ByteBudget.h"
#include "HttpRequestParser.h"
#include "HttpServer.h"

class QTcpSocket;

// One client of the HTTP server. Requests are read one at a time: the next is not read before
// the answer to this one is out but for a slice, so a client that sends and never reads is held
// back by TCP. Every phase has its time-out.
class HttpConnection final : public QObject {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(HttpConnection)
public:
    HttpConnection(QTcpSocket* socket, HttpServer& server);
    ~HttpConnection() override;

    // Waiting for (the rest of) a request, or closing: not serving one; and when its client last sent.
    bool evictable() const;
    std::chrono::steady_clock::time_point lastInput() const { return m_lastInput; }
    // Closes at once, answering nothing.
    void close();

    // The answer to the request being served (HttpResponder's means).
    void answer(int status, const HttpFields& fields, const QByteArray& contentType, QByteArray body);
    void answerShared(const HttpFields& fields, const QByteArray& contentType,
                      const std::shared_ptr<const std::string>& body);
    QTcpSocket* takeSocket(const HttpFields& fields);
    // Fields every answer to the current request carries (the CORS grant).
    void setCommonFields(HttpFields fields) { m_commonFields = std::move(fields); }

signals:
    // The client went or the connection was closed; the object goes once control is back in
    // the event loop.
    void closed();

private:
    enum class Phase { Reading, Serving, Writing, Lingering, Closed };

    void readRequests();
    bool admitBody();
    void serve();
    void refuse(int status, const char* text);
    void writeHead(int status, const HttpFields& fields, const QByteArray& contentType, qint64 length);
    void pump();
    void timedOut();
    void finish();

    QTcpSocket* m_socket;
    HttpServer& m_server;
    HttpRequestParser m_parser;
    Phase m_phase = Phase::Reading;
    bool m_keepAlive = true;
    bool m_bodyAdmitted = false;
    bool m_linger = false;
    bool m_finished = false;
    ByteCharge m_requestCharge;
    ByteCharge m_answerCharge;
    HttpFields m_commonFields;
    // The answer's body still to be queued: owned, or the store's (never kept alive here).
    QByteArray m_body;
    std::weak_ptr<const std::string> m_shared;
    qint64 m_offset = 0;
    qint64 m_length = 0;
    QTimer m_timer;
    std::chrono::steady_clock::time_point m_lastInput = std::chrono::steady_clock::now();
};
