#pragma once

// One window's worth of fake link parts, shared by the link, run and font tests.

#include "fakeplatform.h"

#include "link/link.h"

namespace modburn::fake {

// A window's worth of link parts on one virtual clock, the common ground of
// the link, run and font tests.
struct FakeLinkParts {
    VirtualClock clock;
    FakeEventQueue events{clock};
    FakeSocket tcp{clock};
    FakeSocket udp{clock};
    FakeTimer timer1{clock};
    FakeTimer timer4{clock};
    RunControl control{events};
    Link link{tcp, udp, timer1, timer4, events, control};
};

}  // namespace modburn::fake
