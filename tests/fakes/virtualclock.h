#pragma once

// Virtual time for the deterministic tests.

#include <cstdint>
#include <functional>
#include <map>
#include <utility>

namespace modburn::fake {

// Virtual milliseconds and the events due at them. Nothing here reads a real
// clock: a test runs hours of waiting in microseconds.
class VirtualClock {
public:
    using EventId = std::uint64_t;

    std::int64_t Now() const { return now_; }

    EventId Schedule(std::int64_t at, std::function<void()> action);
    EventId After(std::int64_t delayMs, std::function<void()> action)
    {
        return Schedule(now_ + delayMs, std::move(action));
    }
    // Runs at the next RunDue rather than in the one now running, as a zero
    // timer of a real event loop fires once per pass.
    EventId NextPass(std::function<void()> action);
    void Cancel(EventId id);
    bool Pending() const { return !events_.empty() || !nextPass_.empty(); }

    // Runs every event due by now, including those scheduled while running.
    // Returns whether any ran.
    bool RunDue();
    // Moves time to the earliest event and runs what is due then.
    // Returns false when nothing is scheduled.
    bool AdvanceToNext();
    // Moves time forward to `at`, running everything due on the way.
    void AdvanceTo(std::int64_t at);

private:
    struct Key {
        std::int64_t at;
        EventId id;
        bool operator<(const Key& other) const { return at != other.at ? at < other.at : id < other.id; }
    };
    std::int64_t now_ = 0;
    EventId next_ = 1;
    std::map<Key, std::function<void()>> events_;
    std::map<EventId, std::int64_t> when_;
    std::map<EventId, std::function<void()>> nextPass_;
};

}  // namespace modburn::fake
