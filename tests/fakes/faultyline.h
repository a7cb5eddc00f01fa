#pragma once

// The simulated device behind a line that loses, delays, splits and bunches
// what passes, by chance or by script: the ground for the property tests and
// for regression cases of faults that combine.

#include "fakeplatform.h"

#include "device.h"

#include <cstdint>
#include <map>
#include <memory>
#include <random>
#include <vector>

namespace modburn::fake {

// Chances, per frame, of what can go wrong on the way. All zero: a clean line.
struct LineFaults {
    double frameLost = 0;           // the device never gets the frame
    double replyLost = 0;           // the device answers, the answer never arrives
    double replyLate = 0;           // the answer comes after the frame's time-out, whole within twice it
    double replySlow = 0;           // the answer comes after some delay within the time-out
    double replyAtTimeOut = 0;      // the answer comes in the very pass its time-out falls
    double replySplit = 0;          // the answer arrives a byte at a time
    double garbageAtConnect = 0;    // random bytes arrive as the link comes up, before any frame
    double garbageInHandshake = 0;  // random bytes arrive just after the first frame, before its answer
};

// One frame's fate, set by a test; overrides chance for that frame.
struct FrameScript {
    bool lost = false;
    bool replyLost = false;
    int extraDelayMs = 0;             // added to every reply of the frame
    std::vector<std::uint8_t> reply;  // when not empty: sent instead of the device's first reply
};

class FaultyLine {
public:
    FaultyLine(VirtualClock& clock, FakeSocket& socket, devsim::Options options, LineFaults faults = {},
               std::uint64_t seed = 0);

    // Frames are numbered from 1 in the order the line carries them, all connections together.
    std::map<int, FrameScript> script;

    devsim::Device device;
    int framesCarried = 0;
    int framesLost = 0;
    int repliesLost = 0;
    int repliesLate = 0;
    bool hungUp = false;  // the device closed the link
    // Page 127 accepted, and the reply with its lock bytes on its way to the tool.
    int lastPageAcceptancesDelivered = 0;
    // Bytes that are no reply arrived where a reply was awaited.
    bool garbageAnsweredAFrame = false;

private:
    void OnByte(std::uint8_t byte);
    void OnConnect();
    std::vector<std::uint8_t> Garbage();
    void Flush();
    // Returns how much later than `delayMs` the last byte arrives.
    std::int64_t Send(std::vector<std::uint8_t> bytes, std::int64_t delayMs, bool split);
    bool Chance(double p);
    static int TimeOutOf(const std::vector<std::uint8_t>& frame);
    static bool IsLastModulePage(const std::vector<std::uint8_t>& frame);

    VirtualClock& clock_;
    FakeSocket& socket_;
    LineFaults faults_;
    std::mt19937_64 rng_;
    int connection_ = -1;
    std::unique_ptr<devsim::Session> session_;
    std::vector<std::uint8_t> pending_;
    bool flushScheduled_ = false;
    std::int64_t busyUntil_ = 0;  // answers of one connection arrive in order
};

}  // namespace modburn::fake
