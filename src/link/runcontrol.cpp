// The owner's stop.

#include "link/runcontrol.h"

namespace modburn {

void RunControl::Stop()
{
    stopped_.store(true, std::memory_order_release);
    events_.Wake();
}

}  // namespace modburn
