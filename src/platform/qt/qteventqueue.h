#pragma once

// The event queue on Qt: one pass, or a sleep until the next event.

#include "platform/eventqueue.h"

class QAbstractEventDispatcher;

namespace modburn {

// The queue of the thread that makes it; use it on that thread, but Wake
// from any.
class QtEventQueue : public IEventQueue {
public:
    QtEventQueue();

    void DoEvents() override;
    void WaitEvents() override;
    void Wake() override;

private:
    QAbstractEventDispatcher* dispatcher_;
};

}  // namespace modburn
