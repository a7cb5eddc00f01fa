#pragma once

// The simulated device behind a fake socket, on the virtual clock.

#include "fakeplatform.h"

#include "device.h"

#include <memory>

namespace modburn::fake {

// The simulated device behind a fake socket: every byte the link sends goes
// to a device session, and its replies arrive on the virtual clock.
class FakeDevice {
public:
    FakeDevice(VirtualClock& clock, FakeSocket& socket, devsim::Options options = {});

    devsim::Device device;

private:
    void OnByte(std::uint8_t byte);

    VirtualClock& clock_;
    FakeSocket& socket_;
    int connection_ = -1;
    std::unique_ptr<devsim::Session> session_;
    std::int64_t busyUntil_ = 0;  // replies of one connection go out in order
};

}  // namespace modburn::fake
