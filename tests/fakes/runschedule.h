#pragma once

// One fault model for whole programming runs, shared by the run property
// test and the run fuzzer: a schedule drawn from a source of decisions (a
// seeded generator, or the fuzzer's input), and the oracle that judges a
// run's verdict from the device's side, both ways.

#include "faultyline.h"

#include "device.h"

#include <QString>

#include <cstdint>
#include <map>
#include <random>
#include <string>
#include <vector>

namespace modburn::fake {

// Where a schedule's decisions come from.
class Decisions {
public:
    virtual ~Decisions() = default;
    virtual bool Chance(double p) = 0;
    virtual int Between(int lo, int hi) = 0;  // inclusive
    virtual double Rate(double most) = 0;     // 0..most
    virtual std::uint64_t Seed() = 0;
};

// Decisions from a seeded generator: the same seed, the same schedule.
class SeededDecisions : public Decisions {
public:
    explicit SeededDecisions(std::uint64_t seed) : rng_(seed) {}
    bool Chance(double p) override { return std::uniform_real_distribution<double>(0, 1)(rng_) < p; }
    int Between(int lo, int hi) override { return std::uniform_int_distribution<int>(lo, hi)(rng_); }
    double Rate(double most) override { return std::uniform_real_distribution<double>(0, most)(rng_); }
    std::uint64_t Seed() override { return rng_(); }

private:
    std::mt19937_64 rng_;
};

// Within the model, a reply comes within two time-outs of its frame or never,
// replies come in order, and the device answers each frame once.
struct RunSchedule {
    std::vector<std::uint8_t> image;
    devsim::Options device;
    LineFaults line;
    std::map<int, FrameScript> script;
    std::uint64_t lineSeed = 0;

    explicit RunSchedule(Decisions& decide);
};

// What a run showed, as its caller saw it.
struct RunSeen {
    QString statusText;
    bool outcomeProgrammed = false;
    bool outcomeStopped = false;
    bool hung = false;  // the fake event queue found a wait that never ends
    std::int64_t elapsedMs = 0;
};

// Empty when the run kept its promise; otherwise which promise it broke.
// A run may call a module programmed only when the device holds the whole
// zero-padded image, refused nothing and sent AF DC CC after page 127; and it
// must call it programmed whenever that holds and the lock bytes reached the
// tool, whatever was lost or late on the way, with one exception that the
// run cannot help: garbage that answers a short frame, since any byte does.
std::string BrokenPromise(const RunSchedule& schedule, const FaultyLine& line, const RunSeen& seen);

}  // namespace modburn::fake
