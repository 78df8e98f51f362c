#pragma once

#include <chrono>
#include <memory>

#include <QObject>

class QSocketNotifier;

// SIGTERM and SIGINT as a Qt signal. The handler only writes a byte to a socket pair; the event
// loop reads it and emits requested(), so nothing runs inside the signal handler itself. Should
// the program not have ended forcedEndDelay after the first signal (the event loop busy with a
// long piece of work), it ends then, with exit code 0 all the same.
class TerminationSignals final : public QObject {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(TerminationSignals)
public:
    static constexpr std::chrono::seconds DefaultForcedEndDelay{3};

    explicit TerminationSignals(std::chrono::seconds forcedEndDelay = DefaultForcedEndDelay, QObject* parent = nullptr);
    ~TerminationSignals() override;

signals:
    void requested(int signalNumber);

private:
    std::unique_ptr<QSocketNotifier> m_notifier;
};
