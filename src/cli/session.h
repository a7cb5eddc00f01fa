#pragma once

// One device's work for the console: the programming run or a font operation
// on the device's link, its events turned into console events and its end
// put into words. Everything here runs on the caller's thread.

#include "cli/events.h"
#include "cli/targets.h"

#include "link/link.h"
#include "link/runcontrol.h"
#include "platform/errors.h"
#include "platform/file.h"

#include <cstdint>
#include <functional>
#include <memory>

namespace modburn::cli {

// What a session works on, all made on and used by one thread.
struct SessionParts {
    Link& link;
    RunControl& control;
    IFileSystem& files;
    std::function<std::int64_t()> nowMs;  // a monotonic clock in milliseconds
};

using EventSink = std::function<void(const Event&)>;

class Session {
public:
    Session(SessionParts parts, Target target, EventSink sink);
    ~Session();

    Session(const Session&) = delete;
    Session& operator=(const Session&) = delete;

    // Loads the link defaults as the window does, runs the programming run
    // once with the image at `imagePath` and reports from start to end; a
    // link that closes under the run ends it at once. Returns the End event.
    Event Program(const QString& imagePath);
    // NAME.bin into pages first..last and the device's check of them; the
    // End event's verdict is Verified, Failed or Error (or Stopped).
    Event Download(const QString& name, std::int16_t first, std::int16_t last);
    // Whether pages first..last sum to `checksum`: Match, Mismatch or Error.
    Event Check(std::int32_t checksum, std::int16_t first, std::int16_t last);

    // Ends the work at its next yield (or keeps it from starting), as closing
    // the window does. The End event then says `reason` (Interrupted, GaveUp)
    // and how far the work got; a plain Stopped says "stopped". Call it on
    // the session's thread.
    void Stop(Verdict reason = Verdict::Stopped);

private:
    struct State;
    std::unique_ptr<State> s_;
};

// Words for a run-time error that ended a session. A link never seen
// connected makes the device unreachable; `bytesSent` says how far one got.
QString DescribeError(err::Number number, bool connected, std::int64_t bytesSent, const Target& target);

}  // namespace modburn::cli
