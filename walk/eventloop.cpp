#include "eventloop.h"

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
