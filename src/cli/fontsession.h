#pragma once

// A font library operation for the console: the link opened as a run opens
// it, then the font code's download or check, with its captions, progress and
// status-bar reports as events and its result put into words.

#include "cli/events.h"
#include "cli/parts.h"
#include "cli/targets.h"

#include <cstdint>
#include <memory>

namespace modburn::cli {

class FontSession {
public:
    FontSession(SessionParts parts, Target target, EventSink sink);
    ~FontSession();

    FontSession(const FontSession&) = delete;
    FontSession& operator=(const FontSession&) = delete;

    // NAME.bin into pages first..last and the device's check of them; the
    // End event's verdict is Verified, Failed or Error (or Stopped).
    Event Download(const QString& name, std::int16_t first, std::int16_t last);
    // Whether pages first..last sum to `checksum`: Match, Mismatch or Error.
    Event Check(std::int32_t checksum, std::int16_t first, std::int16_t last);

    // Ends the operation at its next yield. Call it on the session's thread.
    void Stop();

private:
    struct State;
    std::unique_ptr<State> s_;
};

}  // namespace modburn::cli
