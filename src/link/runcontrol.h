#pragma once

// What the owner of a link decides about the operations on it: whether a run
// may go on (Exit clears it), the one-operation hold, and the owner's end,
// which ends every wait at once.

#include "platform/errors.h"

namespace modburn {

class RunControl {
public:
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

    // Every wait, now or later, ends by raising RuntimeError(reason) so that
    // its caller unwinds: the window has closed, or a caller gave up on a
    // link that closed under it.
    void Shutdown(err::Number reason = err::WindowClosed)
    {
        if (reason_ == err::None)
            reason_ = reason;
    }
    bool IsShutDown() const { return reason_ != err::None; }
    err::Number ShutdownReason() const { return reason_; }

private:
    bool runEnable_ = false;
    bool held_ = false;
    err::Number reason_ = err::None;
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
