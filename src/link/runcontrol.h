#pragma once

// What the owner of a link decides about the operations on it: whether a run
// may go on (Exit clears it), the one-operation hold, whether a dropped link
// ends the operation at once, and the owner's stop, which ends every wait at
// once from any thread.

#include "platform/eventqueue.h"

#include <atomic>

namespace modburn {

class RunControl {
public:
    // `events` is the queue the link's waits sleep on; a stop wakes it.
    explicit RunControl(IEventQueue& events) : events_(events) {}

    RunControl(const RunControl&) = delete;
    RunControl& operator=(const RunControl&) = delete;

    // Exit clears it; the run's loops look at it where they are meant to.
    void SetRunEnable(bool enabled) { runEnable_ = enabled; }
    bool RunEnabled() const { return runEnable_; }

    // One operation at a time: a run or a font operation holds the link from
    // its start to its end, so two never share the buffers and the timers.
    // False when another operation holds it already.
    [[nodiscard]] bool TryHold()
    {
        if (held_)
            return false;
        held_ = true;
        return true;
    }
    void Release() { held_ = false; }
    bool Held() const { return held_; }

    // The window waits out its time-outs on a link that closed under it, as
    // designed; an owner that wants to hear of it at once says so here.
    void SetEndOnDroppedLink(bool end) { endOnDroppedLink_ = end; }
    bool EndOnDroppedLink() const { return endOnDroppedLink_; }

    // From any thread: the operation on the link, and every later one, ends
    // at its wait, now rather than at the wait's next event. The flag is set
    // before the queue is woken, so a wait that wakes always sees it.
    void Stop();
    bool Stopped() const { return stopped_.load(std::memory_order_acquire); }

private:
    IEventQueue& events_;
    std::atomic<bool> stopped_{false};
    bool runEnable_ = false;
    bool held_ = false;
    bool endOnDroppedLink_ = false;
};

// Holds the link for as long as it lives, if no other operation does.
class LinkHold {
public:
    explicit LinkHold(RunControl& control) : control_(control), held_(control.TryHold()) {}
    ~LinkHold()
    {
        if (held_)
            control_.Release();
    }
    LinkHold(const LinkHold&) = delete;
    LinkHold& operator=(const LinkHold&) = delete;

    bool Held() const { return held_; }

private:
    RunControl& control_;
    bool held_;
};

}  // namespace modburn
