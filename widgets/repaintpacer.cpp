#include "repaintpacer.h"

#include <QCoreApplication>
#include <QEvent>
#include <QWidget>

namespace skarnel {

namespace {

// A frame of a 60 Hz screen.
constexpr qint64 FrameMs = 16;

} // namespace

RepaintPacer::RepaintPacer(QWidget *window)
    : QObject(window)
    , window(window)
{
    frameEnd.setSingleShot(true);
    frameEnd.setTimerType(Qt::PreciseTimer);
    connect(&frameEnd, &QTimer::timeout, this, &RepaintPacer::redrawHeldBack);
    window->installEventFilter(this);
}

// The widgets of a window ask for a redraw by posting one UpdateRequest to it, and post no other
// until that one has been handled; the request held back is posted again at the frame's end.
bool RepaintPacer::eventFilter(QObject *watched, QEvent *event)
{
    if (watched != window || event->type() != QEvent::UpdateRequest)
        return false;
    if (released || !sinceRedraw.isValid() || sinceRedraw.elapsed() >= FrameMs) {
        released = false;
        frameEnd.stop();
        sinceRedraw.start();
        return false;
    }
    if (!frameEnd.isActive())
        frameEnd.start(int(FrameMs - sinceRedraw.elapsed()));
    return true;
}

void RepaintPacer::redrawHeldBack()
{
    released = true;
    QCoreApplication::postEvent(window, new QEvent(QEvent::UpdateRequest), Qt::LowEventPriority);
}

} // namespace skarnel
