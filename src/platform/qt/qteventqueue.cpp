// Yielding to the calling thread's Qt event loop.

#include "platform/qt/qteventqueue.h"

#include <QCoreApplication>
#include <QEventLoop>

namespace modburn {

void QtEventQueue::DoEvents()
{
    QCoreApplication::processEvents(QEventLoop::AllEvents);
}

void QtEventQueue::WaitEvents()
{
    // Blocks in the event dispatcher until a timer, socket or window event comes.
    QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
}

}  // namespace modburn
