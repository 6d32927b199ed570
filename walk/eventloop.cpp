#include "eventloop.h"

#include "stopflag.h"

#include <QCoreApplication>
#include <QEventLoop>

void yieldToEventLoop()
{
    QCoreApplication::processEvents(QEventLoop::AllEvents);
}

void sleepUntilNextEvent()
{
    QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
}

bool waitUntilDoneOrStopped(const std::function<bool()> &done, const StopFlag &stop)
{
    while (!done() && !stop.isRequested())
        sleepUntilNextEvent();
    return done();
}
