// The event queue that sends the pending frame before every yield.

#include "link/qt/qtlinkparts.h"

namespace modburn {

SendingEventQueue::SendingEventQueue(QtSocket& socket) : socket_(socket)
{
    socket_.SetSendPendingOnYield(true);
}

void SendingEventQueue::DoEvents()
{
    socket_.SendPending();
    events_.DoEvents();
}

void SendingEventQueue::WaitEvents()
{
    socket_.SendPending();
    events_.WaitEvents();
}

}  // namespace modburn
