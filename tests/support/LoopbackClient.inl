#pragma once

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QThread>

template <class Done>
bool WaitFor(Done done, int timeoutMs)
{
    QDeadlineTimer deadline(timeoutMs);
    while (!done()) {
        if (deadline.hasExpired())
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents, 5);
    }
    return true;
}
