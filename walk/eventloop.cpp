#include "eventloop.h"

#include "stopflag.h"

#include <QCoreApplication>
#include <QEventLoop>

namespace skarnel {

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

} // namespace skarnel
