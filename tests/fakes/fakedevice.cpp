// The simulated device fed byte by byte from a fake socket.

#include "fakedevice.h"

#include <algorithm>

namespace modburn::fake {

FakeDevice::FakeDevice(VirtualClock& clock, FakeSocket& socket, devsim::Options options)
    : device(std::move(options)), clock_(clock), socket_(socket)
{
    socket_.onByteSent = [this](std::uint8_t byte) { OnByte(byte); };
}

void FakeDevice::OnByte(std::uint8_t byte)
{
    if (connection_ != socket_.connectCalls) {
        connection_ = socket_.connectCalls;
        session_ = std::make_unique<devsim::Session>(device);
        busyUntil_ = 0;
    }
    const std::uint8_t bytes[] = {byte};
    for (const devsim::Action& action : session_->Feed(bytes)) {
        busyUntil_ = std::max(busyUntil_, clock_.Now()) + action.delayMs;
        const std::int64_t delay = busyUntil_ - clock_.Now();
        if (!action.bytes.empty())
            socket_.Deliver(action.bytes, delay);
        if (action.close)
            socket_.HangUp(delay);
    }
}

}  // namespace modburn::fake
