#pragma once

// One device's programming run for the console: the window's run on the
// given platform parts, its status texts and progress turned into events, and
// its outcome put into words. Everything here runs on the caller's thread.

#include "cli/events.h"
#include "cli/parts.h"
#include "cli/targets.h"

#include <memory>

namespace modburn::cli {

class DeviceSession {
public:
    DeviceSession(SessionParts parts, Target target, EventSink sink);
    ~DeviceSession();

    DeviceSession(const DeviceSession&) = delete;
    DeviceSession& operator=(const DeviceSession&) = delete;

    // Loads the link defaults as the window does, runs the programming run
    // once and reports from start to end; returns the End event.
    Event Run();
    // Ends the run at its next yield (or keeps it from starting), as closing
    // the window does. Call it on the session's thread.
    void Stop();

private:
    struct State;
    std::unique_ptr<State> s_;
};

}  // namespace modburn::cli
