#pragma once

#include <memory>

#include <QObject>

class QSocketNotifier;

// SIGTERM and SIGINT as a Qt signal. The handler only writes a byte to a socket pair; the event
// loop reads it and emits requested(), so nothing runs inside the signal handler itself.
class TerminationSignals : public QObject {
    Q_OBJECT
public:
    explicit TerminationSignals(QObject* parent = nullptr);
    ~TerminationSignals() override;

signals:
    void requested(int signalNumber);

private:
    std::unique_ptr<QSocketNotifier> m_notifier;
};
