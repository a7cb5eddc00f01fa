#pragma once

// One device's link on Qt's parts: the two sockets, the two timers, the event
// queue, the run control and the link over them. Everything is made on, and
// used by, the one thread that makes the holder.

#include "link/link.h"
#include "link/runcontrol.h"
#include "platform/qt/qteventqueue.h"
#include "platform/qt/qtsocket.h"
#include "platform/qt/qttimer.h"

namespace modburn {

// The thread's event queue, which first hands the frame just sent to the
// system: the link yields right after a frame, so it goes out in one write
// without a wake-up of its own.
class SendingEventQueue : public IEventQueue {
public:
    explicit SendingEventQueue(QtSocket& socket);

    void DoEvents() override;
    void WaitEvents() override;
    void Wake() override { events_.Wake(); }

private:
    QtSocket& socket_;
    QtEventQueue events_;
};

struct QtLinkParts {
    QtSocket tcp{QtSocket::Protocol::Tcp};
    // Never connected; the link discards whatever arrives on it.
    QtSocket udp{QtSocket::Protocol::Udp};
    QtTimer timer1;
    QtTimer timer4;
    SendingEventQueue events{tcp};
    RunControl control{events};
    Link link{tcp, udp, timer1, timer4, events, control};
};

}  // namespace modburn
