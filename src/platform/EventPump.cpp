#include "EventPump.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QTimer>

void letPendingEventsRun()
{
    QCoreApplication::processEvents(QEventLoop::AllEvents);
}

void letEventsRunFor(std::chrono::milliseconds duration)
{
    // A local loop rather than a sleep: socket events arriving during the pause run at once.
    QEventLoop loop;
    QTimer::singleShot(duration, &loop, &QEventLoop::quit);
    loop.exec();
}
