#pragma once

#include <QTcpServer>

// Hands the HTTP server sockets that refuse a request growing past a bound before it is
// read whole: the HTTP server keeps a request body in memory until it ends.
class BoundedTcpServer : public QTcpServer {
    Q_OBJECT
public:
    BoundedTcpServer(qint64 maxRequestBytes, QObject* parent = nullptr);

protected:
    void incomingConnection(qintptr descriptor) override;

private:
    qint64 m_maxRequestBytes;
};
