#pragma once

// A built frame as the bytes that go on the wire, for tests.

#include "frame/frame.h"

#include <cstdint>
#include <stdexcept>
#include <vector>

namespace modburn {

// The first `length` elements of `buf`; an element that is no byte is a
// fault in the frame's builder and throws.
inline std::vector<std::uint8_t> WireBytes(const frame::SendBuffer& buf, int length)
{
    std::vector<std::uint8_t> wire;
    for (int i = 0; i < length; ++i) {
        const std::int16_t element = buf.at(static_cast<std::size_t>(i));
        if (element < 0 || element > 0xFF)
            throw std::range_error("a frame element is not a byte");
        wire.push_back(static_cast<std::uint8_t>(element));
    }
    return wire;
}

}  // namespace modburn
