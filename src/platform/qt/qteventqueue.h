#pragma once

#include "platform/eventqueue.h"

namespace modburn {

class QtEventQueue : public IEventQueue {
public:
    void DoEvents() override;
    void WaitEvents() override;
};

}  // namespace modburn
