#pragma once

// The event queue on Qt: one pass, or a sleep until the next event.

#include "platform/eventqueue.h"

namespace modburn {

class QtEventQueue : public IEventQueue {
public:
    void DoEvents() override;
    void WaitEvents() override;
};

}  // namespace modburn
