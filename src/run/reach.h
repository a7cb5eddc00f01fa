#pragma once

// The preflight: whether a device takes a TCP connection, learnt without
// sending it a byte, on the same link and connect wait as a run.

#include "link/operationparts.h"
#include "platform/errors.h"

#include <QString>

namespace modburn::run {

enum class ReachEnding {
    Busy,            // another operation holds the link: nothing was tried
    Reachable,       // the connection came up, and was closed again
    Refused,         // the device's host refused it
    HostNotFound,    // the name did not resolve
    NoConnection,    // not connected by the end of the connect wait
    Failed,          // the system gave another reason: `words`
    BadPort,         // the port text is not a whole number from 1 to 65535
    StoppedByOwner,  // the owner stopped the control
    Error,           // another run-time error: `error`
};

struct ReachOutcome {
    ReachEnding ending = ReachEnding::Busy;
    QString words;                  // the system's, for Failed
    err::Number error = err::None;  // the run-time error behind the ending, if there was one
};

// Connects to the trimmed address and port and closes again; the link is
// held meanwhile, as by a run. Nothing escapes it.
ReachOutcome Reach(OperationParts parts, const QString& address, const QString& port);

}  // namespace modburn::run
