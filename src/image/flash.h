#pragma once

// The flash image being filled by a reader: refuses bytes beyond the flash
// and bytes that overlap earlier ones with a different value.

#include "image/image.h"

#include <QString>

#include <bitset>
#include <cstdint>
#include <optional>
#include <span>

namespace modburn::image {

class FlashImage {
public:
    // Why the bytes cannot go at `address`, or nothing once they are placed.
    std::optional<QString> Put(std::uint64_t address, std::span<const std::uint8_t> bytes);

    bool Empty() const { return end_ == 0; }
    int End() const { return end_; }
    const std::array<std::uint8_t, FlashSize>& Bytes() const { return bytes_; }

private:
    std::array<std::uint8_t, FlashSize> bytes_{};
    std::bitset<FlashSize> held_;
    int end_ = 0;
};

// Each reader fills `flash` and says why it stopped short, if it did.
std::optional<QString> ReadRecords(QByteArrayView content, Format format, FlashImage& flash);
std::optional<QString> ReadElf(QByteArrayView content, FlashImage& flash);

}  // namespace modburn::image
