#pragma once

// The event queue that every wait yields to.

namespace modburn {

// The window's event queue, seen from code that waits on it.
class IEventQueue {
public:
    virtual ~IEventQueue() = default;

    // Handles whatever is pending and returns at once; never blocks.
    virtual void DoEvents() = 0;
    // Sleeps until at least one event arrives, then handles what is pending.
    // Waits are loops of this, so a waiting program uses no CPU.
    virtual void WaitEvents() = 0;
    // From any thread, a handler of this queue's included: the current
    // WaitEvents returns without sleeping again, or the next one does.
    virtual void Wake() = 0;
};

}  // namespace modburn
