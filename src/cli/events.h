#pragma once

// What a device run or a font operation reports as it goes: one event type
// for every renderer.

#include "run/run.h"

#include <QString>

#include <cstdint>
#include <optional>

namespace modburn::cli {

enum class EventKind {
    Start,     // the device's run (or the font operation) begins
    Status,    // the run wrote a status text; message holds it as designed
    Progress,  // the progress bar moved; page and percent
    Panel,     // the status bar's panel changed (serial and link errors)
    Caption,   // a font operation set its library's caption
    End,       // the device is done; verdict, locks, message say how
    Summary,   // the whole command is done (no device)
};

enum class Verdict {
    None,
    Programmed,   // every page accepted and the lock bytes as expected
    Failed,       // not programmed: a page refused, lock bytes wrong or missing; a font download not verified
    Error,        // a run-time error: unreachable, link dropped, image file...
    Stopped,      // the run was ended from outside
    GaveUp,       // --give-up-after ran out first
    Interrupted,  // Ctrl-C or SIGTERM
    Verified,     // font-download: every page acknowledged and the sums match
    Match,        // font-check: the device's sum is the one given
    Mismatch,     // font-check: it is not, or the device did not answer
    Reachable,    // --dry-run: the device took a connection, closed again unused
    Unreachable,  // --dry-run: it did not; the message says why
};

using Locks = run::Locks;

struct Event {
    EventKind kind = EventKind::Status;
    QString device;                  // the label; empty for the summary
    std::optional<run::Step> phase;  // Status events of a programming run
    std::optional<int> page;
    std::optional<int> percent;
    QString message;  // null when the event has none
    Verdict verdict = Verdict::None;
    std::optional<Locks> locks;
    std::int64_t elapsedMs = 0;  // since the device's start (the command's for the summary)
};

QString EventName(EventKind kind);
QString VerdictName(Verdict verdict);
// A few words for the progress line; "waiting" before the run's first step.
QString PhaseName(std::optional<run::Step> phase);

// A designed text on one line: its CR LF lines trimmed of blanks, empty ones
// dropped, the rest joined with " / ".
QString OneLine(const QString& designed);

// "AF DC CC": two hex digits each.
QString LocksText(const Locks& locks);

}  // namespace modburn::cli
