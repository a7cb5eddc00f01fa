// The event queue that sends the pending frame before every yield.

#include "link/qt/qtlinkparts.h"

#include "link/qt/qtdevice.h"

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

namespace modburn {

QtDevice::QtDevice() : parts_(std::make_unique<QtLinkParts>())
{
    // What a window does when it loads: runs allowed, timers running.
    LoadLink(parts_->link, parts_->control);
}

QtDevice::~QtDevice() = default;

Link& QtDevice::link()
{
    return parts_->link;
}

RunControl& QtDevice::control()
{
    return parts_->control;
}

}  // namespace modburn
