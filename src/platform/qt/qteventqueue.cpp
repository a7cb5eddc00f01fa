// Yielding to the calling thread's Qt event loop.

#include "platform/qt/qteventqueue.h"

#include <QAbstractEventDispatcher>
#include <QCoreApplication>
#include <QEventLoop>

namespace modburn {

QtEventQueue::QtEventQueue() : dispatcher_(QAbstractEventDispatcher::instance()) {}

void QtEventQueue::DoEvents()
{
    QCoreApplication::processEvents(QEventLoop::AllEvents);
}

void QtEventQueue::WaitEvents()
{
    // Blocks in the event dispatcher until a timer, socket or window event comes.
    QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
}

void QtEventQueue::Wake()
{
    // Posted events are handled before the dispatcher sleeps, in the same
    // pass: a stop set by one would otherwise sleep until the next timer or
    // socket event. A wake-up makes that sleep, or the next, return at once.
    if (dispatcher_)
        dispatcher_->wakeUp();
}

}  // namespace modburn
