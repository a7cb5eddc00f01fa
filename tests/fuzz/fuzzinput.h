#pragma once

// What every harness shares: reading a fuzz input as a stream of small
// decisions, a deterministic filler for bulk bytes, and a check that stops
// the process so libFuzzer (or the replay) reports the input.

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <vector>

namespace modburn::fuzz {

[[noreturn]] inline void Fail(const char* file, int line, const char* condition, const char* what)
{
    std::fprintf(stderr, "%s:%d: check failed: %s\n  %s\n", file, line, condition, what);
    std::fflush(stderr);
    std::abort();
}

// Known findings are passed over, so that fuzzing goes on past them, unless
// MODBURN_FUZZ_STRICT is set in the environment: then their reproducers fail.
inline bool Strict()
{
    static const bool strict = std::getenv("MODBURN_FUZZ_STRICT") != nullptr;
    return strict;
}

// Reads the input front to back; once it runs out every read gives zero, so
// any input, however short, decodes to something.
class Input {
public:
    Input(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}

    bool Empty() const { return pos_ >= size_; }
    std::size_t Left() const { return size_ - pos_; }

    std::uint8_t Byte() { return pos_ < size_ ? data_[pos_++] : 0; }
    // Little-endian; each read in its own statement, as operand order is unspecified.
    std::uint16_t U16()
    {
        const unsigned low = Byte();
        return static_cast<std::uint16_t>(low | unsigned{Byte()} << 8);
    }
    std::uint32_t U32()
    {
        const std::uint32_t low = U16();
        return low | std::uint32_t{U16()} << 16;
    }
    std::uint64_t U64()
    {
        const std::uint64_t low = U32();
        return low | std::uint64_t{U32()} << 32;
    }
    bool Bit() { return (Byte() & 1) != 0; }

    // lo..hi inclusive; reads as few bytes as the span needs.
    int Range(int lo, int hi)
    {
        const auto span = static_cast<std::uint32_t>(hi - lo) + 1;
        const std::uint32_t raw = span <= 0x100 ? Byte() : span <= 0x10000 ? U16() : U32();
        return lo + static_cast<int>(raw % span);
    }

    // Up to `n` bytes, fewer when the input ends first.
    std::vector<std::uint8_t> Bytes(std::size_t n)
    {
        const std::size_t take = n < Left() ? n : Left();
        std::vector<std::uint8_t> out(data_ + pos_, data_ + pos_ + take);
        pos_ += take;
        return out;
    }
    // Everything not read yet.
    std::vector<std::uint8_t> Rest() { return Bytes(Left()); }

private:
    const std::uint8_t* data_;
    std::size_t size_;
    std::size_t pos_ = 0;
};

// A small deterministic generator for bulk bytes (images, font files, piece
// sizes) that would cost the fuzzer too much input to spell out.
class Filler {
public:
    explicit Filler(std::uint64_t seed) : state_(seed) {}

    std::uint64_t Next()
    {
        // splitmix64
        std::uint64_t z = (state_ += 0x9E3779B97F4A7C15ULL);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
        return z ^ (z >> 31);
    }
    std::vector<std::uint8_t> Bytes(std::size_t n)
    {
        std::vector<std::uint8_t> out(n);
        for (auto& b : out)
            b = static_cast<std::uint8_t>(Next());
        return out;
    }

private:
    std::uint64_t state_;
};

}  // namespace modburn::fuzz

#define FUZZ_CHECK(condition, what)                                                                                    \
    do {                                                                                                               \
        if (!(condition))                                                                                              \
            ::modburn::fuzz::Fail(__FILE__, __LINE__, #condition, (what));                                             \
    } while (false)
