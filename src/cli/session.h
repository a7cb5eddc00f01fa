#pragma once

// One device's job for the console: the programming run or a font operation
// on the device's link, its events turned into console events and its end
// put into words. Everything here runs on the caller's thread.

#include "cli/events.h"
#include "cli/targets.h"

#include "link/runcontrol.h"
#include "platform/file.h"

#include <cstdint>
#include <functional>
#include <memory>

namespace modburn {
class Link;
}

namespace modburn::cli {

// What a device is to do.
struct Job {
    enum class Kind { Program, Reach, FontDownload, FontCheck };  // Reach: program's --dry-run
    Kind kind = Kind::Program;
    QString imagePath;          // program: the image file, as the run names it
    QByteArray image;           // program: the flash bytes read from it, sent in its place
    QString fontName;           // font-download: NAME as given
    std::int32_t checksum = 0;  // font-check
    std::int16_t firstPage = 0;
    std::int16_t lastPage = 0;
};

// What a session works on, all made on and used by one thread, the link
// loaded as the window loads it.
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

    // Opens the link and does the job, reporting from start to end; a link that closes under it ends
    // it at once. The End event's verdict is Programmed, Failed or Error for
    // a run, Reachable or Unreachable for a reach, Verified, Failed or Error
    // for a download, Match, Mismatch or Error for a check, and Stopped,
    // saying how far it got, when the control was stopped. Returns the End event.
    Event Perform(const Job& job);

private:
    struct State;
    std::unique_ptr<State> s_;
};

}  // namespace modburn::cli
