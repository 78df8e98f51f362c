#include "EventPump.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QTimer>

void LetPendingEventsRun()
{
    QCoreApplication::processEvents(QEventLoop::AllEvents);
}

void LetEventsRunFor(std::chrono::milliseconds duration)
{
    // A local loop rather than a sleep: socket events arriving during the pause run at once.
    QEventLoop loop;
    QTimer::singleShot(duration, &loop, &QEventLoop::quit);
    loop.exec();
}
