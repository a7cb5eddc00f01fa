#pragma once

// The preflight: whether a device takes a TCP connection, learnt without
// sending it a byte, on the same link and connect wait as a run.

#include "link/operationparts.h"
#include "platform/errors.h"
#include "platform/socket.h"

#include <QString>

namespace modburn::run {

enum class ReachEnding {
    Busy,            // another operation holds the link: nothing was tried
    Reachable,       // the connection came up, and was closed again
    Unreachable,     // it did not: `failure` says why, or (Why::None) the connect wait ran out
    BadPort,         // the port text is not a whole number from 1 to 65535
    StoppedByOwner,  // the owner stopped the control
    Error,           // another run-time error: `error`
};

struct ReachOutcome {
    ReachEnding ending = ReachEnding::Busy;
    ConnectFailure failure;
    err::Number error = err::None;  // the run-time error behind the ending, if there was one
};

// Connects to the trimmed address and port and closes again; the link is
// held meanwhile, as by a run. Nothing escapes it.
ReachOutcome Reach(OperationParts parts, const QString& address, const QString& port);

}  // namespace modburn::run
